// The folder walk beneath the listed folder: its records, sums and limits.
#pragma once

#include <stdint.h>

#include <atomic>

#include "storage/storage.h"

// Why a total is not whole. A larger value is the stronger reason: the
// one a total shows when several apply.
enum {
  PARTIAL_NONE = 0,
  PARTIAL_DEPTH = 1,       // the walk met a folder past the depth limit
  PARTIAL_CLOUD = 2,       // a cloud folder was not entered
  PARTIAL_UNREADABLE = 3,  // a folder could not be listed
  PARTIAL_ENTRY_CAP = 4,   // the walk stopped at MAX_SCAN_ENTRIES
  PARTIAL_STALLED = 5,     // the walk was given up
};

// What the walk counted beneath a folder (or for one file).
struct tree_sum {
  uint64_t bytes;       // sizes
  uint64_t disk_bytes;  // what the files take on the volume (detail only)
  uint64_t items;       // entries counted
  int64_t mtime;        // latest modification seen (detail only)
  int has_mtime;
  int partial;          // PARTIAL_NONE or the strongest reason (detail only)
};

// a + b, or UINT64_MAX where that would wrap.
static inline uint64_t add_sat(uint64_t a, uint64_t b) {
  return a + b < a ? UINT64_MAX : a + b;
}

// Files counted together (detail only): how many names, their sizes, and
// what they take on the volume (a file with several names once).
struct file_sum {
  uint64_t files;
  uint64_t bytes;
  uint64_t disk_bytes;
};

static inline void file_sum_add(file_sum *s, const file_sum *x) {
  s->files = add_sat(s->files, x->files);
  s->bytes = add_sat(s->bytes, x->bytes);
  s->disk_bytes = add_sat(s->disk_bytes, x->disk_bytes);
}

// One listed entry of the root folder.
// Its path in the reply is the root path, the separator and the name,
// joined as it is written.
struct dir_entry {
  char name[NAME_MAX_BYTES + 1];  // the whole name
  uint64_t bytes;    // a file's size, or a folder's total
  int is_dir;
  int children;      // detail: its largest children, at
                     // detail_state::children[this]
  // The detail reply's: what the walk counted for it.
  uint64_t disk_bytes;
  uint64_t items;    // 1 for a file; entries beneath for a folder
  int64_t mtime;
  int has_mtime;
  int partial;
};

// The detail reply's walk state (detail.h).
struct detail_state;

// What the request sees of a walk that runs on another thread
// (guarded_walk.cpp).
struct walk_watch {
  std::atomic<uint64_t> steps;  // entries the listings have handed out
  std::atomic<int> listed;      // root entries whose record is final
  std::atomic<int> stop;        // set by the request: end the walk now
};

// Shared by every level of one breakdown.
struct scan_state {
  uint64_t scanned;  // countable entries looked at so far
  int truncated;     // a limit stopped the listing or the walk; stays set
  walk_watch *watch = nullptr;  // NULL when nobody watches the walk
  int cut = PARTIAL_NONE;  // once truncated: PARTIAL_ENTRY_CAP or
                           // PARTIAL_STALLED
  detail_state *detail = nullptr;  // NULL unless the reply shows detail
};

// Whether an entry is a link: one the platform marks as such, or a
// reparse point whose tag is a name surrogate (symbolic link, junction,
// mount point) or 0 (no valid tag; Wine gives Unix symbolic links so).
// Every other reparse point (cloud files, deduplicated or compressed
// files, ...) is data like any other.
int is_link_entry(const dir_item *item);

// How long a walk may go without being handed a single entry before the
// request gives up on it: a file system that has stopped answering. Only
// progress counts, never the total time, so a large tree on a cold or busy
// disk never trips it: one disk request, even queued behind hundreds on a
// spinning disk, is served in well under a second (the block layer's
// deadline scheduler expires reads after 500 ms), and NFS and SMB clients
// wait tens of seconds before they call a server dead.
enum { WALK_STALL_MS = 5000 };

// Whether an enumerated entry is passed over without being counted: an
// empty name, "." or "..", a link, or a mount point.
int skip_entry(const dir_item *item);

// Whether the walk goes into a folder entry: not when its listing is not
// on this machine (recall on open, or recall on data access), since
// listing it would fetch it over the network. Such a folder adds 0.
int enters_folder(const dir_item *item);

// Adds into *sum what lies beneath a folder (depth 1 for an entry of the
// root), opening folders down to MAX_DEPTH and stopping once
// MAX_SCAN_ENTRIES entries have been counted. The folder is the entry
// name that the open listing parent handed out last. A folder that cannot
// be listed adds nothing. With state->detail it also adds what the files
// take on the volume, the latest time, why the sum is partial, and offers
// each file to the largest files.
void sum_tree(int depth, scan_state *state, const dir_iter *parent,
              const char *name, tree_sum *sum);
// sum_tree's total of the file sizes alone.
uint64_t sum_dir_win(int depth, scan_state *state, const dir_iter *parent,
                     const char *name);

// Set in a reason of list_folder when it is the home folder's own.
enum { REASON_HOME = 0x100 };

// Opens the listed folder, the home folder root_path or, when sub is not
// empty, the folder sub below it (listed is its whole path), and lists it
// into list (MAX_DIR_ENTRIES records, zeroed), each folder with its total.
// Returns the listed count; *reason is BELOW_OK, or why sub cannot be
// listed (nothing listed then), or REASON_HOME with why the home folder
// itself cannot be (opened first, so a sub is never looked at then).
int list_folder(const char *root_path, const char *sub, const char *listed,
                dir_entry *list, scan_state *state, int *reason);

// list_folder on a thread of its own, watched: returns its count once it
// ends, or, once it has gone WALK_STALL_MS without a single entry, tells
// it to stop, sets *stalled and returns the count of records finished so
// far (records past them, and *reason, may still change while the walk
// lives).
int guarded_list(const char *root_path, const char *sub, const char *listed,
                 dir_entry *list, scan_state *state, int *stalled,
                 int *reason);

// Larger totals first; equal totals by name bytes.
int dir_cmp(const void *a, const void *b);
