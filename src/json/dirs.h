// The folder breakdown of the dirs action.
#pragma once

#include <stdint.h>

#include "storage/storage.h"

// One listed entry of the root folder.
// Its path in the reply is the root path, the separator and the name,
// joined as it is written.
struct dir_entry {
  char name[NAME_MAX_BYTES + 1];  // the whole name
  uint64_t bytes;    // a file's size, or a folder's total
  int is_dir;
};

// Shared by every level of one breakdown.
struct scan_state {
  uint64_t scanned;  // countable entries looked at so far
  int truncated;     // a limit stopped the listing or the walk; stays set
};

// Whether an entry is a link: one the platform marks as such, or a
// reparse point whose tag is a name surrogate (symbolic link, junction,
// mount point) or 0 (no valid tag; Wine gives Unix symbolic links so).
// Every other reparse point (cloud files, deduplicated or compressed
// files, ...) is data like any other.
int is_link_entry(const dir_item *item);

// Whether an enumerated entry is passed over without being counted: an
// empty name, "." or "..", a link, or a mount point.
int skip_entry(const dir_item *item);

// Whether the walk goes into a folder entry: not when its listing is not
// on this machine (recall on open, or recall on data access), since
// listing it would fetch it over the network. Such a folder adds 0.
int enters_folder(const dir_item *item);

// Total of the file sizes beneath a folder (depth 1 for an entry of the
// root), opening folders down to MAX_DEPTH and stopping once
// MAX_SCAN_ENTRIES entries have been counted. The folder is the entry
// name that the open listing parent handed out last. A folder that cannot
// be listed adds 0.
uint64_t sum_dir_win(int depth, scan_state *state, const dir_iter *parent,
                     const char *name);

// Larger totals first; equal totals by name bytes.
int dir_cmp(const void *a, const void *b);
