// The storage layer on Windows: folder listing with the wide find calls.

#include <windows.h>

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "storage/storage.h"
#include "storage/wide_win32.h"

// Every folder is opened by its long path ("\\?\C:\..."), so no path is
// too long to list. Each open listing keeps its folder's path, and the
// path of a folder inside it is that path, a backslash and the entry's
// name as the system gave it: nothing above this file joins paths, and a
// name is never converted back from UTF-8 to be opened.

namespace {
struct win_dir {
  HANDLE find;
  WIN32_FIND_DATAW fd;  // the entry last handed out, or about to be
  int has_fd;           // fd holds an entry not yet handed out
  int len;              // units in path, without its NUL
  WCHAR path[1];        // len units and room for "\*" (allocated so)
};

// A listing of path (len units) that is not yet open: 0 when out of memory.
win_dir *dir_alloc(int len) {
  size_t size = sizeof(win_dir) + ((size_t)len + 3) * sizeof(WCHAR);
  win_dir *d = (win_dir *)malloc(size);
  if (d) d->len = len;
  return d;
}

// Opens the listing of d->path; frees d when it cannot be listed.
int dir_start(dir_iter *it, win_dir *d) {
  WCHAR *end = d->path + d->len;
  int at_root = d->len > 0 && end[-1] == L'\\';  // "\\?\C:\"
  if (!at_root) *end++ = L'\\';
  end[0] = L'*';
  end[1] = 0;
  // FindExInfoBasic leaves out the 8.3 name, which nothing here reads;
  // the large fetch asks for more entries per call to the file system.
  d->find = FindFirstFileExW(d->path, FindExInfoBasic, &d->fd,
                             FindExSearchNameMatch, NULL,
                             FIND_FIRST_EX_LARGE_FETCH);
  d->path[d->len] = 0;
  if (d->find == INVALID_HANDLE_VALUE) {
    free(d);
    return 0;
  }
  d->has_fd = 1;
  it->handle = d;
  it->has_first = 0;
  return 1;
}

void to_item(const WIN32_FIND_DATAW *fd, dir_item *item) {
  DWORD a = fd->dwFileAttributes;
  wide_to_utf8(fd->cFileName, -1, item->name, sizeof item->name);
  item->is_dir = (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
  item->is_link = 0;
  item->is_mount = 0;  // mounted folders are reparse points here
  item->is_reparse = (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  // The tag is in dwReserved0 only when the reparse bit is set.
  item->reparse_tag = item->is_reparse ? (uint32_t)fd->dwReserved0 : 0;
  item->recall_on_open = (a & FILE_ATTRIBUTE_RECALL_ON_OPEN) != 0;
  item->recall_on_data_access = (a & FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS) != 0;
  item->offline = (a & FILE_ATTRIBUTE_OFFLINE) != 0;
  item->size = item->is_dir
                   ? 0
                   : ((uint64_t)fd->nFileSizeHigh << 32) | fd->nFileSizeLow;
}
}  // namespace

int storage_dir_open(dir_iter *it, const dir_iter *parent, const char *,
                     const char *path) {
  if (!parent) {
    WCHAR *full = (WCHAR *)malloc(WIDE_PATH_CAP * sizeof(WCHAR));
    int len = full ? wide_long_path(path, full, WIDE_PATH_CAP) : -1;
    win_dir *d = len > 0 ? dir_alloc(len) : NULL;
    if (d) memcpy(d->path, full, ((size_t)len + 1) * sizeof(WCHAR));
    free(full);
    return d ? dir_start(it, d) : 0;
  }
  // The folder is the entry the parent handed out last.
  const win_dir *p = (const win_dir *)parent->handle;
  if (p->has_fd || !(p->fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return 0;
  int sep = p->path[p->len - 1] != L'\\';
  size_t name_len = wcslen(p->fd.cFileName);
  size_t len = (size_t)p->len + (size_t)sep + name_len;
  if (len + 3 > WIDE_PATH_CAP) return 0;  // beyond what the system takes
  win_dir *d = dir_alloc((int)len);
  if (!d) return 0;
  memcpy(d->path, p->path, (size_t)p->len * sizeof(WCHAR));
  if (sep) d->path[p->len] = L'\\';
  memcpy(d->path + p->len + sep, p->fd.cFileName, name_len * sizeof(WCHAR));
  d->path[len] = 0;
  return dir_start(it, d);
}

int storage_dir_next(dir_iter *it, dir_item *item) {
  win_dir *d = (win_dir *)it->handle;
  if (d->has_fd)
    d->has_fd = 0;
  else if (!FindNextFileW(d->find, &d->fd))
    return 0;
  to_item(&d->fd, item);
  return 1;
}

void storage_dir_close(dir_iter *it) {
  win_dir *d = (win_dir *)it->handle;
  FindClose(d->find);
  free(d);
}

// ---- read-ahead --------------------------------------------------------
// None here: the walk lists each folder as it comes to it.

void storage_readahead_begin(const char *, int, int, uint64_t) {}
void storage_readahead_end(void) {}
