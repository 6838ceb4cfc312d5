// Which drives of the platform's drive list are listed.
//
// Drive letters (DRIVE_LETTERS): every root is listed unless its drive type
// says there is no root directory there, or its sizes cannot be read.
//
// Mount tables (DRIVE_MOUNT_TABLE) follow what `df` shows by default, so
// that the two agree and no file system is counted twice:
//  - pseudo file systems are left out: autofs, proc, subfs, debugfs,
//    devpts, fusectl, fuse.portal, mqueue, rpc_pipefs, sysfs, devfs,
//    kernfs, ignore, and none unless it is a bind mount;
//  - a mount point that is not an absolute path is left out;
//  - a mount whose sizes cannot be read, or whose size is 0, is left out;
//  - of several mounts of one device only one is listed: a source that
//    contains "/" beats one that does not; a shorter mount point beats a
//    longer one unless it mounts a deeper part of the device (a bind mount
//    of a subdirectory); and a mount over the same mount point later
//    hides the earlier one, whatever its device.

#include <string.h>

#include "json/mounts.h"

static const char *const pseudo_types[] = {
    "autofs", "proc",      "subfs",  "debugfs",    "devpts",
    "fusectl", "fuse.portal", "mqueue", "rpc_pipefs", "sysfs",
    "devfs",  "kernfs",    "ignore",
};

int fstype_is_pseudo(const char *fstype, int bind) {
  for (const char *t : pseudo_types)
    if (strcmp(fstype, t) == 0) return 1;
  return !bind && strcmp(fstype, "none") == 0;
}

int drive_is_candidate(const drive_row *row) {
  if (row->kind == DRIVE_LETTERS) return row->drive_type != DRIVE_TYPE_NO_ROOT_DIR;
  return row->mount[0] == '/' && !fstype_is_pseudo(row->fstype, row->bind);
}

int drive_has_room(const drive_row *row, const space_info *space) {
  return row->kind == DRIVE_LETTERS || space->total > 0;
}

int mount_replaces(const mount_info *seen, const drive_row *row) {
  if (seen->dev_id != row->dev_id) return strcmp(seen->mount, row->mount) == 0;
  if (strchr(row->device, '/') && !strchr(seen->device, '/')) return 1;
  int nearer_top = strlen(seen->mount) > strlen(row->mount);
  int deeper_root = seen->root_len < row->root_len;
  if (nearer_top && !deeper_root) return 1;
  return strcmp(seen->device, row->device) != 0 &&
         strcmp(seen->mount, row->mount) == 0;
}
