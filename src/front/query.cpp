#include "front/query.h"

#include <string.h>

static int hex_val(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes %XX and '+' in place. A '%' without two hex digits stays as is.
// Returns the decoded length, counting any zero byte a %00 gave.
static size_t url_decode(char *s) {
  char *out = s;
  for (const char *in = s; *in;) {
    int hi, lo;
    if (in[0] == '%' && (hi = hex_val((unsigned char)in[1])) >= 0 &&
        (lo = hex_val((unsigned char)in[2])) >= 0) {
      *out++ = (char)(hi * 16 + lo);
      in += 3;
    } else if (*in == '+') {
      *out++ = ' ';
      in++;
    } else {
      *out++ = *in++;
    }
  }
  *out = '\0';
  return (size_t)(out - s);
}

int get_query_val(const char *qs, const char *name, char *buf, size_t cap) {
  size_t len;
  return get_query_val_len(qs, name, buf, cap, &len);
}

int get_query_val_len(const char *qs, const char *name, char *buf, size_t cap,
                      size_t *len) {
  buf[0] = '\0';
  *len = 0;
  if (!qs || !*qs) return 0;
  size_t name_len = strlen(name);
  const char *seg = qs;
  for (;;) {
    if (strncmp(seg, name, name_len) == 0 && seg[name_len] == '=') break;
    const char *amp = strchr(seg, '&');
    if (!amp || !amp[1]) return 0;
    seg = amp + 1;
  }
  const char *val = seg + name_len + 1;
  size_t n = strcspn(val, "&");
  if (n > cap - 1) n = cap - 1;
  memcpy(buf, val, n);
  buf[n] = '\0';
  *len = url_decode(buf);
  return 1;
}
