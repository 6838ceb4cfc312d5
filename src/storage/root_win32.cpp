// The storage layer on Windows: opening the root of a walk, and why it
// cannot be opened.

#include <windows.h>

#include <stdlib.h>

#include "storage/storage.h"
#include "storage/wide_win32.h"

// Why path, whose listing could not be opened, cannot be listed: asked of
// its attributes, which tell a missing path, a file and a folder apart
// whatever error the listing gave.
static int root_reason(const char *path) {
  WCHAR *wide = (WCHAR *)malloc(WIDE_PATH_CAP * sizeof(WCHAR));
  if (!wide) return BELOW_UNREADABLE;
  int len = wide_long_path(path, wide, WIDE_PATH_CAP);
  DWORD attrs = len > 0 ? GetFileAttributesW(wide) : INVALID_FILE_ATTRIBUTES;
  DWORD err = GetLastError();
  free(wide);
  if (len <= 0) return BELOW_MISSING;  // no path the system can name
  if (attrs == INVALID_FILE_ATTRIBUTES) {
    switch (err) {
      case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND:
      case ERROR_INVALID_NAME: case ERROR_BAD_NETPATH:
      case ERROR_BAD_NET_NAME: case ERROR_INVALID_DRIVE:
        return BELOW_MISSING;
      case ERROR_DIRECTORY: return BELOW_NOT_DIR;
      default: return BELOW_UNREADABLE;  // access denied, device errors
    }
  }
  return (attrs & FILE_ATTRIBUTE_DIRECTORY) ? BELOW_UNREADABLE : BELOW_NOT_DIR;
}

int storage_dir_open_root(dir_iter *it, const char *path) {
  if (storage_dir_open(it, NULL, NULL, path)) return BELOW_OK;
  return root_reason(path);
}
