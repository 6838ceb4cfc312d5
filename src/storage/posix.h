// The process of posix.cpp, as the other Linux files of the storage layer
// see it.
#pragma once

// A descriptor that reads as empty and takes no writes: /dev/null, or,
// where there is none (a bare chroot), the reading end of a pipe whose
// writing end is closed. Close-on-exec. Returns it, or -1 when neither can
// be had.
int open_null_device(void);
