// The storage layer on Windows: the process, the clock, the environment
// and the text of the calls.

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "storage/storage.h"
#include "storage/text_win32.h"

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
void text_up(const char *in, char *out, int cap) {
  if (acp_is_utf8()) snprintf(out, (size_t)cap, "%s", in);
  else convert(CP_ACP, CP_UTF8, in, out, cap);
}

// A UTF-8 path into the platform's text.
void text_down(const char *in, char *out, int cap) {
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

