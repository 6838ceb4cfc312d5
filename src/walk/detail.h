// The detail walk (detail=1): what the walk counts beyond the sizes.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <atomic>

#include "walk/walk.h"
#include "walk/ages.h"
#include "walk/children.h"
#include "walk/largest.h"
#include "walk/links_seen.h"
#include "walk/types.h"

struct detail_state {
  tree_sum folder;        // every entry of the listed folder, listed or not
  links_seen links;
  largest_list largest;
  // The files counted, by type and by age band (seen at now, the reply's
  // own time): each adds its size and its name to its rows, and what it
  // takes on disk as the entry that holds it does.
  int64_t now;
  file_sum ages[AGE_BANDS];
  type_table types;
  char dir[LARGEST_PATH_CAP];  // the folder being walked, below the listed
  size_t dir_len;              // one (platform separator between names)
  uint16_t dir_ends[LARGEST_NAMES];  // where each name of dir ends
  int dir_names;
  // The entry of the listed folder being walked: its index in list, or
  // LINKS_UNLISTED past the listing's cap, and its name.
  dir_entry *list;
  uint32_t entry;
  const char *entry_name;
  // What each listed record gave up to the entry being walked, whose name
  // comes first: taken off its disk_bytes when that entry ends
  // (detail_commit). touched lists the records given[] holds anything for.
  uint64_t given[MAX_DIR_ENTRIES];
  uint16_t touched[MAX_DIR_ENTRIES];
  int touched_n;
  unsigned char is_touched[MAX_DIR_ENTRIES];
  children_rank ranking;       // the children of the entry being walked
  uint32_t nth;                // which of them is being walked (CHILD_NONE:
                               // the entry is a file)
  // What each kept child of a listed record gave up, as its record did.
  uint64_t kid_given[MAX_DIR_ENTRIES][CHILDREN_MAX];
  // Held while the records are settled or frozen: the walk's thread and
  // the request's, which may give the walk up, never both at once.
  std::atomic<int> lock;
  int frozen;  // given up: the records are the request's, never touched again
  // Each listed record's children, at the record's place in the listing
  // (dir_entry::children): 1.2 KiB a record, touched only as records fill.
  entry_children children[MAX_DIR_ENTRIES];
};

// A zeroed state, or NULL when there is no memory for one.
detail_state *detail_new(void);
void detail_free(detail_state *d);

// Marks sum partial for reason, unless a stronger reason marks it already.
static inline void note_partial(tree_sum *sum, int reason) {
  if (reason > sum->partial) sum->partial = reason;
}

// The walk of the listed folder's entry name begins (and the ranking of
// its children): index is its record
// in list, or -1 when it is past the listing's cap.
void detail_begin_entry(detail_state *d, dir_entry *list, int index,
                        const char *name);
// Adds a counted file item: what it takes (a file with other names once
// per request, in the entry whose name comes first), its time, its type
// and age, and offers it to the largest files. A file that could not be
// looked at adds nothing and marks sum partial.
void detail_count_file(detail_state *d, const dir_item *item, tree_sum *sum);
// Adds what a folder entry item takes and its time, as the listing told.
void detail_count_folder(const dir_item *item, tree_sum *sum);
// Adds what the open folder it itself takes and its time, where the
// platform tells them once it is open.
void detail_count_self(const dir_iter *it, tree_sum *sum);
// Adds what the link item, the entry it handed out last, itself takes
// (never its target; a link with other names once per request, as a file
// is): no entry is counted.
void detail_count_link(detail_state *d, const dir_iter *it, dir_item *item,
                       tree_sum *sum);
// A link directly in the listed folder is about to be counted: it belongs
// to no entry, and is held by the folder itself.
void detail_begin_loose(detail_state *d, const char *name);
// The walk goes into the folder name: returns the mark detail_leave
// takes to come back out.
size_t detail_enter(detail_state *d, const char *name);
void detail_leave(detail_state *d, size_t mark);
// Adds an entry of the listed folder, with what was counted for it (s),
// to the folder's totals.
void detail_add_entry(detail_state *d, const tree_sum *s);
// Adds what was counted beneath one entry (kid; the entry itself is
// counted by the caller) into sum.
void detail_add_sum(tree_sum *sum, const tree_sum *kid);
// Copies the counted s into the listed record e.
void detail_fill_entry(dir_entry *e, const tree_sum *s);
// An entry of the listed folder has ended, its record filled if it has
// one: takes off each finished record (still in the walk's order) and its
// children what they gave up to it, then tells listed (when given) that
// the first count records are final. Nothing once the walk is frozen.
void detail_commit(detail_state *d, std::atomic<int> *listed, int count);
// The walk is given up: from now on its records are never touched again
// by its thread. Returns how many of them were final, each settled
// against the others.
int detail_freeze(detail_state *d, std::atomic<int> *listed);

// No child of an entry that is a file.
enum { CHILD_NONE = 0x3fffff };
// The walk of the entry's nth child (in the order walked) begins.
static inline void detail_begin_child(detail_state *d, uint32_t nth) {
  d->nth = nth;
}
// That child was counted: bytes and disk_bytes are what it added.
static inline void detail_count_child(detail_state *d, const dir_item *item,
                                      uint64_t bytes, uint64_t disk_bytes) {
  children_offer(&d->ranking, item->name, item->is_dir, bytes, disk_bytes,
                 d->nth);
}
// Keeps that entry's largest children for the listed record e, the
// listing's record number index.
void detail_keep_children(detail_state *d, dir_entry *e, int index);

// Totals of the finished records list[0..count), for a walk given up.
tree_sum detail_sum_records(const dir_entry *list, int count);
