// The storage layer on Windows: kernel32's drive, volume and find calls.

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "storage/storage.h"

const char storage_platform[] = "windows";
const char storage_sep = '\\';

// Text-mode standard output would turn every LF into CR LF.
void storage_start(void) { _setmode(_fileno(stdout), _O_BINARY); }

long storage_pid(void) { return (long)GetCurrentProcessId(); }

int64_t storage_time(void) { return (int64_t)_time64(NULL); }

int storage_gmtime(int64_t t, struct tm *out) {
  __time64_t tt = (__time64_t)t;
  return _gmtime64_s(out, &tt) == 0;
}

uint64_t storage_ticks_ms(void) { return (uint64_t)GetTickCount64(); }

const char *storage_home(void) { return getenv("USERPROFILE"); }

// ---- drives ----------------------------------------------------------

int storage_each_drive(drive_fn fn, void *ctx) {
  char list[511];
  DWORD len = GetLogicalDriveStringsA(sizeof list, list);
  // A list that did not fit is reported by a length above the buffer's.
  if (len == 0 || len > sizeof list) return 0;
  int rows = 0;
  drive_row row;
  for (const char *root = list; *root; root += strlen(root) + 1) {
    memset(&row, 0, sizeof row);
    row.kind = DRIVE_LETTERS;
    row.drive_type = (int)GetDriveTypeA(root);
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
  snprintf(buf, cap, "%s", name);
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

// ---- folders ---------------------------------------------------------

static void to_item(const WIN32_FIND_DATAA *fd, dir_item *item) {
  snprintf(item->name, sizeof item->name, "%s", fd->cFileName);
  item->is_dir = (fd->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // Junctions and mounted folders are reparse points here.
  item->is_link = (fd->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  item->is_mount = 0;
  item->size = item->is_dir ? 0
                            : ((uint64_t)fd->nFileSizeHigh << 32) | fd->nFileSizeLow;
}

int storage_dir_open(dir_iter *it, const dir_iter *, const char *,
                     const char *path) {
  char pattern[1024 + 2];  // any path of up to 1023 bytes, "\" and "*"
  snprintf(pattern, sizeof pattern, "%s\\*", path);
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA(pattern, &fd);
  if (h == INVALID_HANDLE_VALUE) return 0;
  it->handle = h;
  to_item(&fd, &it->first);
  it->has_first = 1;
  return 1;
}

int storage_dir_next(dir_iter *it, dir_item *item) {
  if (it->has_first) {
    *item = it->first;
    it->has_first = 0;
    return 1;
  }
  WIN32_FIND_DATAA fd;
  if (!FindNextFileA((HANDLE)it->handle, &fd)) return 0;
  to_item(&fd, item);
  return 1;
}

void storage_dir_close(dir_iter *it) { FindClose((HANDLE)it->handle); }

// ---- read-ahead --------------------------------------------------------
// None here: the walk lists each folder as it comes to it.

void storage_readahead_begin(const char *, int, int, uint64_t) {}
void storage_readahead_end(void) {}
