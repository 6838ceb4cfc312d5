#include "json/writer.h"

#include <string.h>
#include <time.h>

#include "storage/storage.h"

void json_header(void) {
  OUT_LIT("Content-Type: application/json; charset=utf-8\r\n"
          "Cache-Control: no-store\r\n"
          "X-Content-Type-Options: nosniff\r\n"
          "\r\n");
}

// s without its quotation marks, as json_str writes it.
static void json_chars(FILE *f, const char *s) {
  // Runs of bytes that need nothing done go out in one write.
  const char *run = s;
  while (*s) {
    unsigned char c = (unsigned char)*s;
    if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\') {
      s++;
      continue;
    }
    if (c >= 0x80) {
      int len = utf8_seq_len((const unsigned char *)s);
      if (len) {
        s += len;
        continue;
      }
    }
    if (s > run) fwrite(run, 1, (size_t)(s - run), f);
    run = ++s;
    switch (c) {
      case '\t': fputs("\\t", f); break;
      case '\n': fputs("\\n", f); break;
      case '\r': fputs("\\r", f); break;
      case '"': fputs("\\\"", f); break;
      case '\\': fputs("\\\\", f); break;
      default:
        if (c >= 0x80) fputs("\xEF\xBF\xBD", f);
        else fprintf(f, "\\u%04x", c);
        break;
    }
  }
  if (s > run) fwrite(run, 1, (size_t)(s - run), f);
}

// Every reply says it is UTF-8, so it must be, whatever bytes a name
// holds: valid UTF-8 goes out unchanged and each byte that is not part of
// a well-formed sequence becomes U+FFFD.
void json_str(const char *s) {
  FILE *f = reply_out();
  putc('"', f);
  if (s) json_chars(f, s);
  putc('"', f);
}

void json_path(const char *dir, char sep, const char *name) {
  FILE *f = reply_out();
  putc('"', f);
  json_chars(f, dir);
  char between[2] = {sep, '\0'};
  json_chars(f, between);
  json_chars(f, name);
  putc('"', f);
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

void format_clamped_stamp(int64_t t, char *buf) {
  const int64_t last = 253402300799;  // 9999-12-31T23:59:59Z
  if (t < 0) t = 0;
  if (t > last) t = last;
  int64_t days = t / 86400, secs = t % 86400;
  // Days since 1970-01-01 to a civil date (the proleptic Gregorian
  // calendar), counted in 400-year eras from 0000-03-01.
  int64_t z = days + 719468;
  int64_t era = z / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int day = (int)(doy - (153 * mp + 2) / 5 + 1);
  int month = (int)(mp < 10 ? mp + 3 : mp - 9);
  int year = (int)(yoe + era * 400 + (month <= 2));
  snprintf(buf, STAMP_CAP, "%04d-%02d-%02dT%02d:%02d:%02dZ", year, month, day,
           (int)(secs / 3600), (int)(secs / 60 % 60), (int)(secs % 60));
}

int64_t make_stamp(char *buf) {
  int64_t now = storage_time();
  format_stamp(now, buf);
  return now;
}
