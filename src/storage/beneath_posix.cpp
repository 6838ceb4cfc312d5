// The storage layer on Linux: opening a folder below the home folder.

#include <errno.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "storage/folders_posix.h"
#include "storage/readahead_posix.h"
#include "storage/storage.h"

// The reason of storage_dir_open_below for an open that failed with err.
static int reason_of(int err) {
  switch (err) {
    case ENOENT: case ENAMETOOLONG: return BELOW_MISSING;
    case ENOTDIR: return BELOW_NOT_DIR;
    case ELOOP: return BELOW_LINK;   // RESOLVE_NO_SYMLINKS, O_NOFOLLOW
    case EXDEV: return BELOW_MOUNT;  // RESOLVE_NO_XDEV
    default: return BELOW_UNREADABLE;
  }
}

// Why rel, which openat2 refused with ENOTDIR, is no folder: O_DIRECTORY
// is tested before O_NOFOLLOW, so a link at its end gives ENOTDIR too.
// Asked again for the link itself, which O_PATH with O_NOFOLLOW opens.
static int not_dir_reason(int home_fd, const char *rel) {
  struct open_how how;
  memset(&how, 0, sizeof how);
  how.flags = O_PATH | O_NOFOLLOW | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_XDEV;
  int fd = (int)syscall(SYS_openat2, home_fd, rel, &how, sizeof how);
  if (fd < 0) return BELOW_NOT_DIR;
  struct stat st;
  int link = fstat(fd, &st) == 0 && S_ISLNK(st.st_mode);
  close(fd);
  return link ? BELOW_LINK : BELOW_NOT_DIR;
}

// Kernels before 5.6 have no openat2: rel is opened one name at a time,
// each never through a link, each compared with its parent for a mount.
// The open itself reaches a file system mounted there, which openat2
// never asks. A folder on the way is only passed through (O_PATH: search
// permission is enough, as for openat2); the last is opened to be listed.
// Returns the descriptor, or -1 with *reason set.
static int open_names(int home_fd, const char *rel, int *reason) {
  int cur = home_fd;
  const char *p = rel;
  for (;;) {
    const char *slash = strchr(p, '/');
    size_t n = slash ? (size_t)(slash - p) : strlen(p);
    char name[256];
    if (n >= sizeof name) {
      *reason = BELOW_MISSING;  // longer than any name a folder can hold
      break;
    }
    memcpy(name, p, n);
    name[n] = '\0';
    int child = openat(cur, name,
                       (slash ? O_PATH : O_RDONLY) | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (child < 0) {
      *reason = reason_of(errno);
      struct stat st;
      if (*reason == BELOW_NOT_DIR &&
          fstatat(cur, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        *reason = BELOW_LINK;
      break;
    }
    int crossed = on_other_mount(cur, child);
    if (cur != home_fd) close(cur);
    cur = child;
    if (crossed) {
      *reason = BELOW_MOUNT;
      break;
    }
    if (!slash) return cur;
    p = slash + 1;
  }
  if (cur != home_fd) close(cur);
  return -1;
}

int storage_dir_open_below(dir_iter *it, const char *home, const char *rel) {
  // The home folder itself may be a link or a mount point.
  int home_fd = open(home, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (home_fd < 0) {
    int reason = reason_of(errno);
    return reason == BELOW_NOT_DIR ? BELOW_MISSING : reason;  // no folder below a file
  }
  int fd = -1, reason = BELOW_UNREADABLE;
  for (int tries = 0; tries < 3; tries++) {
    fd = open_folder_in(home_fd, rel, 1);
    if (fd >= 0 || errno != EAGAIN) break;  // EAGAIN: a rename or mount raced
  }
  if (fd < 0) {
    if (errno == ENOSYS)
      fd = open_names(home_fd, rel, &reason);
    else if (errno == ENOTDIR)
      reason = not_dir_reason(home_fd, rel);
    else
      reason = reason_of(errno);
  }
  close(home_fd);
  if (fd < 0) return reason;
  if (!dir_adopt_fd(it, fd)) return BELOW_UNREADABLE;
  readahead_root_fd(fd);
  return BELOW_OK;
}
