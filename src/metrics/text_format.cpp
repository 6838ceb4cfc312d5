#include "metrics/text_format.h"

#include <stdio.h>

#include "json/writer.h"

void metrics_header(void) {
  OUT_LIT("Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n"
          "Cache-Control: no-store\r\n"
          "X-Content-Type-Options: nosniff\r\n"
          "\r\n");
}

void metrics_family(const char *name, const char *help) {
  out_fmt("# HELP %s %s\n# TYPE %s gauge\n", name, help, name);
}

// The next character of a label value at *s: its bytes (a well-formed
// UTF-8 sequence, or one byte below 0x80) are stepped over and their
// length returned; 0 for a byte that begins nothing, which stands for
// U+FFFD and is stepped over too.
static int next_char(const unsigned char **s) {
  const unsigned char *p = *s;
  int len = *p < 0x80 ? 1 : utf8_seq_len(p);
  *s = p + (len ? len : 1);
  return len;
}

void metrics_label_value(const char *s) {
  FILE *f = reply_out();
  putc('"', f);
  // Runs of bytes that need nothing done go out in one write.
  const unsigned char *p = (const unsigned char *)s;
  const unsigned char *run = p;
  while (*p) {
    unsigned char c = *p;
    const unsigned char *at = p;
    int len = next_char(&p);
    if (len && c != '"' && c != '\\' && c != '\n') continue;
    if (at > run) fwrite(run, 1, (size_t)(at - run), f);
    run = p;
    if (!len)
      fputs("\xEF\xBF\xBD", f);
    else if (c == '\n')
      fputs("\\n", f);
    else {
      putc('\\', f);
      putc(c, f);
    }
  }
  if (p > run) fwrite(run, 1, (size_t)(p - run), f);
  putc('"', f);
}

int metrics_label_equal(const char *a, const char *b) {
  const unsigned char *x = (const unsigned char *)a;
  const unsigned char *y = (const unsigned char *)b;
  while (*x && *y) {
    const unsigned char *x0 = x, *y0 = y;
    int lx = next_char(&x), ly = next_char(&y);
    if (lx != ly) return 0;
    for (int i = 0; i < lx; i++)
      if (x0[i] != y0[i]) return 0;
  }
  return !*x && !*y;
}

void metrics_value(uint64_t v) { out_fmt(" %llu\n", (unsigned long long)v); }

void metrics_seconds(long long ms) {
  if (ms < 0) ms = 0;
  out_fmt(" %lld.%03lld\n", ms / 1000, ms % 1000);
}
