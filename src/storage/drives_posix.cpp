// The storage layer on Linux: the mount table and statvfs.

#include <fcntl.h>
#include <string.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "storage/mountinfo.h"
#include "storage/storage.h"

// Reads the mount table line by line through one fixed buffer; a line
// longer than the buffer is passed over.
int storage_each_drive(drive_fn fn, void *ctx) {
  int fd = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  static char buf[16384];
  size_t have = 0;
  int skipping = 0, rows = 0, eof = 0;
  drive_row row;
  while (!eof) {
    ssize_t got = read(fd, buf + have, sizeof buf - 1 - have);
    if (got <= 0) {
      eof = 1;
      if (have == 0 || skipping) break;
      buf[have++] = '\n';  // a last line without its line feed
    } else {
      have += (size_t)got;
    }
    char *line = buf;
    char *nl;
    while ((nl = (char *)memchr(line, '\n', have - (size_t)(line - buf)))) {
      *nl = '\0';
      if (!skipping && parse_mountinfo_line(line, &row)) {
        fn(&row, ctx);
        rows++;
      }
      skipping = 0;
      line = nl + 1;
    }
    have -= (size_t)(line - buf);
    memmove(buf, line, have);
    if (have == sizeof buf - 1) {  // no line feed in a full buffer
      skipping = 1;
      have = 0;
    }
  }
  close(fd);
  return rows;
}

int storage_space(const char *path, space_info *out) {
  struct statvfs v;
  if (statvfs(path, &v) != 0) return 0;
  uint64_t unit = v.f_frsize ? v.f_frsize : v.f_bsize;
  out->total = (uint64_t)v.f_blocks * unit;
  out->free = (uint64_t)v.f_bfree * unit;
  out->avail = (uint64_t)v.f_bavail * unit;
  out->inodes_total = v.f_files;
  out->inodes_free = v.f_ffree;
  out->has_inodes = v.f_files > 0;
  out->readonly = (v.f_flag & ST_RDONLY) != 0;
  return 1;
}

int storage_fs_name(const drive_row *row, char *buf, size_t cap) {
  size_t n = strlen(row->fstype);
  if (n >= cap) n = cap - 1;
  memcpy(buf, row->fstype, n);
  buf[n] = '\0';
  return 1;
}

// Any path: statvfs answers for the file system that holds it.
int storage_volume_of(const char *path, char *buf, size_t cap) {
  size_t n = strlen(path);
  if (n >= cap) return 0;
  memcpy(buf, path, n + 1);
  return 1;
}


namespace {
struct device_search {
  const char *path;
  size_t best;   // length of the longest mount point that holds path
  uint64_t dev;
};

void match_mount(const drive_row *row, void *ctx) {
  device_search *s = (device_search *)ctx;
  size_t n = strlen(row->mount);
  if (n > 1 && row->mount[n - 1] == '/') n--;
  int holds = strncmp(s->path, row->mount, n) == 0 &&
              (s->path[n] == '/' || s->path[n] == '\0' || n == 1);
  // A later mount over the same point hides the earlier one.
  if (holds && n >= s->best) {
    s->best = n;
    s->dev = row->dev_id;
  }
}
}  // namespace

// The mount whose point is the longest leading part of the path, as
// written: a path through a link is judged by the link's own place.
uint64_t storage_device_of(const char *path) {
  device_search s = {path, 0, 0};
  storage_each_drive(match_mount, &s);
  return s.dev;
}
