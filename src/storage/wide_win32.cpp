// Text and paths at the edge of the Windows backend (wide_win32.h).

#include "storage/wide_win32.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

size_t wide_to_utf8(const WCHAR *in, int len, char *out, size_t cap) {
  size_t n = 0;
  for (int i = 0; len < 0 ? in[i] != 0 : i < len; i++) {
    unsigned c = in[i];
    if (c >= 0xD800 && c <= 0xDBFF && (len < 0 || i + 1 < len) &&
        in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00u);
      i++;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    char b[4];
    size_t k;
    if (c < 0x80) {
      b[0] = (char)c;
      k = 1;
    } else if (c < 0x800) {
      b[0] = (char)(0xC0 | c >> 6);
      b[1] = (char)(0x80 | (c & 0x3F));
      k = 2;
    } else if (c < 0x10000) {
      b[0] = (char)(0xE0 | c >> 12);
      b[1] = (char)(0x80 | (c >> 6 & 0x3F));
      b[2] = (char)(0x80 | (c & 0x3F));
      k = 3;
    } else {
      b[0] = (char)(0xF0 | c >> 18);
      b[1] = (char)(0x80 | (c >> 12 & 0x3F));
      b[2] = (char)(0x80 | (c >> 6 & 0x3F));
      b[3] = (char)(0x80 | (c & 0x3F));
      k = 4;
    }
    if (n + k >= cap) break;
    memcpy(out + n, b, k);
    n += k;
  }
  out[n] = '\0';
  return n;
}

int utf8_to_wide(const char *in, WCHAR *out, int cap) {
  if (cap < 1) return -1;
  int n = MultiByteToWideChar(CP_UTF8, 0, in, -1, out, cap);
  if (n <= 0) {
    out[0] = 0;
    return -1;
  }
  return n - 1;
}

// "\\?\" or "\\.\": a path the system takes as it is.
static int is_verbatim(const WCHAR *p) {
  return (p[0] == L'\\' || p[0] == L'/') && (p[1] == L'\\' || p[1] == L'/') &&
         (p[2] == L'?' || p[2] == L'.') && (p[3] == L'\\' || p[3] == L'/');
}

int wide_long_path(const char *in, WCHAR *out, int cap) {
  if (utf8_to_wide(in, out, cap) <= 0) {
    out[0] = 0;
    return -1;
  }
  size_t n, body;  // body: where the path begins after its prefix
  if (is_verbatim(out)) {
    n = wcslen(out);
    body = 4;
  } else {
    // GetFullPathNameW does to the path what the system does to any path
    // it is given; the wide call is not held to MAX_PATH.
    WCHAR *full = (WCHAR *)malloc(WIDE_PATH_CAP * sizeof(WCHAR));
    DWORD f = full ? GetFullPathNameW(out, WIDE_PATH_CAP, full, NULL) : 0;
    const WCHAR *prefix = L"\\\\?\\";
    const WCHAR *rest = full;
    if (f > 0 && full[0] == L'\\' && full[1] == L'\\') {
      prefix = L"\\\\?\\UNC\\";  // \\server\share -> \\?\UNC\server\share
      rest = full + 2;
    }
    body = wcslen(prefix);
    n = f > 0 && f < WIDE_PATH_CAP ? body + wcslen(rest) : (size_t)cap;
    if (n < (size_t)cap) {
      memcpy(out, prefix, body * sizeof(WCHAR));
      memcpy(out + body, rest, (n - body) * sizeof(WCHAR));
    }
    free(full);
    if (n >= (size_t)cap) {
      out[0] = 0;
      return -1;
    }
  }
  // Trailing separators go, except a drive root's (C:\).
  while (n > body && out[n - 1] == L'\\' &&
         !(n - body == 3 && out[body + 1] == L':'))
    n--;
  out[n] = 0;
  return (int)n;
}
