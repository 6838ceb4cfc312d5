// The storage layer on Windows: opening a folder below the home folder.
//
// Windows has no openat2: the path is opened one name at a time, from the
// home folder down, each folder opened as itself (never through a reparse
// point) and held open without FILE_SHARE_DELETE, so that nothing on the
// way can be renamed, removed or replaced by a link. The handles are held
// until the process ends (one request per process), and the last one,
// the folder checked, is the listing: the folder is never opened again by
// a path, which the system would normalise (a name's trailing dots and
// spaces go), so the folder listed is the one checked, whatever its name.
// A folder on the way is only passed through: it is opened with the right
// to traverse it, not to list it (below_rights.h), so that a folder the
// user may traverse but not list leads on as it does in any other program.

#include <windows.h>

#include <string.h>

#include "storage/below_rights.h"
#include "storage/folders_win32.h"
#include "storage/storage.h"
#include "storage/wide_win32.h"

static_assert(RIGHT_LIST_DIRECTORY == FILE_LIST_DIRECTORY &&
                  RIGHT_TRAVERSE == FILE_TRAVERSE &&
                  RIGHT_READ_ATTRIBUTES == FILE_READ_ATTRIBUTES,
              "below_rights.h numbers the rights as Windows does");
static_assert(ATTR_DIRECTORY == FILE_ATTRIBUTE_DIRECTORY &&
                  ATTR_REPARSE_POINT == FILE_ATTRIBUTE_REPARSE_POINT &&
                  ATTR_RECALL_ON_OPEN == FILE_ATTRIBUTE_RECALL_ON_OPEN &&
                  ATTR_RECALL_ON_DATA_ACCESS == FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS,
              "below_rights.h numbers the attributes as Windows does");

namespace {

// A sub path holds at most 512 names (1024 bytes), and the home folder one.
enum { HELD_CAP = 600 };
HANDLE held[HELD_CAP];
int n_held;

// The reason for a failed open, from its error.
int reason_of(DWORD err) {
  switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:          // longer than any name can be, ...
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return BELOW_MISSING;
    case ERROR_DIRECTORY:
      return BELOW_NOT_DIR;
    case ERROR_CANT_ACCESS_FILE:      // a reparse point nothing can follow
    case ERROR_CANT_RESOLVE_FILENAME:
      return BELOW_LINK;
    default:
      return BELOW_UNREADABLE;
  }
}

// What may be learnt of the name path before it is opened: its folder's
// listing tells its attributes and tag; where the folder may be traversed
// but not listed, its attributes asked by name (which opens nothing, so no
// cloud folder is fetched). Returns below_before_open's verdict, or why
// the name cannot be had (missing, ...).
int as_listed(const WCHAR *path) {
  WIN32_FIND_DATAW fd;
  HANDLE f = FindFirstFileExW(path, FindExInfoBasic, &fd, FindExSearchNameMatch, NULL, 0);
  if (f != INVALID_HANDLE_VALUE) {
    FindClose(f);
    return below_before_open(LOOK_LISTED, fd.dwFileAttributes, fd.dwReserved0);
  }
  DWORD err = GetLastError();
  if (err != ERROR_ACCESS_DENIED) return reason_of(err);
  WIN32_FILE_ATTRIBUTE_DATA attrs;
  if (!GetFileAttributesExW(path, GetFileExInfoStandard, &attrs)) {
    err = GetLastError();
    return err == ERROR_ACCESS_DENIED ? below_before_open(LOOK_NONE, 0, 0) : reason_of(err);
  }
  return below_before_open(LOOK_ASKED, attrs.dwFileAttributes, 0);
}

// What the open name h says of itself: below_attributes, and BELOW_NOT_DIR
// for anything but a folder.
int as_held(HANDLE h) {
  DWORD a, tag = 0;
  FILE_ATTRIBUTE_TAG_INFO t;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandleEx(h, FileAttributeTagInfo, &t, sizeof t)) {
    a = t.FileAttributes;
    tag = t.ReparseTag;
  } else if (GetFileInformationByHandle(h, &info)) {
    a = info.dwFileAttributes;
  } else {
    return BELOW_UNREADABLE;
  }
  int seen = below_attributes(a, tag);
  if (seen == BELOW_LINK) return seen;
  if (!(a & FILE_ATTRIBUTE_DIRECTORY)) return BELOW_NOT_DIR;
  return seen;
}

// Opens path and holds it, with the rights of below_access(last).
// follow: the home folder, which may itself be a link; every other name is
// looked at as its folder lists it, then opened as itself, then looked at
// again, through its handle and its folder's listing, now that it cannot
// change. Returns BELOW_OK, or why the path cannot be listed.
int hold(const WCHAR *path, int follow, int last) {
  if (n_held >= HELD_CAP) return BELOW_UNREADABLE;
  int seen = follow ? BELOW_OK : as_listed(path);
  if (seen != BELOW_OK) return seen;
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE h = CreateFileW(path, below_access(last), FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                         OPEN_EXISTING, flags, NULL);
  if (h == INVALID_HANDLE_VALUE) return reason_of(GetLastError());
  held[n_held++] = h;
  if (follow) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) return BELOW_UNREADABLE;
    return info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? BELOW_OK : BELOW_NOT_DIR;
  }
  seen = as_held(h);
  return seen != BELOW_OK ? seen : as_listed(path);
}

}  // namespace

int storage_dir_open_below(dir_iter *it, const char *home, const char *rel) {
  static WCHAR path[WIDE_PATH_CAP];
  int len = wide_long_path(home, path, WIDE_PATH_CAP);
  if (len <= 0) return BELOW_UNREADABLE;
  int reason = hold(path, 1, 0);
  if (reason != BELOW_OK)  // no folder below a file
    return reason == BELOW_NOT_DIR ? BELOW_MISSING : reason;
  for (const char *p = rel;;) {
    const char *slash = strchr(p, '/');
    size_t n = slash ? (size_t)(slash - p) : strlen(p);
    char name[NAME_MAX_BYTES + 2];
    if (n >= sizeof name - 1) return BELOW_MISSING;  // longer than any name
    memcpy(name, p, n);
    name[n] = '\0';
    if (path[len - 1] != L'\\') path[len++] = L'\\';  // none after "\\?\C:\"
    int units = utf8_to_wide(name, path + len, WIDE_PATH_CAP - len);
    if (units < 0) return BELOW_MISSING;  // past any path the system takes
    len += units;
    reason = hold(path, 0, !slash);
    if (reason != BELOW_OK) return reason;
    if (!slash) break;
    p = slash + 1;
  }
  // Listed through the handle held on it, which the listing now owns.
  n_held--;
  return dir_adopt_handle(it, held[n_held], path, len) ? BELOW_OK : BELOW_UNREADABLE;
}
