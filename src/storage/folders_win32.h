// The folder listing of folders_win32.cpp, as the other Windows files of
// the storage layer see it.
#pragma once

#include <windows.h>

#include "storage/storage.h"

// Makes the folder open as h (with FILE_LIST_DIRECTORY) the listing it,
// which then owns h. path (len units) is the long path h was opened by;
// the folders inside it are opened below it. Returns 1, or 0 (h closed)
// when no listing can be had.
int dir_adopt_handle(dir_iter *it, HANDLE h, const WCHAR *path, int len);
