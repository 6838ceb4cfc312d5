// The type of a file by its name's extension, and the table of types.
#include "walk/types.h"

#include <stdint.h>
#include <string.h>

#include "reply/bytes.h"

// Whether s[0..n) is well-formed UTF-8 (no overlong form, no surrogate,
// nothing past U+10FFFF). A sequence cut at n may be read up to 3 bytes
// past it: the caller's s holds zeros there.
static int utf8_whole(const unsigned char *s, size_t n) {
  for (size_t i = 0; i < n;) {
    size_t len = s[i] < 0x80 ? 1 : (size_t)utf8_seq_len(s + i);
    if (!len || i + len > n) return 0;
    i += len;
  }
  return 1;
}

void type_text(const type_key *key, char text[TYPE_EXT_MAX + 1]) {
  memcpy(text, &key->w[0], 8);
  memcpy(text + 8, &key->w[1], 8);
  text[TYPE_EXT_MAX] = '\0';
}

// The key of the n bytes at ext (1 to 16), lowered; TYPE_ODD when they
// are not UTF-8.
static int key_of(const char *ext, size_t n, type_key *key) {
  // Zeros past the n bytes: the key's words, and utf8_whole may look there.
  unsigned char buf[TYPE_EXT_MAX + 4] = {0};
  memcpy(buf, ext, n);
  uint64_t w[2];
  memcpy(w, buf, sizeof w);
  key->w[0] = type_lowered(w[0]);
  key->w[1] = type_lowered(w[1]);
  if (((key->w[0] | key->w[1]) & TYPE_HIGHS) && !utf8_whole(buf, n)) return TYPE_ODD;
  return 0;
}

int type_key_of(const char *name, size_t n, type_key *key) {
  // Looked for in [lim, end), from the end, a word at a time while one
  // fits: the first dot met is the last.
  size_t lim = n > TYPE_EXT_MAX + 1 ? n - TYPE_EXT_MAX - 1 : 0, end = n;
  size_t dot = SIZE_MAX;
  while (dot == SIZE_MAX && end >= lim + 8) {
    uint64_t w;
    memcpy(&w, name + end - 8, 8);
    uint64_t dots = type_bytes_equal(w, '.');
    end -= 8;
    if (dots) dot = end + ((unsigned)(63 - __builtin_clzll(dots)) >> 3);
  }
  while (dot == SIZE_MAX && end > lim)
    if (name[--end] == '.') dot = end;
  // No dot in reach: an extension too long, if a dot comes earlier (but
  // for one that only begins the name).
  if (dot == SIZE_MAX)
    return lim > 1 && memchr(name + 1, '.', lim - 1) ? TYPE_ODD : TYPE_NONE;
  // A trailing dot, or one that only begins the name.
  if (dot + 1 == n || dot == 0) return TYPE_NONE;
  return key_of(name + dot + 1, n - dot - 1, key);
}

uint16_t type_row_from(type_table *t, const type_key *k, uint32_t at) {
  uint32_t mask = TYPE_SLOTS - 1;
  for (uint32_t i = at;; i = (i + 1) & mask) {
    type_slot *s = &t->slot[i];
    if (s->key.w[0] == k->w[0] && s->key.w[1] == k->w[1]) return (uint16_t)i;
    if (!s->key.w[0]) {
      if (t->used >= TYPE_TABLE_MAX) return TYPE_PAST;
      s->key = *k;
      t->used++;
      return (uint16_t)i;
    }
  }
}

// Where a row's type stands among the kinds: no extension, extensions,
// then the rows that are no type.
static int kind_rank(int row) {
  return row == TYPE_NONE ? 0 : row < TYPE_SLOTS ? 1 : row == TYPE_ODD ? 2 : 3;
}

int type_before(const type_table *t, int a, int b) {
  if (kind_rank(a) != kind_rank(b)) return kind_rank(a) < kind_rank(b);
  if (a >= TYPE_SLOTS || a == b) return 0;
  char ta[TYPE_EXT_MAX + 1], tb[TYPE_EXT_MAX + 1];
  type_text(&t->slot[a].key, ta);
  type_text(&t->slot[b].key, tb);
  return strcmp(ta, tb) < 0;
}

// Whether row a of t ranks before row b: more on disk, then larger, then
// the type (no extension first).
static int ranks_before(const type_table *t, int a, int b) {
  const file_sum *x = &t->slot[a].sum, *y = &t->slot[b].sum;
  if (x->disk_bytes != y->disk_bytes) return x->disk_bytes > y->disk_bytes;
  if (x->bytes != y->bytes) return x->bytes > y->bytes;
  return type_before(t, a, b);
}

int type_rank(const type_table *t, int shown, type_row *rows) {
  if (shown > TYPES_SHOWN) shown = TYPES_SHOWN;
  // The first shown rows by insertion: a table of at most 1025 types.
  int top[TYPES_SHOWN], n = 0;
  for (int r = 0; r <= TYPE_NONE; r++) {
    if (r < TYPE_SLOTS && !t->slot[r].key.w[0]) continue;
    if (!t->slot[r].sum.files) continue;
    if (n == shown && (n == 0 || !ranks_before(t, r, top[n - 1]))) continue;
    int at = n < shown ? n++ : n - 1;
    while (at > 0 && ranks_before(t, r, top[at - 1])) {
      top[at] = top[at - 1];
      at--;
    }
    top[at] = r;
  }
  const file_sum *past = &t->slot[TYPE_PAST].sum;
  file_sum rest = {0, 0, 0};
  for (int r = 0; r < TYPE_ROWS; r++) {
    int listed = 0;
    for (int i = 0; i < n && !listed; i++) listed = top[i] == r;
    if (!listed) file_sum_add(&rest, &t->slot[r].sum);
  }
  for (int i = 0; i < n; i++) {
    rows[i].row = top[i];
    rows[i].sum = t->slot[top[i]].sum;
    rows[i].exact = !past->files || rows[i].sum.disk_bytes > past->disk_bytes;
  }
  if (rest.files) {
    rows[n].row = TYPE_ROWS;
    rows[n].sum = rest;
    rows[n].exact = !past->files;
    n++;
  }
  return n;
}
