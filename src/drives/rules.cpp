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
//
// Asking a drive for its sizes can block for as long as the file system
// does not answer. Drives that may do so are asked with a deadline and left
// out when they miss it; the others are asked directly, at no extra cost:
//  - a mount table row of a network file system or of a FUSE file system
//    (whose daemon may stop answering);
//  - every drive letter: one may name a network share, and under Wine any
//    folder of the host at all.

#include <string.h>

#include "drives/drives.h"

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

// Network and cluster file systems, and FUSE ("fuse", "fuseblk" and every
// "fuse.<name>").
static const char *const remote_types[] = {
    "9p",        "afs",   "beegfs", "ceph",  "cifs",    "coda",
    "davfs",     "fuse",  "fuseblk", "gfs2", "glusterfs", "gpfs",
    "lustre",    "ncpfs", "nfs",    "nfs4",  "ocfs2",   "orangefs",
    "smb3",      "smbfs", "virtiofs",
};

int fstype_is_remote(const char *fstype) {
  if (strncmp(fstype, "fuse.", 5) == 0) return 1;
  for (const char *t : remote_types)
    if (strcmp(fstype, t) == 0) return 1;
  return 0;
}

int drive_may_hang(const drive_row *row) {
  return row->kind == DRIVE_LETTERS || fstype_is_remote(row->fstype);
}
