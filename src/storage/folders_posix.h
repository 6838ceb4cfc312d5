// The folder listing of folders_posix.cpp, as the other Linux files of
// the storage layer see it.
#pragma once

#include "storage/storage.h"

// Makes the open folder descriptor fd the listing it, which then owns fd.
// Returns 1, or 0 (fd closed) when no listing can be had.
int dir_adopt_fd(dir_iter *it, int fd);

// Whether the open folder child is on another mount than the open folder
// parent holding it: another device, or (where statx tells, Linux 5.8 and
// later) the root of a mount, which a bind mount of the same device is
// too. For kernels without openat2, which tells it before opening.
int on_other_mount(int parent, int child);
