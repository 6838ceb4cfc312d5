// What kind of file a name tells (its extension), and the walk's table of
// the kinds it met: files, sizes and what they take on disk, by type.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "walk/walk.h"

enum {
  // The longest extension told apart: a longer one ("x.some_long_suffix")
  // names no type people think of, and counts with the others.
  TYPE_EXT_MAX = 16,
  // Distinct types one walk tells apart, in a table twice as large so that
  // a lookup stays a probe or two. A real home holds a few hundred.
  TYPE_TABLE_MAX = 1024,
  TYPE_SLOTS = 2 * TYPE_TABLE_MAX,
  // Rows of the reply: the largest types, then one for the others.
  TYPES_SHOWN = 12,
};

// A file's row in the table: a slot below TYPE_SLOTS, or one of these.
enum {
  TYPE_NONE = TYPE_SLOTS,  // no extension
  TYPE_ODD,                // an extension longer than TYPE_EXT_MAX, or
                           // not UTF-8: no type
  TYPE_PAST,               // a type met once the table was full
  TYPE_ROWS,
  TYPE_NO_FILE = 0xffff,   // not counted by type (a link)
};

// The extension of a name, lower-cased (A to Z only), as a key: its
// bytes, NUL-padded to 16. A name has none when it holds no dot, when its
// only dot is its first byte (".bashrc") or when it ends in a dot.
struct type_key {
  uint64_t w[2];
};

// Finds the extension of name (n bytes), reading no byte outside it:
// returns TYPE_NONE, TYPE_ODD, or 0 with *key set. The road of the names
// type_row_of does not read itself.
int type_key_of(const char *name, size_t n, type_key *key);

// The extension a key holds, NUL-terminated, into text.
void type_text(const type_key *key, char text[TYPE_EXT_MAX + 1]);

struct type_slot {
  type_key key;  // w[0] == 0: free (an extension has a first byte)
  file_sum sum;
};

struct type_table {
  uint32_t used;
  type_slot slot[TYPE_ROWS];
};

// type_row_of past its first probe: the key's row from slot at on, made
// when new.
uint16_t type_row_from(type_table *t, const type_key *k, uint32_t at);

// ---- the road every counted file takes, kept short ----------------------

static const uint64_t TYPE_ONES = 0x0101010101010101ull;
static const uint64_t TYPE_HIGHS = 0x8080808080808080ull;

// Each byte of w that equals c, as its high bit (exactly: no false hits).
static inline uint64_t type_bytes_equal(uint64_t w, unsigned char c) {
  uint64_t x = w ^ (TYPE_ONES * c);
  return ~(((x & ~TYPE_HIGHS) + ~TYPE_HIGHS) | x) & TYPE_HIGHS;
}

// w with its bytes A to Z lowered; bytes from 0x80 up are left alone.
static inline uint64_t type_lowered(uint64_t w) {
  uint64_t low = w & ~TYPE_HIGHS;
  uint64_t from_a = low + TYPE_ONES * (0x80 - 'A');
  uint64_t past_z = low + TYPE_ONES * (0x80 - 'Z' - 1);
  return w | ((from_a & ~past_z & ~w & TYPE_HIGHS) >> 2);
}

// The row of the table the file name counts in, the type made when new.
// name lies in a buffer of at least 8 bytes. The extension is found in
// the name's last 8 bytes, read as one word: its last dot by a few word
// operations, and the bytes after it, lowered in place, are the key. A
// name without a dot there, or with bytes past ASCII after it, takes the
// plainer road of type_key_of.
static inline uint16_t type_row_of(type_table *t, const char *name) {
  size_t n = strlen(name);
  size_t at = n > 8 ? n - 8 : 0;
  unsigned len = (unsigned)(n - at);  // the name's bytes in the word
  uint64_t w;
  memcpy(&w, name + at, 8);
  if (len < 8) w &= (1ull << (8 * len)) - 1;  // past the name's end
  uint64_t dots = type_bytes_equal(w, '.');
  type_key k;
  if (dots) {
    unsigned dot = (unsigned)(63 - __builtin_clzll(dots)) >> 3;  // the last
    // A trailing dot, or one that only begins the name.
    if (dot + 1 == len || at + dot == 0) return TYPE_NONE;
    k.w[0] = type_lowered(w >> (8 * (dot + 1)));
    k.w[1] = 0;
    if (k.w[0] & TYPE_HIGHS) {
      int none = type_key_of(name, n, &k);
      if (none) return (uint16_t)none;
    }
  } else {
    if (n <= 8) return TYPE_NONE;
    int none = type_key_of(name, n, &k);
    if (none) return (uint16_t)none;
  }
  uint32_t at_slot = (uint32_t)(((k.w[0] ^ (k.w[1] * 0x9e3779b97f4a7c15ull)) *
                                 0xbf58476d1ce4e5b9ull) >> 40) & (TYPE_SLOTS - 1);
  const type_slot *s = &t->slot[at_slot];
  if (s->key.w[0] == k.w[0] && s->key.w[1] == k.w[1]) return (uint16_t)at_slot;
  return type_row_from(t, &k, at_slot);
}

// Whether the type of row a comes before that of row b: no extension
// first, then the extensions by their bytes, then TYPE_ODD, then
// TYPE_PAST.
int type_before(const type_table *t, int a, int b);

// One row of the reply.
struct type_row {
  int row;     // the table's row, or TYPE_ROWS for the others
  file_sum sum;
  int exact;   // 0 when a type the table could not hold may belong here
};

// The largest types of t (by disk, then size, then the extension's bytes;
// no extension sorts first), at most shown of them, then one row for
// everything else when it holds a file. A type is exact unless types were
// met past the table's capacity (TYPE_PAST) that together take as much
// on disk as it: one of them might rank above it. The others' row is
// exact unless it holds such types. Returns the rows written.
int type_rank(const type_table *t, int shown, type_row *rows);
