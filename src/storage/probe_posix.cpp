// The storage layer on Linux: asking drives under a deadline.

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "storage/marks_posix.h"
#include "storage/posix.h"
#include "storage/storage.h"

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
//
// Until then it holds a mark for each drive still unanswered (see
// marks_posix.cpp), keyed by the mount's device and path, and lets each go
// the moment its question is answered. A later request, from any process
// of the same user, finds the mark and leaves the drive out at once: a
// dead file system keeps one stuck helper machine-wide, not one per poll,
// and costs one deadline once.

namespace {
// How long past the deadline the caller waits for the helper to mark the
// drives it gives up: a few system calls, so far less than this.
enum { MARK_WAIT_MS = 200 };

struct probe_answer {
  int index;
  drive_probe probe;
};

struct probe_job {
  const drive_row *row;
  int index;
  int want;  // PROBE_* bits
  int fd;    // the pipe's writing end
  int done;  // the helper's own pipe: the index once answered
};

// The record sent once the helper has taken the marks of the drives it
// has not heard from by the deadline.
enum { MARKS_TAKEN = -1 };

void answer_one(const probe_job *job) {
  probe_answer a;
  memset(&a, 0, sizeof a);
  a.index = job->index;
  a.probe.answered = 1;
  a.probe.space_ok = storage_space(job->row->mount, &a.probe.space);
  if (a.probe.space_ok && (job->want & PROBE_NAME))
    a.probe.name_ok =
        storage_fs_name(job->row, a.probe.fs_name, sizeof a.probe.fs_name);
  if (a.probe.space_ok && (job->want & PROBE_ERRORS))
    a.probe.errors_ok = storage_fs_errors(job->row, &a.probe.errors);
  // Smaller than PIPE_BUF, so each answer arrives whole.
  ssize_t wrote = write(job->fd, &a, sizeof a);
  wrote = write(job->done, &job->index, sizeof job->index);
  (void)wrote;
}

void *answer_thread(void *arg) {
  answer_one((const probe_job *)arg);
  return NULL;
}

void drive_mark(const drive_row *row, mark_name *m) {
  mark_name_of('d', row->dev_id, row->mount, m);
}

// Closes every descriptor but a, b and c. Standard input, output and
// error get the null device instead (unless one of the three): never
// closed, so that no socket of a mark takes their numbers.
void close_all_but(int a, int b, int c) {
  long max = sysconf(_SC_OPEN_MAX);
  int top = a > b ? a : b;
  if (c > top) top = c;
  int null_fd = open_null_device();
  for (int fd = 0; fd < top; fd++) {
    if (fd == a || fd == b || fd == c || fd == null_fd) continue;
    if (fd > 2 || null_fd < 0 || dup2(null_fd, fd) < 0) close(fd);
  }
  if (null_fd > 2 && null_fd < top) close(null_fd);
  if (syscall(SYS_close_range, (unsigned)top + 1, ~0u, 0) == 0) return;
  for (long fd = top + 1; fd < (max > 0 ? max : 1024); fd++) close((int)fd);
}

// Reads the indexes of answered rows from done into answered, waiting at
// most ms (-1: until one comes). Returns how many came, 0 on a timeout.
int read_done(int done, int ms, int *answered, int n) {
  struct pollfd p = {done, POLLIN, 0};
  if (poll(&p, 1, ms) <= 0) return 0;
  int idx[64];
  ssize_t got = read(done, idx, sizeof idx);
  int k = 0;
  for (ssize_t i = 0; i < got / (ssize_t)sizeof idx[0]; i++)
    if (idx[i] >= 0 && idx[i] < n && !answered[idx[i]]) {
      answered[idx[i]] = 1;
      k++;
    }
  return k;
}

// The helper: asks every row on a thread of its own. At the caller's
// deadline (end, on the shared monotonic clock) it marks the rows still
// unanswered and says so; it ends once every row has answered.
[[noreturn]] void run_helper(const drive_row *const *rows, int n,
                             int want, int fd, uint64_t end) {
  int done_fds[2];
  if (pipe2(done_fds, O_CLOEXEC) != 0) _exit(0);  // every row given up
  close_all_but(fd, done_fds[0], done_fds[1]);
  static probe_job jobs[1024];
  static int answered[1024];
  static int marks[1024];
  if (n > 1024) n = 1024;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 64 * 1024);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  for (int i = 0; i < n; i++) {
    jobs[i] = probe_job{rows[i], i, want, fd, done_fds[1]};
    pthread_t t;
    if (pthread_create(&t, &attr, answer_thread, &jobs[i]) != 0)
      answer_one(&jobs[i]);
  }
  int left = n;
  for (uint64_t now = storage_ticks_ms(); left > 0 && now < end;
       now = storage_ticks_ms())
    left -= read_done(done_fds[0], (int)(end - now), answered, n);
  if (left == 0) _exit(0);
  static struct pollfd waits[1025];
  waits[0] = pollfd{done_fds[0], POLLIN, 0};
  for (int i = 0; i < n; i++) {
    marks[i] = -1;
    if (!answered[i]) {
      mark_name m;
      drive_mark(rows[i], &m);
      marks[i] = mark_take(&m);
    }
    waits[1 + i] = pollfd{marks[i], POLLIN, 0};  // -1 is passed over
  }
  probe_answer taken;
  memset(&taken, 0, sizeof taken);
  taken.index = MARKS_TAKEN;
  // fd stays open: an answer that comes late is written to it and dropped.
  ssize_t wrote = write(fd, &taken, sizeof taken);
  (void)wrote;
  while (left > 0) {
    if (poll(waits, (nfds_t)n + 1, -1) < 0) continue;
    for (int i = 0; i < n; i++)
      if (marks[i] >= 0 && waits[1 + i].revents) mark_answer(marks[i]);
    if (!waits[0].revents) continue;
    left -= read_done(done_fds[0], 0, answered, n);
    for (int i = 0; i < n; i++)
      if (answered[i] && marks[i] >= 0) {
        close(marks[i]);  // the mark goes with the stuck call
        marks[i] = waits[1 + i].fd = -1;
      }
  }
  _exit(0);
}
}  // namespace

void storage_probe(const drive_row *const *rows, int n, int want,
                   int deadline_ms, drive_probe *out) {
  for (int i = 0; i < n; i++) memset(&out[i], 0, sizeof out[i]);
  if (n <= 0) return;
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return;
  uint64_t end = storage_ticks_ms() + (uint64_t)deadline_ms;
  pid_t pid = fork();
  if (pid == 0) run_helper(rows, n, want, pipe_fds[1], end);
  close(pipe_fds[1]);
  if (pid < 0) {
    close(pipe_fds[0]);
    return;
  }
  int got = 0;
  // Past the deadline, the rows given up are marked by the helper before
  // the reply goes out, so that the next request finds the marks.
  uint64_t last = end + MARK_WAIT_MS;
  probe_answer a;
  size_t have = 0;  // bytes of a read so far
  while (got < n) {
    uint64_t now = storage_ticks_ms();
    if (now >= last) break;
    struct pollfd p = {pipe_fds[0], POLLIN, 0};
    int r = poll(&p, 1, (int)(last - now));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    ssize_t len = read(pipe_fds[0], (char *)&a + have, sizeof a - have);
    if (len < 0 && errno == EINTR) continue;
    if (len <= 0) break;  // the helper ended before answering them all
    have += (size_t)len;
    if (have < sizeof a) continue;
    have = 0;
    if (a.index == MARKS_TAKEN) break;
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

int storage_drive_stuck(const drive_row *row) {
  mark_name m;
  drive_mark(row, &m);
  return mark_held(&m);
}
