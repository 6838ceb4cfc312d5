// The storage layer on Linux: the mount table, statvfs and descriptor-based
// folder listing.

#include <dirent.h>
#include <errno.h>
#include <linux/openat2.h>
#include <poll.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include "storage/mountinfo.h"
#include "storage/readahead_posix.h"
#include "storage/storage.h"

const char storage_platform[] = "linux";
const char storage_sep = '/';

void storage_start(void) { signal(SIGPIPE, SIG_IGN); }

long storage_pid(void) { return (long)getpid(); }

int64_t storage_time(void) { return (int64_t)time(NULL); }

// Broken-down UTC by calendar arithmetic (days to civil date, proleptic
// Gregorian). gmtime_r would do the same but first loads the local time
// zone file, which a reply stamped in UTC never needs.
int storage_gmtime(int64_t t, struct tm *out) {
  int64_t days = t / 86400, secs = t % 86400;
  if (secs < 0) {
    secs += 86400;
    days--;
  }
  int64_t z = days + 719468;  // days since 0000-03-01
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;                                   // [0, 146096]
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);            // from March 1
  int64_t mp = (5 * doy + 2) / 153;                                  // March is 0
  int64_t mday = doy - (153 * mp + 2) / 5 + 1;
  int64_t mon = mp < 10 ? mp + 3 : mp - 9;                           // 1..12
  int64_t year = yoe + era * 400 + (mon <= 2);
  int64_t tm_year = year - 1900;
  if (tm_year < INT_MIN || tm_year > INT_MAX) return 0;
  int leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  static const short before_month[12] = {0,   31,  59,  90,  120, 151,
                                         181, 212, 243, 273, 304, 334};
  memset(out, 0, sizeof *out);
  out->tm_year = (int)tm_year;
  out->tm_mon = (int)mon - 1;
  out->tm_mday = (int)mday;
  out->tm_hour = (int)(secs / 3600);
  out->tm_min = (int)(secs / 60 % 60);
  out->tm_sec = (int)(secs % 60);
  out->tm_yday = before_month[mon - 1] + (int)mday - 1 + (leap && mon > 2);
  int64_t wday = (days + 4) % 7;  // 1970-01-01 was a Thursday
  out->tm_wday = (int)(wday < 0 ? wday + 7 : wday);
  out->tm_zone = "GMT";
  return 1;
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

// ---- asking drives that may not answer -------------------------------
//
// A file system that stops answering (a dead NFS or SMB server, a FUSE
// daemon that reads requests and never replies) blocks statvfs in the
// kernel, and no signal ends the wait: a thread stuck there keeps its
// whole process alive, and with it every descriptor the process holds,
// standard output included, so the host would never see the reply end.
// The questions are therefore asked by a helper process that keeps
// nothing but the pipe it answers on: one thread per drive, all at once.
// The caller waits for the answers until the deadline and gives up on the
// rest. A helper left behind ends by itself as soon as its last question
// is answered (or fails because the file system went away); its answers
// then go nowhere.

namespace {
struct probe_answer {
  int index;
  drive_probe probe;
};

struct probe_job {
  const drive_row *row;
  int index;
  int want_name;
  int fd;  // the pipe's writing end
};

void answer_one(const probe_job *job) {
  probe_answer a;
  memset(&a, 0, sizeof a);
  a.index = job->index;
  a.probe.answered = 1;
  a.probe.space_ok = storage_space(job->row->mount, &a.probe.space);
  if (a.probe.space_ok && job->want_name)
    a.probe.name_ok =
        storage_fs_name(job->row, a.probe.fs_name, sizeof a.probe.fs_name);
  // Smaller than PIPE_BUF, so each answer arrives whole.
  ssize_t wrote = write(job->fd, &a, sizeof a);
  (void)wrote;
}

void *answer_thread(void *arg) {
  answer_one((const probe_job *)arg);
  return NULL;
}

// Closes every descriptor but keep.
void close_all_but(int keep) {
  for (int fd = 0; fd < keep; fd++) close(fd);
  if (syscall(SYS_close_range, (unsigned)keep + 1, ~0u, 0) == 0) return;
  long max = sysconf(_SC_OPEN_MAX);
  for (long fd = keep + 1; fd < (max > 0 ? max : 1024); fd++) close((int)fd);
}

// The helper: asks every row on a thread of its own, then ends.
[[noreturn]] void run_helper(const drive_row *const *rows, int n,
                             int want_name, int fd) {
  close_all_but(fd);
  static probe_job jobs[1024];
  static pthread_t threads[1024];
  static int started[1024];
  if (n > 1024) n = 1024;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 64 * 1024);
  for (int i = 0; i < n; i++) {
    jobs[i] = probe_job{rows[i], i, want_name, fd};
    started[i] = pthread_create(&threads[i], &attr, answer_thread, &jobs[i]) == 0;
    if (!started[i]) answer_one(&jobs[i]);
  }
  for (int i = 0; i < n; i++)
    if (started[i]) pthread_join(threads[i], NULL);
  _exit(0);
}
}  // namespace

void storage_probe(const drive_row *const *rows, int n, int want_name,
                   int deadline_ms, drive_probe *out) {
  for (int i = 0; i < n; i++) memset(&out[i], 0, sizeof out[i]);
  if (n <= 0) return;
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return;
  pid_t pid = fork();
  if (pid == 0) run_helper(rows, n, want_name, pipe_fds[1]);
  close(pipe_fds[1]);
  if (pid < 0) {
    close(pipe_fds[0]);
    return;
  }
  int got = 0;
  uint64_t end = storage_ticks_ms() + (uint64_t)deadline_ms;
  probe_answer a;
  size_t have = 0;  // bytes of a read so far
  while (got < n) {
    uint64_t now = storage_ticks_ms();
    if (now >= end) break;
    struct pollfd p = {pipe_fds[0], POLLIN, 0};
    int r = poll(&p, 1, (int)(end - now));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    ssize_t len = read(pipe_fds[0], (char *)&a + have, sizeof a - have);
    if (len < 0 && errno == EINTR) continue;
    if (len <= 0) break;  // the helper ended before answering them all
    have += (size_t)len;
    if (have < sizeof a) continue;
    have = 0;
    if (a.index >= 0 && a.index < n && !out[a.index].answered) {
      out[a.index] = a.probe;
      got++;
    }
  }
  close(pipe_fds[0]);
  // A helper that answered everything is ending now; one that did not is
  // left to end by itself, and is never waited for.
  if (got == n) waitpid(pid, NULL, 0);
}

// Nothing left behind by storage_probe holds anything of this process's.
void storage_finish(void) {}

// Any path: statvfs answers for the file system that holds it.
int storage_volume_of(const char *path, char *buf, size_t cap) {
  size_t n = strlen(path);
  if (n >= cap) return 0;
  memcpy(buf, path, n + 1);
  return 1;
}

// ---- folders ---------------------------------------------------------
//
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
  size_t pos, end;  // unread entries are buf[pos, end)
  // The folder entry last handed out, already opened by storage_dir_next
  // (see open_child_dir): its descriptor, or -1 when it could not be
  // opened; pending_name is empty when nothing waits.
  int pending_fd;
  char pending_name[256];
  alignas(8) char buf[32768];
};

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

// Opens the folder name inside the open folder dirfd, never following a
// link and never entering another mount. Returns the descriptor, -1 when
// the folder cannot be opened, or -2 when name is a mount point: a file
// system mounted there, or a bind mount, even of this same file system.
//
// openat2 with RESOLVE_NO_XDEV refuses with EXDEV at the mount point
// itself, before the mounted file system is sent any request, so a dead
// network or FUSE mount below home never stalls the walk. Without openat2
// the folder is opened and its device compared with the parent's: another
// file system is still never walked, but a bind mount of the same one is,
// and the open itself reaches the mounted file system.
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
  struct stat parent, child;
  if (fstat(dirfd, &parent) != 0 || fstat(fd, &child) != 0 ||
      parent.st_dev != child.st_dev) {
    close(fd);
    return -2;
  }
  return fd;
}

int storage_dir_open(dir_iter *it, const dir_iter *parent, const char *name,
                     const char *path) {
  readahead_poll();
  int fd;
  if (parent) {
    // The walk opens the folder entry it was just handed; that entry was
    // opened already, to tell whether it is a mount point.
    dir_stream *p = (dir_stream *)parent->handle;
    if (!p->pending_name[0] || strcmp(p->pending_name, name) != 0) return 0;
    fd = p->pending_fd;
    p->pending_name[0] = '\0';
    p->pending_fd = -1;
  } else {
    // The root may itself be a link to the home folder, or a mount point.
    fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  }
  if (fd < 0) return 0;
  dir_stream *s = stream_take();
  if (!s) {
    close(fd);
    return 0;
  }
  s->fd = fd;
  s->pos = s->end = 0;
  s->pending_fd = -1;
  s->pending_name[0] = '\0';
  it->handle = s;
  it->has_first = 0;
  return 1;
}

// The next entry of s that names a file, or NULL at the end of the folder
// or on an error (which ends the listing, as it does for readdir).
static const struct dirent64 *stream_next(dir_stream *s) {
  for (;;) {
    if (s->pos >= s->end) {
      ssize_t got = getdents64(s->fd, s->buf, sizeof s->buf);
      if (got <= 0) return NULL;
      s->pos = 0;
      s->end = (size_t)got;
    }
    const struct dirent64 *e = (const struct dirent64 *)(s->buf + s->pos);
    s->pos += e->d_reclen;
    if (e->d_ino != 0) return e;  // 0 marks a deleted entry
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
  if (!e) return 0;
  size_t n = strnlen(e->d_name, sizeof item->name - 1);
  memcpy(item->name, e->d_name, n);
  item->name[n] = '\0';
  item->size = 0;
  item->is_dir = 0;
  item->is_link = 0;
  item->is_mount = 0;
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
  // so, where fstatat would quietly report the mounted file.
  struct statx st;
  if (statx(s->fd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
            STATX_TYPE | STATX_SIZE, &st) != 0)
    return 1;
  if (st.stx_attributes_mask & st.stx_attributes & STATX_ATTR_MOUNT_ROOT) {
    item->is_mount = 1;
  } else if (S_ISDIR(st.stx_mode)) {
    take_folder(s, name, item);
  } else if (S_ISLNK(st.stx_mode)) {
    item->is_link = 1;
  } else if (S_ISREG(st.stx_mode)) {
    item->size = (uint64_t)st.stx_size;
  }
  return 1;
}

void storage_dir_close(dir_iter *it) {
  dir_stream *s = (dir_stream *)it->handle;
  drop_pending(s);
  close(s->fd);
  stream_give(s);
}
