// The storage layer on Windows: asking drives under a deadline.

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "storage/drives_win32.h"
#include "storage/storage.h"

// GetDriveTypeW, GetDiskFreeSpaceExW and GetVolumeInformationW on a
// network drive whose server is gone can block for a long time. Each drive is asked on a
// worker thread of its own, all at once; the caller waits for them until
// the deadline and gives up on the rest. A worker given up keeps its own
// copy of everything it reads and writes, so it can finish whenever it
// likes; the process does not wait for it (storage_finish).

namespace {
struct probe_job {
  drive_row row;     // the worker's own copy
  int want_name;
  drive_probe probe;
};

int gave_up;  // some worker was left behind

DWORD WINAPI probe_worker(LPVOID arg) {
  probe_job *job = (probe_job *)arg;
  drive_probe *p = &job->probe;
  // Under Wine even the drive type is read from the file system itself.
  p->drive_type = storage_drive_type(job->row.mount);
  p->space_ok = storage_space(job->row.mount, &p->space);
  if (p->space_ok && job->want_name)
    p->name_ok = storage_fs_name(&job->row, p->fs_name, sizeof p->fs_name);
  p->answered = 1;
  return 0;
}
}  // namespace

void storage_probe(const drive_row *const *rows, int n, int want_name,
                   int deadline_ms, drive_probe *out) {
  for (int i = 0; i < n; i++) memset(&out[i], 0, sizeof out[i]);
  if (n <= 0) return;
  // Freed only when every worker has ended: one given up may still write
  // to its job.
  probe_job *jobs = (probe_job *)calloc((size_t)n, sizeof *jobs);
  HANDLE *threads = (HANDLE *)calloc((size_t)n, sizeof *threads);
  if (!jobs || !threads) {
    free(jobs);
    free(threads);
    return;
  }
  for (int i = 0; i < n; i++) {
    jobs[i].row = *rows[i];
    jobs[i].want_name = want_name;
    threads[i] = CreateThread(NULL, 64 * 1024, probe_worker, &jobs[i],
                              STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
    if (!threads[i]) probe_worker(&jobs[i]);  // asked here, without a deadline
  }
  ULONGLONG end = GetTickCount64() + (ULONGLONG)deadline_ms;
  int all_ended = 1;
  for (int i = 0; i < n; i++) {
    if (threads[i]) {
      ULONGLONG now = GetTickCount64();
      DWORD wait = now < end ? (DWORD)(end - now) : 0;
      if (WaitForSingleObject(threads[i], wait) != WAIT_OBJECT_0) {
        all_ended = 0;
        CloseHandle(threads[i]);
        continue;  // given up: its answer is never read
      }
      CloseHandle(threads[i]);
    }
    out[i] = jobs[i].probe;
  }
  free(threads);
  if (all_ended)
    free(jobs);
  else
    gave_up = 1;
}

// A worker still blocked in the system would keep the process, and the
// standard output handle the host reads to its end, alive: the reply is
// handed over and the handle closed, and the process ends without waiting.
void storage_finish(void) {
  if (!gave_up) return;
  fflush(stdout);
  CloseHandle(GetStdHandle(STD_OUTPUT_HANDLE));
  TerminateProcess(GetCurrentProcess(), 0);
}

