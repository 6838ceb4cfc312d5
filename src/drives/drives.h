// The drive list as every reply that shows drives sees it: which drives
// are listed (rules.cpp) and their figures, asked of each drive once
// (collect.cpp). The replies (JSON, metrics) only write it.
#pragma once

#include <stdint.h>

#include "plugin.h"
#include "storage/storage.h"

// Why a drive cannot be written (mount_info.readonly_reason).
enum {
  RO_NONE = 0,        // it can be written
  RO_MOUNT = 1,       // mounted read-only, a read-only volume, or a file
                      // system type that is never written (squashfs, ISO
                      // 9660): read-only by choice or by nature
  RO_FILESYSTEM = 2,  // the file system went read-only beneath a writable
                      // mount, and nothing tells of errors
  RO_ERRORS = 3,      // ... after errors it recorded
};

// One listed drive.
struct mount_info {
  char device[256];
  char fstype[64];
  char mount[1024];
  uint64_t total_bytes;
  uint64_t used_bytes;   // total - free, never wrapped
  uint64_t free_bytes;
  uint64_t avail_bytes;  // free for the caller
  uint64_t inodes_total;
  uint64_t inodes_used;
  int has_inodes;
  // How it may be written and what its file system has recorded, judged
  // by judge_drive (health.cpp). The error fields are told only when
  // collect_mounts was asked for them.
  int readonly;          // it cannot be written, for any reason
  int readonly_reason;   // RO_*: why
  int forced_readonly;   // read-only by its own file system's state
                         // (RO_FILESYSTEM, RO_ERRORS), not by its mount
  int errors_known;      // whether it has recorded errors is told
  int errors_recorded;   // it has: a count above 0, the kernel's stop after
                         // an error, or a volume marked dirty
  int has_error_count;   // the platform keeps a count of its errors
  uint64_t error_count;
  int64_t last_error;    // the last one's time, seconds since 1970; 0: not
                         // told
  int attention;         // someone should look: made read-only by its own
                         // file system, or errors recorded
  // Mount table drives only: what de-duplication compares.
  uint64_t dev_id;
  int root_len;
};

// The drives given up during one request, by mount: a later pass of the
// same request does not ask them again.
enum { MAX_HUNG = 64 };
struct hung_drives {
  int n;
  char mount[MAX_HUNG][1024];
};

// The drives a pass left out because they did not answer: given up at its
// deadline, or still stuck in a call of an earlier request. Each once, by
// mount, in list order; fstype is the mount table's (empty for a drive
// letter, whose name comes only by asking).
struct dead_drive {
  char device[256];
  char fstype[64];
  char mount[1024];
};
struct dead_drives {
  int n;
  dead_drive drive[MAX_HUNG];
};

// Fills table (MAX_MOUNTS records, each zeroed as it is filled) with the
// usable drives in list order. Drives that may hang are asked with a
// deadline; one given up is left out and added to hung, and a drive
// already in hung, or still stuck in a call of an earlier request
// (storage_drive_stuck), is left out without being asked. When dead is
// given, it gets the drives given up and those still stuck. With
// want_errors, each listed drive is also asked what its file system has
// recorded of errors (storage_fs_errors), which costs a few calls per
// drive that keeps any. Returns the number filled, 0 to MAX_MOUNTS.
int collect_mounts(mount_info *table, hung_drives *hung,
                   dead_drives *dead = nullptr, int want_errors = 0);
// Larger total first; equal totals by mount, bytewise ascending.
int mount_cmp(const void *a, const void *b);

// ---- listing rules (rules.cpp) ----------------------------------------

// Whether a row of the drive list may be listed, judged before its sizes
// are asked for.
int drive_is_candidate(const drive_row *row);
// Whether asking a row for its sizes may block for long: a network or
// FUSE file system, or any drive letter.
int drive_may_hang(const drive_row *row);
// Whether fstype is a network or FUSE file system.
int fstype_is_remote(const char *fstype);
// Whether a row whose sizes are known stays listed.
int drive_has_room(const drive_row *row, const space_info *space);
// Whether fstype names a pseudo file system that is never listed.
int fstype_is_pseudo(const char *fstype, int bind);
// For two mount table rows of the same device or the same mount point:
// whether the later row takes the place of the one listed earlier.
int mount_replaces(const mount_info *seen, const drive_row *row);

// ---- health (health.cpp) ------------------------------------------------

// Judges what the platform told of a drive (its row, its sizes and what
// its file system keeps of errors, zeroed when not asked): fills the
// readonly, error and attention fields of m.
void judge_drive(mount_info *m, const drive_row *row, const space_info *space,
                 const fs_errors *errors);
// Whether fstype is a file system that is never written: read-only by
// nature, whatever its mount says.
int fstype_never_written(const char *fstype);
// The reply's word for a readonly_reason: "mount", "filesystem",
// "errors"; NULL for RO_NONE.
const char *readonly_reason_name(int reason);
