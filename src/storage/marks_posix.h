// Marks of calls stuck in the system (Linux), shared by every process of
// one user: marks_posix.cpp.
#pragma once

#include <stdint.h>

// The abstract socket address of one mark.
struct mark_name {
  char path[108];  // sun_path: a NUL, then the name
  int len;         // bytes of path in use
};

// The mark of kind ('d' a drive's sizes, 'w' a folder walk) for the
// file system of device dev at path, for the calling user.
void mark_name_of(char kind, uint64_t dev, const char *path, mark_name *out);
// Whether a process of the calling user holds the mark. Returns at once.
int mark_held(const mark_name *m);
// Takes the mark, under its own name or, when that is held by another
// user or bound by a socket that never listens, under a name of its own
// (see marks_posix.cpp). Returns the listening socket
// that holds it (closing it lets the mark go), or -1 when a process of the
// calling user holds it already or no socket can be made.
int mark_take(const mark_name *m);
// Accepts and closes every connection waiting on a held mark, so that the
// queue of a mark that is asked often never fills.
void mark_answer(int fd);
