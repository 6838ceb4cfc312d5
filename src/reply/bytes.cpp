#include "reply/bytes.h"

#include <stdarg.h>
#include <string.h>

FILE *reply_stream;

FILE *reply_out(void) { return reply_stream ? reply_stream : stdout; }

void out_bytes(const char *s, size_t n) { fwrite(s, 1, n, reply_out()); }

void out_fmt(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vfprintf(reply_out(), fmt, ap);
  va_end(ap);
}

int utf8_seq_len(const unsigned char *s) {
  unsigned char c = s[0];
  unsigned char lo = 0x80, hi = 0xBF;  // the allowed range of s[1]
  int len;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (s[1] < lo || s[1] > hi) return 0;
  for (int i = 2; i < len; i++)
    if (s[i] < 0x80 || s[i] > 0xBF) return 0;  // the NUL stops here too
  return len;
}

void copy_str(char *dst, size_t cap, const char *src) {
  if (!src) {
    dst[0] = '\0';
    return;
  }
  size_t n = strlen(src);
  if (n >= cap) n = cap - 1;
  memcpy(dst, src, n);
  dst[n] = '\0';
}
