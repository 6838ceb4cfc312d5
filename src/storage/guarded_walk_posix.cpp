// The storage layer on Linux: the folder walk on a thread of its own, and
// what is left of the process when a walk is given up.
//
// A thread stuck in a call to a dead file system cannot be ended: it keeps
// its process alive, and with it every descriptor the process holds. So a
// walk given up is handed over with the reply: the reply is ended
// (storage_end_reply: the host sees end of file), and the process stays only
// as the holder of the walk's mark (see marks_posix.cpp), answering those
// who ask for it, until the walk's call returns; then it ends.

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <stdio.h>
#include <unistd.h>

#include "storage/marks_posix.h"
#include "storage/storage.h"

namespace {
struct walk_run {
  void (*fn)(void *);
  void *arg;
};

walk_run run;
pthread_t walker;
int ended_fds[2] = {-1, -1};  // the walk writes a byte here as it ends
int joined;

void *walk_thread(void *) {
  run.fn(run.arg);
  char c = 1;
  ssize_t wrote = write(ended_fds[1], &c, 1);
  (void)wrote;
  return NULL;
}
}  // namespace

int storage_walk_start(void (*fn)(void *), void *arg) {
  if (pipe2(ended_fds, O_CLOEXEC) != 0) return 0;
  run = walk_run{fn, arg};
  joined = 0;
  if (pthread_create(&walker, NULL, walk_thread, NULL) != 0) {
    close(ended_fds[0]);
    close(ended_fds[1]);
    return 0;
  }
  return 1;
}

int storage_walk_wait(int ms) {
  if (joined) return 1;
  struct pollfd p = {ended_fds[0], POLLIN, 0};
  if (poll(&p, 1, ms) <= 0) return 0;
  // The join makes whatever the walk wrote visible here.
  pthread_join(walker, NULL);
  joined = 1;
  close(ended_fds[0]);
  close(ended_fds[1]);
  return 1;
}

static void walk_mark(uint64_t dev, const char *path, mark_name *m) {
  mark_name_of('w', dev, path, m);
}

int storage_walk_stuck(uint64_t dev, const char *path) {
  mark_name m;
  walk_mark(dev, path, &m);
  return mark_held(&m);
}

void storage_walk_abandon(uint64_t dev, const char *path) {
  // Marked before the reply's last bytes leave, so that the next request
  // finds the mark.
  mark_name m;
  walk_mark(dev, path, &m);
  int mark = mark_take(&m);  // -1: one of ours holds it already
  storage_end_reply();
  struct pollfd p[2] = {{ended_fds[0], POLLIN, 0}, {mark, POLLIN, 0}};
  for (;;) {
    if (poll(p, 2, -1) < 0) continue;
    if (p[0].revents) _exit(0);  // the walk's call returned: the mark goes
    if (p[1].revents) mark_answer(mark);
  }
}
