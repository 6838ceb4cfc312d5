// The largest entries directly inside each listed folder (detail=1): the
// second level of the dashboard's map, counted by the same walk.
#pragma once

#include <stdint.h>

#include "storage/storage.h"

enum {
  CHILDREN_MAX = 8,
  // Room for the names of one folder's children, each with its NUL: the
  // longest name a listing gives fits alone, eight of 127 bytes together.
  CHILDREN_NAMES_CAP = 1024,
};

// One child as the reply writes it.
struct entry_child {
  uint64_t bytes;       // its size, or the total beneath a folder
  uint64_t disk_bytes;  // what it takes on the volume
  uint16_t name_at;     // its name in the names room, NUL-terminated
  uint8_t is_dir;
  uint32_t nth;         // its place among the folder's entries as walked
};

// The children kept for one listed folder, first to last.
struct entry_children {
  int n;
  entry_child c[CHILDREN_MAX];
  char names[CHILDREN_NAMES_CAP];
};

// The ranking while one listed folder is walked: whole names, since any
// of them may still be pushed out.
struct child_slot {
  uint64_t bytes;
  uint64_t disk_bytes;
  int is_dir;
  uint32_t nth;
  char name[NAME_MAX_BYTES + 1];
};

struct children_rank {
  int n;
  unsigned char order[CHILDREN_MAX];  // slots, first to last
  child_slot slots[CHILDREN_MAX];
};

// More on disk first, then larger, then the name's bytes (strcmp): a
// total order, since no two entries of a folder share a name. Returns < 0
// when a ranks before b.
int children_cmp(const child_slot *a, const child_slot *b);

// Starts the ranking of the next listed folder.
static inline void children_begin(children_rank *r) { r->n = 0; }

// Weighs the child name, the folder's nth entry as walked (what was
// counted for it: bytes, disk_bytes) and keeps it when it ranks among the
// first CHILDREN_MAX.
void children_offer(children_rank *r, const char *name, int is_dir,
                    uint64_t bytes, uint64_t disk_bytes, uint32_t nth);

// Copies the ranking into out, first to last, for as many as their names
// fit in its room: a child whose name does not fit ends the list there, so
// the list is always the largest ones.
void children_keep(const children_rank *r, entry_children *out);

// The kept child that is the folder's nth entry as walked, or -1.
int children_find(const entry_children *k, uint32_t nth);

// Takes off each kept child what it gave up (given[i] for k->c[i]) once
// the walk has ended, and ranks them again.
void children_settle(entry_children *k, const uint64_t *given);
