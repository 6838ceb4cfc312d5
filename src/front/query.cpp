#include "front/query.h"

#include <string.h>

static int hex_val(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The byte the raw text s[*pos..n) begins with, decoded: %XX as its byte
// and '+' as a space; a '%' without two hex digits stays as is. Steps
// *pos over what it read.
static char decode_at(const char *s, size_t n, size_t *pos) {
  size_t i = *pos;
  int hi, lo;
  if (s[i] == '%' && i + 2 < n &&
      (hi = hex_val((unsigned char)s[i + 1])) >= 0 &&
      (lo = hex_val((unsigned char)s[i + 2])) >= 0) {
    *pos = i + 3;
    return (char)(hi * 16 + lo);
  }
  *pos = i + 1;
  return s[i] == '+' ? ' ' : s[i];
}

// Decodes %XX and '+' in place. Returns the decoded length, counting any
// zero byte a %00 gave.
static size_t url_decode(char *s) {
  size_t n = strlen(s), in = 0, out = 0;
  while (in < n) s[out++] = decode_at(s, n, &in);
  s[out] = '\0';
  return out;
}

int get_query_val(const char *qs, const char *name, char *buf, size_t cap) {
  size_t len;
  return get_query_val_len(qs, name, buf, cap, &len);
}

// The raw value of the first segment "name=..." of qs: *val and its
// length *n. Returns 1, or 0 when there is no such segment.
static int find_raw(const char *qs, const char *name, const char **val,
                    size_t *n) {
  if (!qs || !*qs) return 0;
  size_t name_len = strlen(name);
  const char *seg = qs;
  for (;;) {
    if (strncmp(seg, name, name_len) == 0 && seg[name_len] == '=') break;
    const char *amp = strchr(seg, '&');
    if (!amp || !amp[1]) return 0;
    seg = amp + 1;
  }
  *val = seg + name_len + 1;
  *n = strcspn(*val, "&");
  return 1;
}

int get_query_val_len(const char *qs, const char *name, char *buf, size_t cap,
                      size_t *len) {
  buf[0] = '\0';
  *len = 0;
  const char *val;
  size_t n;
  if (!find_raw(qs, name, &val, &n)) return 0;
  if (n > cap - 1) n = cap - 1;
  memcpy(buf, val, n);
  buf[n] = '\0';
  *len = url_decode(buf);
  return 1;
}

int get_query_count(const char *qs, const char *name, int max, int fallback) {
  const char *val;
  size_t n, pos = 0;
  if (!find_raw(qs, name, &val, &n) || !n) return fallback;
  int count = 0;
  while (pos < n) {
    char c = decode_at(val, n, &pos);
    if (c < '0' || c > '9') return fallback;
    if (count <= max) count = count * 10 + (c - '0');
  }
  return count < max ? count : max;
}
