// The storage layer on Linux: the errors ext2/3/4 keep in sysfs.
//
// The ext4 driver, which mounts ext2 and ext3 too, keeps a folder
// /sys/fs/ext4/<device>/ for each file system it has mounted, named as the
// kernel names the block device ("sda1", "dm-0", "loop3"), which is not
// always the mount source (/dev/mapper/vg-root is "dm-0"). That name is the
// last part of the link /sys/dev/block/<major>:<minor>. Any user may read
// errors_count there (errors recorded since a check last cleared them) and
// last_error_time (seconds since 1970, 0 when none).
//
// Nothing read is trusted: fixed buffers, whole reads only, and a value
// that is not plain decimal digits that fit is no value.

#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "storage/storage.h"

static int is_ext(const char *fstype) {
  return strcmp(fstype, "ext4") == 0 || strcmp(fstype, "ext3") == 0 ||
         strcmp(fstype, "ext2") == 0;
}

// The kernel's name of the block device dev_id (mountinfo's major:minor)
// into name. Returns 1, or 0 when there is none that fits.
static int device_name(uint64_t dev_id, char *name, size_t cap) {
  char link[64];
  snprintf(link, sizeof link, "/sys/dev/block/%llu:%llu",
           (unsigned long long)(dev_id >> 32),
           (unsigned long long)(dev_id & 0xffffffffu));
  char target[256];
  ssize_t n = readlink(link, target, sizeof target);
  if (n <= 0 || n >= (ssize_t)sizeof target) return 0;
  target[n] = '\0';
  const char *base = strrchr(target, '/');
  base = base ? base + 1 : target;
  size_t len = strlen(base);
  if (!len || len >= cap || strcmp(base, ".") == 0 || strcmp(base, "..") == 0)
    return 0;
  memcpy(name, base, len + 1);
  return 1;
}

// The unsigned decimal number that is the whole of the file path (one line
// feed may end it). Returns 1, or 0 when it cannot be read or is anything
// else.
static int read_number(const char *path, uint64_t *out) {
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return 0;
  char buf[32];
  ssize_t n = read(fd, buf, sizeof buf);
  close(fd);
  // A full buffer may be part of something longer than any number.
  if (n <= 0 || n >= (ssize_t)sizeof buf) return 0;
  if (buf[n - 1] == '\n') n--;
  if (n == 0) return 0;
  uint64_t v = 0;
  for (ssize_t i = 0; i < n; i++) {
    if (buf[i] < '0' || buf[i] > '9') return 0;
    uint64_t d = (uint64_t)(buf[i] - '0');
    if (v > (UINT64_MAX - d) / 10) return 0;
    v = v * 10 + d;
  }
  *out = v;
  return 1;
}

int storage_fs_errors(const drive_row *row, fs_errors *out) {
  memset(out, 0, sizeof *out);
  if (row->kind != DRIVE_MOUNT_TABLE || !is_ext(row->fstype)) return 0;
  char name[128];
  if (!device_name(row->dev_id, name, sizeof name)) return 0;
  char path[192];
  snprintf(path, sizeof path, "/sys/fs/ext4/%s/errors_count", name);
  if (!read_number(path, &out->count)) return 0;
  out->has_count = 1;
  uint64_t t = 0;
  snprintf(path, sizeof path, "/sys/fs/ext4/%s/last_error_time", name);
  if (out->count && read_number(path, &t) && t <= (uint64_t)INT64_MAX)
    out->last_time = (int64_t)t;
  return 1;
}
