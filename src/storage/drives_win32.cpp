// The storage layer on Windows: drive letters and their volumes.

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "storage/storage.h"
#include "storage/text_win32.h"

int storage_each_drive(drive_fn fn, void *ctx) {
  char list[511];
  DWORD len = GetLogicalDriveStringsA(sizeof list, list);
  // A list that did not fit is reported by a length above the buffer's.
  if (len == 0 || len > sizeof list) return 0;
  int rows = 0;
  drive_row row;
  for (const char *root = list; *root; root += strlen(root) + 1) {
    memset(&row, 0, sizeof row);
    row.kind = DRIVE_LETTERS;  // its type comes from storage_probe
    snprintf(row.device, sizeof row.device, "%s", root);
    snprintf(row.mount, sizeof row.mount, "%s", root);
    fn(&row, ctx);
    rows++;
  }
  return rows;
}

int storage_space(const char *path, space_info *out) {
  ULARGE_INTEGER avail, total, free_bytes;
  if (!GetDiskFreeSpaceExA(path, &avail, &total, &free_bytes)) return 0;
  out->total = total.QuadPart;
  out->free = free_bytes.QuadPart;
  out->avail = avail.QuadPart;
  out->inodes_total = 0;
  out->inodes_free = 0;
  out->has_inodes = 0;
  return 1;
}

int storage_fs_name(const drive_row *row, char *buf, size_t cap) {
  char name[64];
  if (!GetVolumeInformationA(row->mount, NULL, 0, NULL, NULL, NULL, name,
                             sizeof name))
    return 0;
  text_up(name, buf, (int)cap);
  return 1;
}

// Only a path in drive form ("C:...") names a volume: "C:\".
int storage_volume_of(const char *path, char *buf, size_t cap) {
  if (!path[0] || path[1] != ':' || cap < 4) return 0;
  buf[0] = path[0];
  buf[1] = ':';
  buf[2] = '\\';
  buf[3] = '\0';
  return 1;
}

