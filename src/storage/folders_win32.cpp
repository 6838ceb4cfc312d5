// The storage layer on Windows: folder listing with the find calls.

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "storage/storage.h"
#include "storage/text_win32.h"

static void to_item(const WIN32_FIND_DATAA *fd, dir_item *item) {
  text_up(fd->cFileName, item->name, sizeof item->name);
  item->is_dir = (fd->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // Junctions and mounted folders are reparse points here.
  item->is_link = (fd->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  item->is_mount = 0;
  item->size = item->is_dir ? 0
                            : ((uint64_t)fd->nFileSizeHigh << 32) | fd->nFileSizeLow;
}

int storage_dir_open(dir_iter *it, const dir_iter *, const char *,
                     const char *path) {
  char native[1024];
  text_down(path, native, sizeof native);
  char pattern[1024 + 2];  // any path of up to 1023 bytes, "\" and "*"
  snprintf(pattern, sizeof pattern, "%s\\*", native);
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
