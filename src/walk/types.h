// What kind of file a name tells (its extension), and the walk's table of
// the kinds it met: files, sizes and what they take on disk, by type.
#pragma once

#include <stdint.h>

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

// The extension of a name, lower-cased (A to Z only), as a key: its bytes
// last to first, NUL-padded. A name has none when it holds no dot, when
// its only dot is its first byte (".bashrc") or when it ends in a dot.
struct type_key {
  uint64_t w[2];
};

// Finds name's extension: returns TYPE_NONE, TYPE_ODD, or 0 with *key set.
int type_key_of(const char *name, type_key *key);

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

// The row of the table the file name counts in, the type made when new.
uint16_t type_row_of(type_table *t, const char *name);

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
