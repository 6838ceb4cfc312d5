#include "walk/sub_path.h"

#include <string.h>

#include "plugin.h"

int check_sub(const char *val, size_t len, char *norm, size_t cap) {
  norm[0] = '\0';
  // One trailing '/' is allowed: "Music/" is the folder "Music".
  if (len > 1 && val[len - 1] == '/') len--;
  if (len > MAX_SUB_BYTES) return SUB_TOO_LONG;
  if (len == 0 || len >= cap) return SUB_INVALID;
  size_t name_start = 0;
  for (size_t i = 0; i <= len; i++) {
    char c = i < len ? val[i] : '/';
    if (c == '\0' || c == '\\' || c == ':') return SUB_INVALID;
    if (c != '/') continue;
    size_t n = i - name_start;
    const char *name = val + name_start;
    if (n == 0) return SUB_INVALID;  // a leading '/' or "a//b"
    if (name[0] == '.' && (n == 1 || (n == 2 && name[1] == '.')))
      return SUB_INVALID;
    name_start = i + 1;
  }
  memcpy(norm, val, len);
  norm[len] = '\0';
  return SUB_OK;
}
