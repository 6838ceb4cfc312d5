// The storage layer on Windows: folder listing through open folder handles.

#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "storage/folders_win32.h"
#include "storage/storage.h"
#include "storage/wide_win32.h"

// Every folder is opened by its long path ("\\?\C:\..."), so no path is
// too long to list, and listed through its handle in batches of entries
// (GetFileInformationByHandleEx), which tell each entry's size, allocation,
// identity and time in the same call: no call per file. Each open listing
// keeps its folder's path, and the path of a folder inside it is that path,
// a backslash and the entry's name as the system gave it: nothing above
// this file joins paths, and a name is never converted back from UTF-8 to
// be opened.

namespace {

// One batch of entries; the system puts in as many as fit.
enum { BATCH_BYTES = 64 * 1024 };

// IO_REPARSE_TAG_WOF: a file compressed by the overlay filter.
const uint32_t TAG_WOF = 0x80000017u;

// Seconds from 1601-01-01 (FILETIME's start) to 1970-01-01.
const int64_t FILETIME_TO_UNIX = 11644473600LL;

struct win_dir {
  HANDLE h;
  uint64_t dev;   // the volume's serial number, the same for its folders
  DWORD at;       // offset in batch of the next entry to hand out
  int left;       // batch holds entries from at on
  int ended;      // no batch is left to read
  int failed;     // ended by an error, not at the folder's end
  const FILE_ID_BOTH_DIR_INFO *last;  // the entry last handed out (in batch)
  int len;        // units in path, without its NUL
  WCHAR *path;    // len units and a NUL
  alignas(8) unsigned char batch[BATCH_BYTES];
};

// Closed listings kept for the next open. The walk opens and closes one
// folder after another, at most a few levels deep, and under Wine a fresh
// 64 KiB block for each folder costs more than listing it. One walk lists
// at a time, on one thread.
enum { SPARE_CAP = 16 };
win_dir *spare[SPARE_CAP];
int n_spare;

// Opens the folder path for listing: the folder itself when it is a link
// or other reparse point, unless follow.
HANDLE open_folder(const WCHAR *path, int follow) {
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  return CreateFileW(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                     OPEN_EXISTING, flags, NULL);
}

// Reads the next batch of d's entries. Returns 1, or 0 when there are no
// more: d->ended is set then, and d->failed when they could not be read
// (any error but ERROR_NO_MORE_FILES, which is the end; GetLastError
// tells which).
int fetch(win_dir *d) {
  d->at = 0;
  d->left = GetFileInformationByHandleEx(d->h, FileIdBothDirectoryInfo, d->batch,
                                         BATCH_BYTES) != 0;
  if (!d->left) {
    d->ended = 1;
    d->failed = GetLastError() != ERROR_NO_MORE_FILES;
  }
  return d->left;
}

// A listing of a folder whose path has len units, not yet open (path
// to be written): NULL when out of memory.
win_dir *dir_alloc(size_t len) {
  WCHAR *path = (WCHAR *)malloc((len + 1) * sizeof(WCHAR));
  if (!path) return NULL;
  win_dir *d = n_spare > 0 ? spare[--n_spare] : (win_dir *)malloc(sizeof(win_dir));
  if (!d) {
    free(path);
    return NULL;
  }
  d->len = (int)len;
  d->path = path;
  path[len] = 0;
  return d;
}

void dir_free(win_dir *d) {
  free(d->path);
  if (n_spare < SPARE_CAP)
    spare[n_spare++] = d;
  else
    free(d);
}

// Makes d, the listing of the open folder h, the listing it, with dev its
// volume's serial number. Owns d and h from here. Returns 1, or 0 (both
// freed) when h is not a folder that can be listed.
int dir_start(dir_iter *it, win_dir *d, HANDLE h, uint64_t dev) {
  if (h == INVALID_HANDLE_VALUE) {
    dir_free(d);
    return 0;
  }
  d->h = h;
  d->dev = dev;
  d->last = NULL;
  d->ended = 0;
  d->failed = 0;
  // The first batch tells whether this is a folder that can be listed; a
  // folder with no entries at all (a volume's root may have none) is one.
  if (!fetch(d) && d->failed) {
    if (GetLastError() != ERROR_FILE_NOT_FOUND) {
      CloseHandle(h);
      dir_free(d);
      return 0;
    }
    d->failed = 0;
  }
  it->handle = d;
  it->has_first = 0;
  it->failed = 0;
  return 1;
}

// Units in the path of d's entry e: d's path, a backslash, e's name.
size_t joined_len(const win_dir *d, const FILE_ID_BOTH_DIR_INFO *e) {
  int sep = d->path[d->len - 1] != L'\\';  // none after "\\?\C:\"
  return (size_t)d->len + (size_t)sep + e->FileNameLength / sizeof(WCHAR);
}

// Writes the path of d's entry e into out (joined_len units and a NUL).
void join(const win_dir *d, const FILE_ID_BOTH_DIR_INFO *e, WCHAR *out) {
  size_t n = (size_t)d->len;
  memcpy(out, d->path, n * sizeof(WCHAR));
  if (d->path[d->len - 1] != L'\\') out[n++] = L'\\';
  memcpy(out + n, e->FileName, e->FileNameLength);
  out[n + e->FileNameLength / sizeof(WCHAR)] = 0;
}

// What a file compressed by the overlay filter takes. Its unnamed stream
// is sparse and empty, so the listing's allocation misses the data, which
// lives in its WofCompressedData stream; GetCompressedFileSizeW on the
// file, answered through the filter, counts it. Asked of such files only,
// since one call per file is what makes a walk slow. Returns listed when
// the file cannot be asked (gone since it was listed, say).
uint64_t wof_disk_size(const win_dir *d, const FILE_ID_BOTH_DIR_INFO *e, uint64_t listed) {
  size_t len = joined_len(d, e);
  if (len >= WIDE_PATH_CAP) return listed;
  WCHAR *path = (WCHAR *)malloc((len + 1) * sizeof(WCHAR));
  if (!path) return listed;
  join(d, e, path);
  DWORD high = 0;
  SetLastError(NO_ERROR);
  DWORD low = GetCompressedFileSizeW(path, &high);
  uint64_t size = low != INVALID_FILE_SIZE || GetLastError() == NO_ERROR
                      ? ((uint64_t)high << 32) | low
                      : listed;
  free(path);
  return size;
}

// Seconds since 1970 of a FILETIME count (100 ns since 1601), rounded
// down, whatever its value.
int64_t unix_seconds(LONGLONG t) {
  int64_t s = t / 10000000;
  if (t % 10000000 < 0) s--;
  return s - FILETIME_TO_UNIX;
}

void to_item(const win_dir *d, const FILE_ID_BOTH_DIR_INFO *e, dir_item *item) {
  DWORD a = e->FileAttributes;
  wide_to_utf8(e->FileName, (int)(e->FileNameLength / sizeof(WCHAR)), item->name,
               sizeof item->name);
  item->is_dir = (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
  item->is_link = 0;
  item->is_mount = 0;  // mounted folders are reparse points here
  item->is_reparse = (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  // The tag is in EaSize when the reparse bit is set (no extended
  // attributes then).
  item->reparse_tag = item->is_reparse ? (uint32_t)e->EaSize : 0;
  item->recall_on_open = (a & FILE_ATTRIBUTE_RECALL_ON_OPEN) != 0;
  item->recall_on_data_access = (a & FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS) != 0;
  item->offline = (a & FILE_ATTRIBUTE_OFFLINE) != 0;
  item->size = item->is_dir ? 0 : (uint64_t)e->EndOfFile.QuadPart;
  // A reparse point's own allocation, a link's among them, is told as a
  // file's is; a plain folder's is not counted.
  item->disk_size = item->is_dir && !item->is_reparse
                        ? 0
                        : (uint64_t)e->AllocationSize.QuadPart;
  if (!item->is_dir && item->reparse_tag == TAG_WOF)
    item->disk_size = wof_disk_size(d, e, item->disk_size);
  item->dev_id = d->dev;
  // An id that does not fit 64 bits (ReFS) is given as all ones: not told.
  uint64_t id = (uint64_t)e->FileId.QuadPart;
  item->file_id = id == ~(uint64_t)0 ? 0 : id;
  item->links = 0;  // the listing does not tell a file's link count
  // A zero time is a file system that keeps none.
  item->has_mtime = e->LastWriteTime.QuadPart != 0;
  item->mtime = item->has_mtime ? unix_seconds(e->LastWriteTime.QuadPart) : 0;
  item->unreadable = 0;  // the listing tells everything at once
}
}  // namespace

int dir_adopt_handle(dir_iter *it, HANDLE h, const WCHAR *path, int len) {
  win_dir *d = dir_alloc((size_t)len);
  if (!d) {
    CloseHandle(h);
    return 0;
  }
  memcpy(d->path, path, (size_t)len * sizeof(WCHAR));
  BY_HANDLE_FILE_INFORMATION info;
  uint64_t dev = GetFileInformationByHandle(h, &info) ? info.dwVolumeSerialNumber : 0;
  return dir_start(it, d, h, dev);
}

int storage_dir_open(dir_iter *it, const dir_iter *parent, const char *,
                     const char *path) {
  if (!parent) {
    // The root of a walk is listed even when it is a link (a home folder
    // may be one).
    WCHAR *full = (WCHAR *)malloc(WIDE_PATH_CAP * sizeof(WCHAR));
    int len = full ? wide_long_path(path, full, WIDE_PATH_CAP) : -1;
    HANDLE h = len > 0 ? open_folder(full, 1) : INVALID_HANDLE_VALUE;
    int ok = h != INVALID_HANDLE_VALUE && dir_adopt_handle(it, h, full, len);
    free(full);
    return ok;
  }
  // The folder is the entry the parent handed out last, on its volume.
  const win_dir *p = (const win_dir *)parent->handle;
  const FILE_ID_BOTH_DIR_INFO *e = p->last;
  if (!e || !(e->FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
  size_t len = joined_len(p, e);
  if (len >= WIDE_PATH_CAP) return 0;  // beyond what the system takes
  win_dir *d = dir_alloc(len);
  if (!d) return 0;
  join(p, e, d->path);
  return dir_start(it, d, open_folder(d->path, 0), p->dev);
}

int storage_dir_next(dir_iter *it, dir_item *item) {
  win_dir *d = (win_dir *)it->handle;
  d->last = NULL;
  if (!d->left && (d->ended || !fetch(d))) {
    it->failed = d->failed;
    return 0;
  }
  const FILE_ID_BOTH_DIR_INFO *e = (const FILE_ID_BOTH_DIR_INFO *)(d->batch + d->at);
  if (e->NextEntryOffset)
    d->at += e->NextEntryOffset;
  else
    d->left = 0;
  d->last = e;
  to_item(d, e, item);
  return 1;
}

void storage_dir_close(dir_iter *it) {
  win_dir *d = (win_dir *)it->handle;
  CloseHandle(d->h);
  dir_free(d);
}

// The listing told them with the entry (its allocation and file id).
void storage_link_facts(const dir_iter *, dir_item *) {}

// ---- read-ahead --------------------------------------------------------
// None here: the walk lists each folder as it comes to it.

void storage_readahead_begin(const char *, int, int, uint64_t) {}
void storage_readahead_end(void) {}
