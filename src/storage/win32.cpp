// The storage layer on Windows: kernel32's drive, volume and find calls.

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "storage/storage.h"

const char storage_platform[] = "windows";
const char storage_sep = '\\';

// Text-mode standard output would turn every LF into CR LF.
void storage_start(void) { _setmode(_fileno(stdout), _O_BINARY); }

long storage_pid(void) { return (long)GetCurrentProcessId(); }

int64_t storage_time(void) { return (int64_t)_time64(NULL); }

int storage_gmtime(int64_t t, struct tm *out) {
  __time64_t tt = (__time64_t)t;
  return _gmtime64_s(out, &tt) == 0;
}

uint64_t storage_ticks_ms(void) { return (uint64_t)GetTickCount64(); }

// ---- text ------------------------------------------------------------
//
// Texts above this layer are UTF-8. The manifest makes UTF-8 the code page
// of the ANSI calls, so nothing needs converting; Windows before 10 1903
// ignores it, and there names are turned from the legacy code page into
// UTF-8 on the way up and paths back on the way down. A text that cannot
// be converted is passed on as it is.

static int acp_is_utf8(void) {
  static int known = -1;
  if (known < 0) known = GetACP() == CP_UTF8;
  return known;
}

// in (code page from) into out (code page to, capacity cap), terminated.
static void convert(UINT from, UINT to, const char *in, char *out, int cap) {
  WCHAR wide[1024];
  int n = MultiByteToWideChar(from, 0, in, -1, wide, 1024);
  if (n <= 0 || WideCharToMultiByte(to, 0, wide, -1, out, cap, NULL, NULL) <= 0) {
    snprintf(out, (size_t)cap, "%s", in);
    return;
  }
  out[cap - 1] = '\0';
}

// A text of the platform's into UTF-8.
static void text_up(const char *in, char *out, int cap) {
  if (acp_is_utf8()) snprintf(out, (size_t)cap, "%s", in);
  else convert(CP_ACP, CP_UTF8, in, out, cap);
}

// A UTF-8 path into the platform's text.
static void text_down(const char *in, char *out, int cap) {
  if (acp_is_utf8()) snprintf(out, (size_t)cap, "%s", in);
  else convert(CP_UTF8, CP_ACP, in, out, cap);
}

const char *storage_home(void) {
  const char *home = getenv("USERPROFILE");
  if (!home || acp_is_utf8()) return home;
  static char utf8[3 * 1024];
  text_up(home, utf8, sizeof utf8);
  return utf8;
}

// ---- drives ----------------------------------------------------------

int storage_each_drive(drive_fn fn, void *ctx) {
  char list[511];
  DWORD len = GetLogicalDriveStringsA(sizeof list, list);
  // A list that did not fit is reported by a length above the buffer's.
  if (len == 0 || len > sizeof list) return 0;
  int rows = 0;
  drive_row row;
  for (const char *root = list; *root; root += strlen(root) + 1) {
    memset(&row, 0, sizeof row);
    row.kind = DRIVE_LETTERS;  // its type comes from storage_probe
    snprintf(row.device, sizeof row.device, "%s", root);
    snprintf(row.mount, sizeof row.mount, "%s", root);
    fn(&row, ctx);
    rows++;
  }
  return rows;
}

int storage_space(const char *path, space_info *out) {
  ULARGE_INTEGER avail, total, free_bytes;
  if (!GetDiskFreeSpaceExA(path, &avail, &total, &free_bytes)) return 0;
  out->total = total.QuadPart;
  out->free = free_bytes.QuadPart;
  out->avail = avail.QuadPart;
  out->inodes_total = 0;
  out->inodes_free = 0;
  out->has_inodes = 0;
  return 1;
}

int storage_fs_name(const drive_row *row, char *buf, size_t cap) {
  char name[64];
  if (!GetVolumeInformationA(row->mount, NULL, 0, NULL, NULL, NULL, name,
                             sizeof name))
    return 0;
  text_up(name, buf, (int)cap);
  return 1;
}

// ---- asking drives that may not answer -------------------------------
//
// GetDriveTypeA, GetDiskFreeSpaceExA and GetVolumeInformationA on a
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
  p->drive_type = (int)GetDriveTypeA(job->row.mount);
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

// Only a path in drive form ("C:...") names a volume: "C:\".
int storage_volume_of(const char *path, char *buf, size_t cap) {
  if (!path[0] || path[1] != ':' || cap < 4) return 0;
  buf[0] = path[0];
  buf[1] = ':';
  buf[2] = '\\';
  buf[3] = '\0';
  return 1;
}

// ---- folders ---------------------------------------------------------

static void to_item(const WIN32_FIND_DATAA *fd, dir_item *item) {
  text_up(fd->cFileName, item->name, sizeof item->name);
  item->is_dir = (fd->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // Junctions and mounted folders are reparse points here.
  item->is_link = (fd->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  item->is_mount = 0;
  item->size = item->is_dir ? 0
                            : ((uint64_t)fd->nFileSizeHigh << 32) | fd->nFileSizeLow;
}

int storage_dir_open(dir_iter *it, const dir_iter *, const char *,
                     const char *path) {
  char native[1024];
  text_down(path, native, sizeof native);
  char pattern[1024 + 2];  // any path of up to 1023 bytes, "\" and "*"
  snprintf(pattern, sizeof pattern, "%s\\*", native);
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA(pattern, &fd);
  if (h == INVALID_HANDLE_VALUE) return 0;
  it->handle = h;
  to_item(&fd, &it->first);
  it->has_first = 1;
  return 1;
}

int storage_dir_next(dir_iter *it, dir_item *item) {
  if (it->has_first) {
    *item = it->first;
    it->has_first = 0;
    return 1;
  }
  WIN32_FIND_DATAA fd;
  if (!FindNextFileA((HANDLE)it->handle, &fd)) return 0;
  to_item(&fd, item);
  return 1;
}

void storage_dir_close(dir_iter *it) { FindClose((HANDLE)it->handle); }

// ---- read-ahead --------------------------------------------------------
// None here: the walk lists each folder as it comes to it.

void storage_readahead_begin(const char *, int, int, uint64_t) {}
void storage_readahead_end(void) {}
