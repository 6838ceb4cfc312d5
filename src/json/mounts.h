// Drive tables for the mounts action.
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
  // Mount table drives only: what de-duplication compares.
  uint64_t dev_id;
  int root_len;
};

// Fills table (MAX_MOUNTS records, each zeroed as it is filled) with the
// usable drives in list order. Returns the number filled, 0 to MAX_MOUNTS.
int collect_mounts(mount_info *table);
// Larger total first; equal totals by mount, bytewise ascending.
int mount_cmp(const void *a, const void *b);

// ---- listing rules (mount_rules.cpp) ---------------------------------

// Whether a row of the drive list may be listed, judged before its sizes
// are asked for.
int drive_is_candidate(const drive_row *row);
// Whether a row whose sizes are known stays listed.
int drive_has_room(const drive_row *row, const space_info *space);
// Whether fstype names a pseudo file system that is never listed.
int fstype_is_pseudo(const char *fstype, int bind);
// For two mount table rows of the same device or the same mount point:
// whether the later row takes the place of the one listed earlier.
int mount_replaces(const mount_info *seen, const drive_row *row);
