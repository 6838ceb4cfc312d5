// The storage layer on Linux: asking drives under a deadline.

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

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
