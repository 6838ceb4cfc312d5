// The storage layer on Windows: opening a folder below the home folder.
//
// Windows has no openat2: the path is opened one name at a time, from the
// home folder down, each folder opened as itself (never through a reparse
// point) and held open without FILE_SHARE_DELETE, so that nothing on the
// way can be renamed, removed or replaced by a link until the listing has
// been opened by path. The handles are held until the process ends (one
// request per process), and the listing itself is opened as any root is.

#include <windows.h>

#include <string.h>

#include "storage/storage.h"

namespace {

// Characters of a wide path: "\\?\UNC\" and any path whose UTF-8 form
// the reply could carry (home up to 1023 bytes, sub up to 1024 and a
// separator, each byte at most one UTF-16 unit), and room to spare.
enum { WIDE_CAP = 2200, HELD_CAP = 600 };

HANDLE held[HELD_CAP];
int n_held;

// UTF-8 text into wide characters appended at out[*len]. Returns 1, or 0
// when it does not fit or is not UTF-8.
int append_wide(const char *utf8, int bytes, wchar_t *out, int *len) {
  if (bytes == 0) return 1;
  int room = WIDE_CAP - 1 - *len;
  if (room <= 0) return 0;
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, bytes, out + *len, room);
  if (n <= 0) return 0;
  *len += n;
  out[*len] = L'\0';
  return 1;
}

// The reason for a failed CreateFileW, from its error.
int reason_of(DWORD err) {
  switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:  // longer than any name can be
      return BELOW_MISSING;
    case ERROR_DIRECTORY:
      return BELOW_NOT_DIR;
    case ERROR_CANT_ACCESS_FILE:      // a reparse point the system cannot follow
    case ERROR_CANT_RESOLVE_FILENAME:
      return BELOW_LINK;
    default:
      return BELOW_UNREADABLE;
  }
}

// Opens path and holds it. follow: the home folder, which may itself be a
// link; every other name is opened as itself. Returns BELOW_OK, or why not.
int hold(const wchar_t *path, int follow) {
  if (n_held >= HELD_CAP) return BELOW_UNREADABLE;
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE h = CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                         OPEN_EXISTING, flags, NULL);
  if (h == INVALID_HANDLE_VALUE) return reason_of(GetLastError());
  held[n_held++] = h;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) return BELOW_UNREADABLE;
  if (!follow && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return BELOW_LINK;
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return BELOW_NOT_DIR;
  if (follow) return BELOW_OK;
  // As its folder lists it, too: Wine opens a Unix link to a folder as the
  // folder, and shows it as a reparse point (tag 0) only in the listing.
  // The entry is held, so the two looks see the same one.
  WIN32_FIND_DATAW fd;
  HANDLE f = FindFirstFileExW(path, FindExInfoBasic, &fd, FindExSearchNameMatch, NULL, 0);
  if (f == INVALID_HANDLE_VALUE) return BELOW_UNREADABLE;
  FindClose(f);
  if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return BELOW_LINK;
  return BELOW_OK;
}

// The wide form of home for opening: "\\?\" before a drive path, so that
// no length limit applies ("\\?\UNC\" for "\\server\share"); any other
// form as it is.
int wide_home(const char *home, wchar_t *out, int *len) {
  size_t n = strlen(home);
  int drive = n >= 3 && home[1] == ':' && home[2] == '\\';
  int unc = n >= 3 && home[0] == '\\' && home[1] == '\\' && home[2] != '?' && home[2] != '.';
  int plain = !strchr(home, '/');  // "\\?\" turns off turning '/' into '\'
  *len = 0;
  out[0] = L'\0';
  if (plain && drive) {
    if (!append_wide("\\\\?\\", 4, out, len)) return 0;
  } else if (plain && unc) {
    if (!append_wide("\\\\?\\UNC", 7, out, len)) return 0;
    home++;  // the second backslash of "\\server" stays
    n--;
  }
  if (!append_wide(home, (int)n, out, len)) return 0;
  while (*len > 0 && out[*len - 1] == L'\\') out[--*len] = L'\0';
  return 1;
}

}  // namespace

int storage_dir_open_below(dir_iter *it, const char *home, const char *rel) {
  static wchar_t path[WIDE_CAP];
  int len;
  if (!wide_home(home, path, &len)) return BELOW_UNREADABLE;
  int reason = hold(path, 1);
  if (reason != BELOW_OK) return reason == BELOW_NOT_DIR ? BELOW_MISSING : reason;
  for (const char *p = rel;;) {
    const char *slash = strchr(p, '/');
    int n = slash ? (int)(slash - p) : (int)strlen(p);
    if (!append_wide("\\", 1, path, &len) || !append_wide(p, n, path, &len))
      return BELOW_MISSING;  // no such name can be there
    reason = hold(path, 0);
    if (reason != BELOW_OK) return reason;
    if (!slash) break;
    p = slash + 1;
  }
  // Listed by its path, which now leads through held folders only.
  char joined[1024 + 1 + 1024 + 1];
  size_t h = strlen(home), r = strlen(rel);
  if (h + 1 + r >= sizeof joined) return BELOW_UNREADABLE;
  memcpy(joined, home, h);
  joined[h] = '\\';
  for (size_t i = 0; i <= r; i++) joined[h + 1 + i] = rel[i] == '/' ? '\\' : rel[i];
  if (!storage_dir_open(it, NULL, NULL, joined)) return BELOW_UNREADABLE;
  return BELOW_OK;
}
