// The drive list as every reply that shows drives sees it: which drives
// are listed (rules.cpp) and their figures, asked of each drive once
// (collect.cpp). The replies (JSON, metrics) only write it.
#pragma once

#include <stdint.h>

#include "plugin.h"
#include "storage/storage.h"

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
  int readonly;          // as space_info tells it; no JSON reply shows it
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
// given, it gets the drives given up and those still stuck. Returns the
// number filled, 0 to MAX_MOUNTS.
int collect_mounts(mount_info *table, hung_drives *hung,
                   dead_drives *dead = nullptr);
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
