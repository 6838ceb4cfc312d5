// The storage layer on Windows: the process, the clock and the
// environment.

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <time.h>

#include "storage/storage.h"
#include "storage/wide_win32.h"

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

// USERPROFILE as UTF-8, read through the wide call: the 8-bit one would
// hand it over in the legacy code page. NULL when it is not set.
const char *storage_home(void) {
  static WCHAR wide[WIDE_PATH_CAP];
  static char utf8[3 * WIDE_PATH_CAP];
  SetLastError(0);
  DWORD n = GetEnvironmentVariableW(L"USERPROFILE", wide, WIDE_PATH_CAP);
  if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return NULL;
  if (n >= WIDE_PATH_CAP) return NULL;  // longer than any path can be
  wide_to_utf8(wide, (int)n, utf8, sizeof utf8);
  return utf8;
}

// The listing's entry for a folder tells its allocation and time already.
int storage_dir_self(const dir_iter *, dir_item *) { return 0; }
