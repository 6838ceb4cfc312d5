// The key of a mark of a stuck call.

#include "storage/mark_key.h"

#include <stdio.h>
#include <string.h>

// FNV-1a over the bytes of p, continuing from h.
static uint64_t fnv(uint64_t h, const void *p, size_t n) {
  const unsigned char *b = (const unsigned char *)p;
  for (size_t i = 0; i < n; i++) {
    h ^= b[i];
    h *= 1099511628211ull;
  }
  return h;
}

void mark_key(char kind, uint64_t dev, const char *path, char *out) {
  size_t n = strlen(path);
  uint64_t h1 = fnv(fnv(14695981039346656037ull, &dev, sizeof dev), path, n);
  uint64_t h2 = fnv(fnv(0x6a09e667f3bcc909ull, path, n), &dev, sizeof dev);
  snprintf(out, MARK_KEY_LEN, "%c/%016llx%016llx", kind,
           (unsigned long long)h1, (unsigned long long)h2);
}
