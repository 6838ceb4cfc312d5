// The storage layer on Windows: the folder walk on a thread of its own,
// and what is left of the process when a walk is given up (see
// marks_win32.cpp).

#include <windows.h>

#include "storage/marks_win32.h"
#include "storage/storage.h"

namespace {
struct walk_run {
  void (*fn)(void *);
  void *arg;
};

walk_run run;
HANDLE walker;
int ended;

DWORD WINAPI walk_thread(LPVOID) {
  run.fn(run.arg);
  return 0;
}
}  // namespace

int storage_walk_start(void (*fn)(void *), void *arg) {
  run = walk_run{fn, arg};
  ended = 0;
  walker = CreateThread(NULL, 0, walk_thread, NULL, 0, NULL);
  return walker != NULL;
}

int storage_walk_wait(int ms) {
  if (ended) return 1;
  if (WaitForSingleObject(walker, (DWORD)ms) != WAIT_OBJECT_0) return 0;
  CloseHandle(walker);
  ended = 1;
  return 1;
}

int storage_walk_stuck(uint64_t dev, const char *path) {
  return mark_held('w', dev, path);
}

void storage_walk_abandon(uint64_t dev, const char *path) {
  mark_until_ended(walker, mark_take('w', dev, path));
  marks_hold_to_end();
}
