// The in-memory platform that unit tests link in place of a real backend.
#pragma once

#include <stdint.h>

#include "storage/storage.h"

enum { FAKE_MAX_DRIVES = 300, FAKE_MAX_NODES = 4096 };

struct fake_drive {
  drive_row row;
  space_info space;
  int space_fails;     // storage_space fails for this drive
  int fs_name_fails;   // storage_fs_name fails
  const char *fs_name; // what storage_fs_name answers (DRIVE_LETTERS)
  unsigned passes;     // bit k set: absent from the (k+1)th listing; 0: always there
  unsigned hangs;      // bit k set: does not answer storage_probe during the
                       // (k+1)th listing
  int asked;           // storage_space calls and probes for this drive
  int stuck;           // storage_drive_stuck: an earlier request's call is stuck
  int has_errors;      // storage_fs_errors tells errors below; 0: nothing
  fs_errors errors;
};

// A node of a fake folder tree: an entry inside node `parent` (-1: inside
// the root folder).
struct fake_node {
  int parent;
  char name[NAME_MAX_BYTES + 1];
  uint64_t size;
  int is_dir;
  int is_link;
  int is_mount;
  int is_reparse;      // the reparse fields of dir_item, handed out as set
  uint32_t reparse_tag;
  int recall_on_open;
  int recall_on_data_access;
  int offline;
  // What dir_item tells of the entry's volume use, identity and time,
  // handed out as set (a folder's too, as the Windows listing tells them).
  uint64_t disk_size;
  uint64_t dev_id;
  uint64_t file_id;
  uint32_t links;
  int has_mtime;
  int64_t mtime;
  int unlistable;      // opening it fails
  int list_fails;      // its listing ends on an error (dir_iter.failed)
  int list_fails_after;  // ... once it has handed out this many entries
  int unreadable;      // handed out as an entry that could not be looked
                       // at: a file of size 0 with no facts
  int traverse_only;   // a folder that may be opened on the way to a sub
                       // folder, but not listed (below_access tells which)
  int attrs_refused;   // in a folder that may not be listed, its
                       // attributes cannot be asked by name either
  int opened;          // storage_dir_open calls that asked for it
  int opened_on_way;   // storage_dir_open_below opened it as a name on
                       // the way (or the last)
};

struct fake_platform {
  int drive_list_fails;
  int n_drives;
  fake_drive drives[FAKE_MAX_DRIVES];
  int listings;        // storage_each_drive calls so far

  const char *home;    // what storage_home answers
  int root_unlistable;  // the home opens as a folder that cannot be listed
  int root_list_fails;  // the home's listing ends on an error once it has
  int root_list_fails_after;  // handed out this many entries
  int root_reason;     // storage_dir_open_root refuses the home so (a
                       // BELOW_* reason); 0: it opens
  int root_opens;      // storage_dir_open_root calls so far
  int volume_fails;    // storage_volume_of answers 0
  space_info root_space;
  int root_space_fails;
  int root_space_hangs;  // the root's volume does not answer storage_probe
  int root_space_stuck;  // storage_drive_stuck for the root's volume
  char last_volume[1024];

  int n_nodes;
  fake_node nodes[FAKE_MAX_NODES];
  // Folders with a fixed number of generated files of size 1 each, for
  // trees too large to hold node by node: entries named f0, f1, ...
  int bulk_parent[8];
  int bulk_count[8];
  int n_bulk;

  int errors_asked;    // storage_fs_errors calls
  int probes;          // storage_probe calls
  int probed_rows;     // rows asked through storage_probe, in all
  int last_deadline_ms;

  int open_handles;    // listings opened and not yet closed
  int dir_opens;       // storage_dir_open calls so far
  int below_opens;     // storage_dir_open_below calls so far

  // Read-ahead calls: how many, what begin was given, and the listings
  // open and opened so far at each call.
  int readahead_begins, readahead_ends;
  char readahead_root[1024];
  int readahead_depth, readahead_listed;
  uint64_t readahead_entries;
  int opens_at_begin, handles_at_begin, opens_at_end, handles_at_end;
  // The walk: stuck since an earlier request (storage_walk_stuck), or
  // hanging when it opens node hang_node - 1 (0: never), on a thread of
  // its own, until the walk is given up. Without hang_node the walk runs
  // at once on the caller's thread.
  int walk_stuck;
  int hang_node;
  int walk_threads;    // walks run on a thread
  int abandoned;       // storage_walk_abandon calls
  uint64_t last_dev;   // the device given to the last walk mark call
  char last_walk_path[1024];
  uint64_t ticks;      // added to storage_ticks_ms; advanced while the
                       // caller waits for a hanging walk

  int64_t now;         // storage_time
  int gmtime_fails;
};

extern fake_platform fake;

// Clears the fake platform.
void fake_reset(void);
// Adds a drive row and returns it for the test to adjust.
fake_drive *fake_add_drive(int kind, const char *device, const char *mount,
                           uint64_t total, uint64_t free_bytes,
                           uint64_t avail);
// Adds a folder entry; returns its node index.
int fake_add(int parent, const char *name, uint64_t size, int is_dir);
// Adds count files of 1 byte each inside parent, generated on listing.
void fake_add_bulk(int parent, int count);
