// The storage layer on Linux: descriptor-based folder listing.

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "storage/folders_posix.h"
#include "storage/readahead_posix.h"
#include "storage/storage.h"

// Folders are read with getdents64 straight into a buffer of our own, the
// way readdir does, but without fdopendir's checks (an fstat and two fcntl
// calls per folder) and without an allocation per folder: the walk opens
// folders one inside another and closes them in the reverse order, so a
// few buffers kept for the whole run serve every level. A listing opened
// while all of them are in use gets one of its own.

namespace {
struct dir_stream {
  int fd;
  int in_use;
  int own;          // allocated for this listing alone
  int failed;       // getdents64 ended the listing with an error
  size_t pos, end;  // unread entries are buf[pos, end)
  // The folder entry last handed out, already opened by storage_dir_next
  // (see open_child_dir): its descriptor, or -1 when it could not be
  // opened; pending_name is empty when nothing waits.
  int pending_fd;
  char pending_name[256];
  // Set by storage_dir_self when the first batch holds the whole folder
  // (see one_batch_folder); last_batch once that batch is in buf, whose
  // end is then the folder's end.
  int one_batch, last_batch;
  alignas(8) char buf[32768];
};

// The longest record getdents64 gives: a name of 255 bytes and its NUL,
// rounded up to 8 bytes.
enum { DIRENT_MAX = (offsetof(struct dirent64, d_name) + 256 + 7) & ~7 };

dir_stream stream_pool[10];

dir_stream *stream_take(void) {
  for (dir_stream &s : stream_pool)
    if (!s.in_use) {
      s.in_use = 1;
      s.own = 0;
      return &s;
    }
  dir_stream *s = (dir_stream *)malloc(sizeof(dir_stream));
  if (!s) return NULL;
  s->in_use = 1;
  s->own = 1;
  return s;
}

void stream_give(dir_stream *s) {
  if (s->own)
    free(s);
  else
    s->in_use = 0;
}

void drop_pending(dir_stream *s) {
  if (s->pending_name[0] && s->pending_fd >= 0) close(s->pending_fd);
  s->pending_name[0] = '\0';
  s->pending_fd = -1;
}

// Kernels before 5.6 have no openat2; then a mount point is told by its
// device number once it is open (see open_child_dir).
int have_openat2 = 1;
}  // namespace

int open_folder_in(int dirfd, const char *path, int beneath) {
  struct open_how how;
  memset(&how, 0, sizeof how);
  how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW;
  how.resolve = RESOLVE_NO_XDEV | RESOLVE_NO_SYMLINKS;
  if (beneath) how.resolve |= RESOLVE_BENEATH;
  return (int)syscall(SYS_openat2, dirfd, path, &how, sizeof how);
}

int on_other_mount(int parent, int child) {
  struct stat p, c;
  if (fstat(parent, &p) != 0 || fstat(child, &c) != 0) return 1;
  if (p.st_dev != c.st_dev) return 1;
  struct statx st;
  if (statx(child, "", AT_EMPTY_PATH, STATX_TYPE, &st) != 0) return 0;
  return (st.stx_attributes_mask & st.stx_attributes &
          STATX_ATTR_MOUNT_ROOT) != 0;
}

// Opens the folder name inside the open folder dirfd, never following a
// link and never entering another mount. Returns the descriptor, -1 when
// the folder cannot be opened, or -2 when name is a mount point: a file
// system mounted there, or a bind mount, even of this same file system.
//
// openat2 with RESOLVE_NO_XDEV refuses with EXDEV at the mount point
// itself, before the mounted file system is sent any request, so a dead
// network or FUSE mount below home never stalls the walk. Without openat2
// the folder is opened and compared with its parent (on_other_mount):
// another file system is still never walked, but the open itself reaches
// the mounted file system, and a bind mount of the same one is walked
// where statx cannot tell a mount's root (before Linux 5.8).
static int open_child_dir(int dirfd, const char *name) {
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW;
  if (have_openat2) {
    for (int tries = 0; tries < 3; tries++) {
      int fd = open_folder_in(dirfd, name, 0);
      if (fd >= 0) return fd;
      if (errno == EXDEV) return -2;
      if (errno != EAGAIN) break;  // a rename or mount raced the lookup
    }
    if (errno != ENOSYS) return -1;
    have_openat2 = 0;
  }
  int fd = openat(dirfd, name, flags);
  if (fd < 0) return -1;
  if (on_other_mount(dirfd, fd)) {
    close(fd);
    return -2;
  }
  return fd;
}

int storage_dir_open(dir_iter *it, const dir_iter *parent, const char *name,
                     const char *path) {
  if (!parent) return storage_dir_open_root(it, path) == BELOW_OK;
  readahead_poll();
  // The walk opens the folder entry it was just handed; that entry was
  // opened already, to tell whether it is a mount point.
  dir_stream *p = (dir_stream *)parent->handle;
  if (!p->pending_name[0] || strcmp(p->pending_name, name) != 0) return 0;
  int fd = p->pending_fd;
  p->pending_name[0] = '\0';
  p->pending_fd = -1;
  if (fd < 0) return 0;
  return dir_adopt_fd(it, fd);
}

// Why the root path, whose open failed with err, cannot be listed.
// ENOTDIR comes for a file at its end (with or without separators after
// it) or on its way: only the first is "not a folder".
static int root_reason(const char *path, int err) {
  if (err == ENOENT || err == ENAMETOOLONG) return BELOW_MISSING;
  if (err != ENOTDIR) return BELOW_UNREADABLE;
  char bare[4096];
  size_t n = strlen(path);
  while (n > 1 && path[n - 1] == '/') n--;
  if (n >= sizeof bare) return BELOW_MISSING;
  memcpy(bare, path, n);
  bare[n] = '\0';
  struct stat st;
  return stat(bare, &st) == 0 && !S_ISDIR(st.st_mode) ? BELOW_NOT_DIR
                                                      : BELOW_MISSING;
}

int storage_dir_open_root(dir_iter *it, const char *path) {
  readahead_poll();
  // The root may itself be a link to the home folder, or a mount point.
  int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return root_reason(path, errno);
  return dir_adopt_fd(it, fd) ? BELOW_OK : BELOW_UNREADABLE;
}

int dir_adopt_fd(dir_iter *it, int fd) {
  dir_stream *s = stream_take();
  if (!s) {
    close(fd);
    return 0;
  }
  s->fd = fd;
  s->failed = 0;
  s->pos = s->end = 0;
  s->pending_fd = -1;
  s->pending_name[0] = '\0';
  s->one_batch = s->last_batch = 0;
  it->handle = s;
  it->has_first = 0;
  it->failed = 0;
  return 1;
}

// The next entry of s that names a file, or NULL at the end of the folder
// or on an error, which ends the listing (as it does for readdir) and sets
// s->failed.
static const struct dirent64 *stream_next(dir_stream *s) {
  for (;;) {
    if (s->pos >= s->end) {
      if (s->failed || s->last_batch) return NULL;
      ssize_t got = getdents64(s->fd, s->buf, sizeof s->buf);
      if (got < 0) s->failed = 1;
      if (got <= 0) return NULL;
      s->pos = 0;
      s->end = (size_t)got;
      // The kernel ends a batch at the folder's end or where the next
      // record does not fit. Only a batch that left room for the longest
      // record ended at the folder's end: a folder that grew past its one
      // block since it was looked at fills the buffer and goes on.
      s->last_batch = s->one_batch && sizeof s->buf - (size_t)got >= DIRENT_MAX;
    }
    const struct dirent64 *e = (const struct dirent64 *)(s->buf + s->pos);
    s->pos += e->d_reclen;
    if (e->d_ino != 0) return e;  // 0 marks a deleted entry
  }
}

// Bytes in blocks of 512, or UINT64_MAX where that does not fit: a file
// system may report any count.
static uint64_t block_bytes(uint64_t blocks) {
  if (blocks >> 55) return UINT64_MAX;
  return blocks << 9;
}

// What a file takes, who it is and when it changed, from the statx st, as
// far as its mask says the file system told it. Blocks not told: taken as
// its length, the best guess there is.
static void fill_file_facts(const struct statx *st, dir_item *item) {
  item->disk_size = (st->stx_mask & STATX_BLOCKS)
                        ? block_bytes(st->stx_blocks)
                        : (uint64_t)st->stx_size;
  if (st->stx_mask & STATX_INO) {
    item->dev_id = ((uint64_t)st->stx_dev_major << 32) | st->stx_dev_minor;
    item->file_id = (uint64_t)st->stx_ino;
  }
  if (st->stx_mask & STATX_NLINK) item->links = st->stx_nlink;
  if (st->stx_mask & STATX_MTIME) {
    item->has_mtime = 1;
    item->mtime = (int64_t)st->stx_mtime.tv_sec;
  }
}

// A folder entry: opened now, so that a mount point is known before the
// entry is counted. The descriptor waits for storage_dir_open.
static void take_folder(dir_stream *s, const char *name, dir_item *item) {
  int fd = open_child_dir(s->fd, name);
  if (fd == -2) {
    item->is_mount = 1;
    return;
  }
  item->is_dir = 1;
  s->pending_fd = fd;
  memcpy(s->pending_name, name, strlen(name) + 1);
}

int storage_dir_next(dir_iter *it, dir_item *item) {
  dir_stream *s = (dir_stream *)it->handle;
  drop_pending(s);
  const struct dirent64 *e = stream_next(s);
  if (!e) {
    it->failed = s->failed;
    return 0;
  }
  size_t n = strnlen(e->d_name, sizeof item->name - 1);
  memcpy(item->name, e->d_name, n);
  item->name[n] = '\0';
  item->size = 0;
  item->is_dir = 0;
  item->is_link = 0;
  item->is_mount = 0;
  item->is_reparse = 0;  // this platform has no reparse points
  item->reparse_tag = 0;
  item->recall_on_open = 0;
  item->recall_on_data_access = 0;
  item->offline = 0;
  item->disk_size = 0;
  item->dev_id = 0;
  item->file_id = 0;
  item->links = 0;
  item->has_mtime = 0;
  item->mtime = 0;
  item->unreadable = 0;
  const char *name = e->d_name;
  if (name[0] == '.' && (!name[1] || (name[1] == '.' && !name[2]))) {
    // This folder and its parent, which may well be on another mount:
    // never opened, and passed over by every caller.
    item->is_dir = 1;
    return 1;
  }
  switch (e->d_type) {
    case DT_DIR: take_folder(s, name, item); return 1;
    case DT_LNK: item->is_link = 1; return 1;
    case DT_FIFO: case DT_SOCK: case DT_CHR: case DT_BLK: return 1;
    default: break;  // a regular file, or a type the file system keeps back
  }
  // A file may be a mount point too (a bind mount of a file); statx says
  // so, where fstatat would quietly report the mounted file. The blocks,
  // links, inode and time come from the same inode in the same call, at
  // no further cost. Where the kernel has no statx, the C library answers
  // from fstatat with every basic field but the mount-root attribute.
  // When it fails (a folder that may be read but not searched, a file
  // system's error), nothing but the name is known; a file gone since it
  // was listed takes nothing, and is no loss.
  struct statx st;
  if (statx(s->fd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
            STATX_TYPE | STATX_SIZE | STATX_BLOCKS | STATX_NLINK |
                STATX_MTIME | STATX_INO,
            &st) != 0) {
    item->unreadable = errno != ENOENT;
    return 1;
  }
  if (st.stx_attributes_mask & st.stx_attributes & STATX_ATTR_MOUNT_ROOT) {
    item->is_mount = 1;
  } else if (S_ISDIR(st.stx_mode)) {
    take_folder(s, name, item);
  } else if (S_ISLNK(st.stx_mode)) {
    item->is_link = 1;
  } else if (S_ISREG(st.stx_mode)) {
    item->size = (uint64_t)st.stx_size;
    fill_file_facts(&st, item);
  }
  return 1;
}

void storage_dir_close(dir_iter *it) {
  dir_stream *s = (dir_stream *)it->handle;
  drop_pending(s);
  close(s->fd);
  stream_give(s);
}

// Whether the folder open as fd, of which st tells, hands out all its
// entries in the first getdents64 batch, so that the call that would only
// find its end can be left out. Told for ext2, ext3 and ext4 alone, for a
// folder of one block of at most 4 KiB: that block is read and checked
// whole before the first entry is handed out, an error (a block that
// cannot be read) comes before it, never after, and the batch stops only
// at the block's end or a full buffer, while the block's records (12
// bytes at least, for a 24-byte dirent64) fill at most 8 KiB of the 32 in
// buf. The folder may still grow between this look and its first batch;
// stream_next then takes the batch for the end only when it was not full. Elsewhere a short batch proves nothing (FUSE and NFS hand out a
// page at a time). The file system is asked once per device: a walk never
// leaves its mount.
static int one_batch_folder(int fd, const struct statx *st) {
  static uint64_t known_dev = UINT64_MAX;
  static int known_ext;
  const uint64_t MAGIC_EXT = 0xEF53;  // EXT4_SUPER_MAGIC, shared by ext2/3
  if (!(st->stx_mask & STATX_SIZE) || st->stx_size > 4096 ||
      st->stx_size > st->stx_blksize)
    return 0;
  uint64_t dev = ((uint64_t)st->stx_dev_major << 32) | st->stx_dev_minor;
  if (dev != known_dev) {
    struct statfs fs;
    known_ext = fstatfs(fd, &fs) == 0 && (uint64_t)fs.f_type == MAGIC_EXT;
    known_dev = dev;
  }
  return known_ext;
}

int storage_dir_self(const dir_iter *it, dir_item *out) {
  dir_stream *s = (dir_stream *)it->handle;
  struct statx st;
  if (statx(s->fd, "", AT_EMPTY_PATH, STATX_BLOCKS | STATX_MTIME | STATX_SIZE,
            &st) != 0)
    return 0;
  if (!s->end) s->one_batch = one_batch_folder(s->fd, &st);  // nothing read yet
  if (st.stx_mask & STATX_BLOCKS) out->disk_size = block_bytes(st.stx_blocks);
  if (st.stx_mask & STATX_MTIME) {
    out->has_mtime = 1;
    out->mtime = (int64_t)st.stx_mtime.tv_sec;
  }
  return 1;
}

void storage_link_facts(const dir_iter *it, dir_item *item) {
  const dir_stream *s = (const dir_stream *)it->handle;
  struct statx st;
  if (statx(s->fd, item->name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
            STATX_BLOCKS | STATX_INO | STATX_NLINK, &st) != 0)
    return;
  if (st.stx_mask & STATX_BLOCKS) item->disk_size = block_bytes(st.stx_blocks);
  if (st.stx_mask & STATX_INO) {
    item->dev_id = ((uint64_t)st.stx_dev_major << 32) | st.stx_dev_minor;
    item->file_id = (uint64_t)st.stx_ino;
  }
  if (st.stx_mask & STATX_NLINK) item->links = st.stx_nlink;
}
