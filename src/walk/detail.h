// The detail walk (detail=1): what the walk counts beyond the sizes.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "walk/walk.h"
#include "walk/children.h"
#include "walk/largest.h"
#include "walk/links_seen.h"

struct detail_state {
  tree_sum folder;        // every entry of the listed folder, listed or not
  links_seen links;
  largest_list largest;
  char dir[LARGEST_PATH_CAP];  // the folder being walked, below the listed
  size_t dir_len;              // one (platform separator between names)
  children_rank ranking;       // the children of the entry being walked
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

// Adds a counted file item: what it takes (a file with links > 1 once per
// request), its time, and offers it to the largest files.
void detail_count_file(detail_state *d, const dir_item *item, tree_sum *sum);
// Adds what a folder entry item takes and its time, as the listing told.
void detail_count_folder(const dir_item *item, tree_sum *sum);
// Adds what the open folder it itself takes and its time, where the
// platform tells them once it is open.
void detail_count_self(const dir_iter *it, tree_sum *sum);
// The walk goes into the folder name: returns the mark detail_leave
// takes to come back out.
size_t detail_enter(detail_state *d, const char *name);
void detail_leave(detail_state *d, size_t mark);
// Adds an entry of the listed folder, with what was counted for it (s),
// to the folder's totals.
void detail_add_entry(detail_state *d, const tree_sum *s);
// Copies the counted s into the listed record e.
void detail_fill_entry(dir_entry *e, const tree_sum *s);

// The walk of the next entry of the listed folder begins.
static inline void detail_begin_entry(detail_state *d) {
  children_begin(&d->ranking);
}
// A child directly inside that entry was counted: bytes and disk_bytes
// are what it added.
static inline void detail_count_child(detail_state *d, const dir_item *item,
                                      uint64_t bytes, uint64_t disk_bytes) {
  children_offer(&d->ranking, item->name, item->is_dir, bytes, disk_bytes);
}
// Keeps that entry's largest children for the listed record e, the
// listing's record number index.
void detail_keep_children(detail_state *d, dir_entry *e, int index);

// Totals of the finished records list[0..count), for a walk given up.
tree_sum detail_sum_records(const dir_entry *list, int count);
