// The storage layer on Windows: drive letters and their volumes.

#include <windows.h>

#include <string.h>
#include <wchar.h>

#include "storage/drives_win32.h"
#include "storage/storage.h"
#include "storage/wide_win32.h"

int storage_each_drive(drive_fn fn, void *ctx) {
  WCHAR list[511];
  DWORD len = GetLogicalDriveStringsW(511, list);
  // A list that did not fit is reported by a length above the buffer's.
  if (len == 0 || len > 511) return 0;
  int rows = 0;
  drive_row row;
  for (const WCHAR *root = list; *root; root += wcslen(root) + 1) {
    memset(&row, 0, sizeof row);
    row.kind = DRIVE_LETTERS;  // its type comes from storage_probe
    wide_to_utf8(root, -1, row.device, sizeof row.device);
    wide_to_utf8(root, -1, row.mount, sizeof row.mount);
    fn(&row, ctx);
    rows++;
  }
  return rows;
}

int storage_space(const char *path, space_info *out) {
  WCHAR wide[1024];
  if (utf8_to_wide(path, wide, 1024) < 0) return 0;
  ULARGE_INTEGER avail, total, free_bytes;
  if (!GetDiskFreeSpaceExW(wide, &avail, &total, &free_bytes)) return 0;
  out->total = total.QuadPart;
  out->free = free_bytes.QuadPart;
  out->avail = avail.QuadPart;
  out->inodes_total = 0;
  out->inodes_free = 0;
  out->has_inodes = 0;
  out->readonly = 0;  // told by the volume's flags: storage_volume_name
  return 1;
}

int storage_volume_name(const char *root_utf8, char *buf, size_t cap,
                        int *readonly) {
  WCHAR root[1024], name[64];
  DWORD flags = 0;
  if (utf8_to_wide(root_utf8, root, 1024) < 0 ||
      !GetVolumeInformationW(root, NULL, 0, NULL, NULL, &flags, name, 64))
    return 0;
  wide_to_utf8(name, -1, buf, cap);
  if (readonly) *readonly = (flags & FILE_READ_ONLY_VOLUME) != 0;
  return 1;
}

int storage_fs_name(const drive_row *row, char *buf, size_t cap) {
  return storage_volume_name(row->mount, buf, cap, NULL);
}

int storage_drive_type(const char *root) {
  WCHAR wide[1024];
  if (utf8_to_wide(root, wide, 1024) < 0) return DRIVE_TYPE_NO_ROOT_DIR;
  return (int)GetDriveTypeW(wide);
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

