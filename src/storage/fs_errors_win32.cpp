// The storage layer on Windows: a volume's dirty bit.
//
// A file system that finds damage marks its volume dirty, and the check
// at the next start (autochk) repairs it and clears the mark. Reading it
// needs a handle to the volume (\\.\C:), opened here with no access right
// at all, which a user who is no administrator may open; whether the file
// system then answers FSCTL_IS_VOLUME_DIRTY to such a handle is up to it.
// When it does not, nothing is told. Windows keeps no count of errors and
// no time that a user may read.

#include <windows.h>
#include <winioctl.h>

#include <string.h>

#include "storage/storage.h"

int storage_fs_errors(const drive_row *row, fs_errors *out) {
  memset(out, 0, sizeof *out);
  char letter = row->mount[0];
  if (!((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z')) ||
      row->mount[1] != ':')
    return 0;
  WCHAR volume[] = L"\\\\.\\C:";
  volume[4] = (WCHAR)letter;
  HANDLE h = CreateFileW(volume, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         NULL, OPEN_EXISTING, 0, NULL);
  if (h == INVALID_HANDLE_VALUE) return 0;
  ULONG flags = 0;
  DWORD got = 0;
  BOOL ok = DeviceIoControl(h, FSCTL_IS_VOLUME_DIRTY, NULL, 0, &flags, sizeof flags,
                            &got, NULL);
  CloseHandle(h);
  if (!ok || got < sizeof flags) return 0;
  out->has_dirty = 1;
  out->dirty = (flags & VOLUME_IS_DIRTY) != 0;
  return 1;
}
