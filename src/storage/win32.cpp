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

// _dup2 closes the handle a descriptor held (the host's pipe: the host
// sees end of file once no handle of this process holds it) and gives the
// descriptor a handle of NUL; the process's standard handles follow.
void storage_end_reply(void) {
  fflush(stdout);
  int null_fd = _open("NUL", _O_RDWR | _O_BINARY);
  if (null_fd < 0) return;
  static const DWORD std_of[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE,
                                  STD_ERROR_HANDLE};
  for (int fd = 0; fd <= 2; fd++) {
    if (fd == null_fd) continue;
    if (_dup2(null_fd, fd) == 0)
      SetStdHandle(std_of[fd], (HANDLE)_get_osfhandle(fd));
  }
  if (null_fd > 2) _close(null_fd);
}

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

// "C:\" and "C:/" name a volume; "\\server\share" and "\\?\..." are
// absolute on their own. "C:x" and "\x" depend on the current folder of a
// drive or on the current drive.
int storage_path_absolute(const char *path) {
  char c = path[0];
  int letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  if (letter && path[1] == ':') return path[2] == '\\' || path[2] == '/';
  return (c == '\\' || c == '/') && (path[1] == '\\' || path[1] == '/');
}

// The listing's entry for a folder tells its allocation and time already.
int storage_dir_self(const dir_iter *, dir_item *) { return 0; }
