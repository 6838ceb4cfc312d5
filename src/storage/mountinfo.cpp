// A mountinfo line:
//   36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue
//   id parent major:minor root mount-point options [optional...] - type source super-options

#include "storage/mountinfo.h"

#include <stdlib.h>
#include <string.h>

// The next space-separated field of *s, terminated in place, or NULL.
static char *next_field(char **s) {
  char *p = *s;
  while (*p == ' ') p++;
  if (!*p) return NULL;
  char *start = p;
  while (*p && *p != ' ') p++;
  if (*p) *p++ = '\0';
  *s = p;
  return start;
}

// Decodes \NNN (three octal digits) escapes in place.
static void unescape(char *s) {
  char *out = s;
  for (char *in = s; *in;) {
    if (in[0] == '\\' && in[1] >= '0' && in[1] <= '3' && in[2] >= '0' &&
        in[2] <= '7' && in[3] >= '0' && in[3] <= '7') {
      *out++ = (char)((in[1] - '0') * 64 + (in[2] - '0') * 8 + (in[3] - '0'));
      in += 4;
    } else {
      *out++ = *in++;
    }
  }
  *out = '\0';
}

// Copies an escaped field into dst; 0 when it does not fit.
static int take(char *dst, size_t cap, char *field) {
  unescape(field);
  size_t n = strlen(field);
  if (n >= cap) return 0;
  memcpy(dst, field, n + 1);
  return 1;
}

// Whether the comma-separated options begin with "ro": the kernel writes
// "ro" or "rw" first, for the mount and for the file system alike.
static int first_is_ro(const char *list) {
  return list[0] == 'r' && list[1] == 'o' && (list[2] == ',' || list[2] == '\0');
}

// Whether the options hold "emergency_ro" whole, wherever the file system
// writes it. Every line of the table is read: one search, no pass of our
// own over each byte.
static int has_emergency_ro(const char *list) {
  static const char name[] = "emergency_ro";
  const size_t n = sizeof name - 1;
  for (const char *p = strstr(list, name); p; p = strstr(p + 1, name))
    if ((p == list || p[-1] == ',') && (p[n] == ',' || p[n] == '\0')) return 1;
  return 0;
}

int parse_mountinfo_line(char *line, drive_row *row) {
  memset(row, 0, sizeof *row);
  row->kind = DRIVE_MOUNT_TABLE;
  char *s = line;
  char *id = next_field(&s);
  char *parent = next_field(&s);
  char *devno = next_field(&s);
  char *root = next_field(&s);
  char *mount = next_field(&s);
  char *options = next_field(&s);
  if (!id || !parent || !devno || !root || !mount || !options) return 0;
  char *f;
  while ((f = next_field(&s)) && strcmp(f, "-") != 0) {
  }
  if (!f) return 0;
  char *fstype = next_field(&s);
  char *source = next_field(&s);
  if (!fstype || !source) return 0;
  // The file system's own options, which the mount's may hide: a file
  // system the kernel has stopped writing to after an error still shows
  // its mount "rw".
  char *super = next_field(&s);
  if (super) {
    row->super_ro = first_is_ro(super);
    row->emergency_ro = has_emergency_ro(super);
  }
  row->mount_ro = first_is_ro(options);

  char *end;
  unsigned long major = strtoul(devno, &end, 10);
  if (end == devno || *end != ':') return 0;
  char *minor_start = end + 1;
  unsigned long minor = strtoul(minor_start, &end, 10);
  if (end == minor_start || *end) return 0;
  row->dev_id = ((uint64_t)major << 32) | (uint64_t)minor;

  unescape(root);
  row->root_len = (int)strlen(root);
  return take(row->mount, sizeof row->mount, mount) &&
         take(row->fstype, sizeof row->fstype, fstype) &&
         take(row->device, sizeof row->device, source);
}
