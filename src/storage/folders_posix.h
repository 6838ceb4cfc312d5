// The folder listing of folders_posix.cpp, as the other Linux files of
// the storage layer see it.
#pragma once

#include "storage/storage.h"

// Makes the open folder descriptor fd the listing it, which then owns fd.
// Returns 1, or 0 (fd closed) when no listing can be had.
int dir_adopt_fd(dir_iter *it, int fd);
