// The folder breakdown of the dirs action.
#pragma once

#include <stdint.h>

#include "storage/storage.h"

// One listed entry of the root folder.
struct dir_entry {
  char name[256];    // cut to 255 bytes
  char path[1024];   // root path, separator, whole name (cut if too long)
  uint64_t bytes;    // a file's size, or a folder's total
  int is_dir;
};

// Shared by every level of one breakdown.
struct scan_state {
  uint64_t scanned;  // countable entries looked at so far
  int truncated;     // a limit stopped the listing or the walk; stays set
};

// Whether an enumerated entry is passed over without being counted: an
// empty name, "." or "..", a link of any kind, or a mount point.
int skip_entry(const dir_item *item);

// Total of the file sizes beneath the folder at path (depth 1 for an entry
// of the root), opening folders down to MAX_DEPTH and stopping once
// MAX_SCAN_ENTRIES entries have been counted. parent and name locate the
// folder inside its open parent listing. A folder that cannot be listed
// adds 0.
uint64_t sum_dir_win(const char *path, int depth, scan_state *state,
                     const dir_iter *parent, const char *name);

// Larger totals first; equal totals by name bytes.
int dir_cmp(const void *a, const void *b);
