// The storage layer on Windows: asking drives under a deadline.

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "storage/drives_win32.h"
#include "storage/marks_win32.h"
#include "storage/storage.h"

// GetDriveTypeW, GetDiskFreeSpaceExW and GetVolumeInformationW on a
// network drive whose server is gone can block for a long time. Each drive is asked on a
// worker thread of its own, all at once; the caller waits for them until
// the deadline and gives up on the rest. A worker given up keeps its own
// copy of everything it reads and writes, so it can finish whenever it
// likes. A drive given up is marked (marks_win32.cpp), keyed by its root
// and the device its letter names, until its worker ends, so that later
// requests leave it out at once; the process hands its reply over and
// stays only for that (storage_finish).

namespace {
struct probe_job {
  drive_row row;     // the worker's own copy
  int want;          // PROBE_* bits
  drive_probe probe;
};

// What a drive is keyed by: its root and the device its letter names
// (QueryDosDevice asks the object manager, never the file system), so that
// a letter mapped anew is not taken for the one that is stuck.
void drive_key(const drive_row *row, char *buf, size_t cap) {
  char letter[3] = {row->mount[0], ':', '\0'};
  char target[512];
  if (!row->mount[0] || row->mount[1] != ':' ||
      !QueryDosDeviceA(letter, target, sizeof target))
    target[0] = '\0';
  snprintf(buf, cap, "%s|%s", row->mount, target);
}

HANDLE drive_mark(const drive_row *row) {
  char key[1024 + 512 + 2];
  drive_key(row, key, sizeof key);
  return mark_take('d', 0, key);
}

DWORD WINAPI probe_worker(LPVOID arg) {
  probe_job *job = (probe_job *)arg;
  drive_probe *p = &job->probe;
  // Under Wine even the drive type is read from the file system itself.
  p->drive_type = storage_drive_type(job->row.mount);
  p->space_ok = storage_space(job->row.mount, &p->space);
  // The volume's flags come with its name: whether it is read-only.
  if (p->space_ok && (job->want & PROBE_NAME))
    p->name_ok = storage_volume_name(job->row.mount, p->fs_name,
                                     sizeof p->fs_name, &p->space.readonly);
  // A network drive's volume is the server's: nothing to ask of it.
  if (p->space_ok && (job->want & PROBE_ERRORS) && p->drive_type != DRIVE_REMOTE)
    p->errors_ok = storage_fs_errors(&job->row, &p->errors);
  p->answered = 1;
  return 0;
}
}  // namespace

void storage_probe(const drive_row *const *rows, int n, int want,
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
    jobs[i].want = want;
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
        // Given up: its answer is never read. Marked before the reply.
        mark_until_ended(threads[i], drive_mark(&jobs[i].row));
        continue;
      }
      CloseHandle(threads[i]);
    }
    out[i] = jobs[i].probe;
  }
  free(threads);
  if (all_ended) free(jobs);
}

// A worker still blocked in the system keeps the process alive: the reply
// is ended (storage_end_reply) and the process stays only to hold
// the workers' marks until they end.
void storage_finish(void) {
  if (marks_waiting()) marks_hold_to_end();
}

int storage_drive_stuck(const drive_row *row) {
  char key[1024 + 512 + 2];
  drive_key(row, key, sizeof key);
  return mark_held('d', 0, key);
}

// Drive letters are keyed by their root and device name (drive_key).
uint64_t storage_device_of(const char *) { return 0; }
