// The folder walk of the dirs action, watched from the request's thread:
// a home on a file system that stops answering must not hold the reply.

#include "walk/walk.h"
#include "plugin.h"

namespace {
// How often the request looks at the walk's progress.
enum { WATCH_MS = 100 };

struct walk_job {
  const char *root_path, *sub, *listed;
  dir_entry *list;
  scan_state *state;
  int *reason;
  int count;
};

void run_walk(void *arg) {
  walk_job *job = (walk_job *)arg;
  // Read-ahead is started and ended on the walk's own thread, which it
  // watches.
  job->count = list_folder(job->root_path, job->sub, job->listed, job->list,
                           job->state, job->reason);
}
}  // namespace

int guarded_list(const char *root_path, const char *sub, const char *listed,
                 dir_entry *list, scan_state *state, int *stalled,
                 int *reason) {
  // Both outlive this call when the walk is given up.
  static walk_watch watch;
  static walk_job job;
  watch.steps.store(0);
  watch.listed.store(0);
  watch.stop.store(0);
  state->watch = &watch;
  job = walk_job{root_path, sub, listed, list, state, reason, 0};
  *stalled = 0;
  if (!storage_walk_start(run_walk, &job)) {
    run_walk(&job);  // no thread to be had: walked here, unwatched
    return job.count;
  }
  uint64_t seen = 0;
  uint64_t moved = storage_ticks_ms();
  while (!storage_walk_wait(WATCH_MS)) {
    uint64_t now = storage_ticks_ms();
    uint64_t steps = watch.steps.load(std::memory_order_relaxed);
    if (steps != seen) {
      seen = steps;
      moved = now;
    } else if (now - moved >= WALK_STALL_MS) {
      watch.stop.store(1, std::memory_order_relaxed);
      *stalled = 1;
      return watch.listed.load(std::memory_order_acquire);
    }
  }
  return job.count;
}
