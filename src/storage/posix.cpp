// The storage layer on Linux: the mount table, statvfs and descriptor-based
// folder listing.

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include "storage/mountinfo.h"
#include "storage/storage.h"

const char storage_platform[] = "linux";
const char storage_sep = '/';

void storage_start(void) { signal(SIGPIPE, SIG_IGN); }

long storage_pid(void) { return (long)getpid(); }

int64_t storage_time(void) { return (int64_t)time(NULL); }

int storage_gmtime(int64_t t, struct tm *out) {
  time_t tt = (time_t)t;
  return gmtime_r(&tt, out) != NULL;
}

uint64_t storage_ticks_ms(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u;
}

// USERPROFILE names the home folder wherever it is set; HOME is this
// platform's own name for it.
const char *storage_home(void) {
  const char *home = getenv("USERPROFILE");
  return home ? home : getenv("HOME");
}

// ---- drives ----------------------------------------------------------

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

// ---- folders ---------------------------------------------------------

int storage_dir_open(dir_iter *it, const dir_iter *parent, const char *name,
                     const char *path) {
  // The root may itself be a link to the home folder; below it, nothing
  // is followed.
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  int fd = parent ? openat(dirfd((DIR *)parent->handle), name, flags | O_NOFOLLOW)
                  : open(path, flags);
  if (fd < 0) return 0;
  DIR *d = fdopendir(fd);
  if (!d) {
    close(fd);
    return 0;
  }
  it->handle = d;
  it->has_first = 0;
  return 1;
}

int storage_dir_next(dir_iter *it, dir_item *item) {
  DIR *d = (DIR *)it->handle;
  struct dirent *e = readdir(d);
  if (!e) return 0;
  size_t n = strlen(e->d_name);
  if (n >= sizeof item->name) n = sizeof item->name - 1;
  memcpy(item->name, e->d_name, n);
  item->name[n] = '\0';
  item->size = 0;
  item->is_dir = 0;
  item->is_link = 0;
  switch (e->d_type) {
    case DT_DIR: item->is_dir = 1; return 1;
    case DT_LNK: item->is_link = 1; return 1;
    case DT_FIFO: case DT_SOCK: case DT_CHR: case DT_BLK: return 1;
    default: break;  // a regular file, or a type the file system keeps back
  }
  struct stat st;
  if (fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return 1;
  if (S_ISDIR(st.st_mode))
    item->is_dir = 1;
  else if (S_ISLNK(st.st_mode))
    item->is_link = 1;
  else if (S_ISREG(st.st_mode))
    item->size = (uint64_t)st.st_size;
  return 1;
}

void storage_dir_close(dir_iter *it) { closedir((DIR *)it->handle); }
