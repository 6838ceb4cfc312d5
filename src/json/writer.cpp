#include "json/writer.h"

#include <stdarg.h>
#include <string.h>
#include <time.h>

#include "storage/storage.h"

FILE *reply_stream;

FILE *reply_out(void) { return reply_stream ? reply_stream : stdout; }

void out_bytes(const char *s, size_t n) { fwrite(s, 1, n, reply_out()); }

void out_fmt(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vfprintf(reply_out(), fmt, ap);
  va_end(ap);
}

void json_header(void) {
  OUT_LIT("Content-Type: application/json; charset=utf-8\r\n"
          "Cache-Control: no-store\r\n"
          "X-Content-Type-Options: nosniff\r\n"
          "\r\n");
}

void json_str(const char *s) {
  FILE *f = reply_out();
  putc('"', f);
  if (s) {
    // Runs of bytes that need no escape go out in one write.
    const char *run = s;
    for (; *s; s++) {
      unsigned char c = (unsigned char)*s;
      if (c >= 0x20 && c != '"' && c != '\\') continue;
      if (s > run) fwrite(run, 1, (size_t)(s - run), f);
      run = s + 1;
      switch (c) {
        case '\t': fputs("\\t", f); break;
        case '\n': fputs("\\n", f); break;
        case '\r': fputs("\\r", f); break;
        case '"': fputs("\\\"", f); break;
        case '\\': fputs("\\\\", f); break;
        default: fprintf(f, "\\u%04x", c); break;
      }
    }
    if (s > run) fwrite(run, 1, (size_t)(s - run), f);
  }
  putc('"', f);
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

double pct_of(uint64_t n, uint64_t d) {
  if (d == 0) return 0.0;
  double p = (double)n * 100.0 / (double)d;
  if (p < 0.0) return 0.0;
  if (p > 100.0) return 100.0;
  return p;
}

static const char epoch_stamp[] = "1970-01-01T00:00:00Z";

void format_stamp(int64_t t, char *buf) {
  struct tm tm;
  if (!storage_gmtime(t, &tm) ||
      strftime(buf, STAMP_CAP, "%Y-%m-%dT%H:%M:%SZ", &tm) == 0)
    memcpy(buf, epoch_stamp, sizeof epoch_stamp);
}

void make_stamp(char *buf) { format_stamp(storage_time(), buf); }
