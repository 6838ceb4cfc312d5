#include "metrics/text_format.h"

#include <stdio.h>
#include <string.h>

#include "reply/bytes.h"

void metrics_header(void) {
  OUT_LIT("Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n"
          "Cache-Control: no-store\r\n"
          "X-Content-Type-Options: nosniff\r\n"
          "\r\n");
}

void metrics_family(const char *name, const char *help) {
  out_fmt("# HELP %s %s\n# TYPE %s gauge\n", name, help, name);
}

void metrics_counter_family(const char *name, const char *help) {
  out_fmt("# HELP %s %s\n# TYPE %s counter\n", name, help, name);
}

// The next character of a label value at *s, which is stepped over: a
// well-formed UTF-8 sequence or a byte below 0x80 gives its length, a
// byte that begins nothing 0 (it stands for U+FFFD).
static int next_char(const unsigned char **s) {
  const unsigned char *p = *s;
  int len = *p < 0x80 ? 1 : utf8_seq_len(p);
  *s = p + (len ? len : 1);
  return len;
}

static const char replacement[] = "\xEF\xBF\xBD";  // U+FFFD

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
      fputs(replacement, f);
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
    const unsigned char *cx = x, *cy = y;
    int lx = next_char(&x), ly = next_char(&y);
    // What each writes: its own bytes, or U+FFFD's.
    if (!lx) {
      cx = (const unsigned char *)replacement;
      lx = 3;
    }
    if (!ly) {
      cy = (const unsigned char *)replacement;
      ly = 3;
    }
    if (lx != ly || memcmp(cx, cy, (size_t)lx) != 0) return 0;
  }
  return !*x && !*y;
}

void metrics_value(uint64_t v) { out_fmt(" %llu\n", (unsigned long long)v); }

void metrics_seconds(long long ms) {
  if (ms < 0) ms = 0;
  out_fmt(" %lld.%03lld\n", ms / 1000, ms % 1000);
}
