// Whether a drive can be written, why not, and whether someone should look
// at it, from what the platform told of it.
//
// Read-only:
//  - the kernel's "emergency_ro" on the file system: it stopped all writes
//    after an error, while the mount still says "rw" and statvfs has no
//    ST_RDONLY; reason "errors";
//  - the file system read-only ("ro" in its own options) beneath a mount
//    that says "rw": older kernels turn an ext4 read-only so after an
//    error; reason "errors" when it has recorded errors, else
//    "filesystem". A file system type that is never written (squashfs,
//    ISO 9660, ...) shows the same when mounted without "ro": that is
//    its nature, reason "mount";
//  - the mount read-only, or ST_RDONLY, or a read-only volume (Windows):
//    reason "mount".
// Errors recorded: an error count above 0, the kernel's emergency stop, or
// a volume marked dirty (Windows).
// Attention: read-only for "errors" or "filesystem", or errors recorded.
// A drive read-only by choice or by nature is not alarming.

#include <string.h>

#include "drives/drives.h"

static const char *const never_written[] = {
    "squashfs", "iso9660", "cramfs", "romfs", "erofs",
};

int fstype_never_written(const char *fstype) {
  for (const char *t : never_written)
    if (strcmp(fstype, t) == 0) return 1;
  return 0;
}

const char *readonly_reason_name(int reason) {
  switch (reason) {
    case RO_MOUNT: return "mount";
    case RO_FILESYSTEM: return "filesystem";
    case RO_ERRORS: return "errors";
    default: return NULL;
  }
}

void judge_drive(mount_info *m, const drive_row *row, const space_info *space,
                 const fs_errors *errors) {
  m->has_error_count = errors->has_count;
  m->error_count = errors->has_count ? errors->count : 0;
  m->last_error = errors->has_count && errors->count ? errors->last_time : 0;
  m->errors_known = errors->has_count || errors->has_dirty || row->emergency_ro;
  m->errors_recorded = (errors->has_count && errors->count > 0) ||
                       (errors->has_dirty && errors->dirty) || row->emergency_ro;

  int own_state = row->emergency_ro ||
                  (row->super_ro && !row->mount_ro && !fstype_never_written(row->fstype));
  m->readonly = space->readonly || row->mount_ro || row->super_ro || row->emergency_ro;
  if (!m->readonly)
    m->readonly_reason = RO_NONE;
  else if (own_state)
    m->readonly_reason = m->errors_recorded ? RO_ERRORS : RO_FILESYSTEM;
  else
    m->readonly_reason = RO_MOUNT;
  m->forced_readonly = m->readonly_reason == RO_ERRORS || m->readonly_reason == RO_FILESYSTEM;
  m->attention = m->forced_readonly || m->errors_recorded;
}
