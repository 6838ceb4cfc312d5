// Marks of calls stuck in the system (Windows): marks_win32.cpp.
#pragma once

#include <windows.h>

#include <stdint.h>

// Whether a process of the calling user holds the mark of kind for dev and
// path. Returns at once.
int mark_held(char kind, uint64_t dev, const char *path);
// Takes the mark. Returns the handle that holds it (closing it lets the
// mark go), or NULL when it cannot be taken.
HANDLE mark_take(char kind, uint64_t dev, const char *path);

// Keeps mark (which may be NULL) until thread ends.
void mark_until_ended(HANDLE thread, HANDLE mark);
// Whether mark_until_ended has anything to wait for.
int marks_waiting(void);
// Ends the reply (storage_end_reply), waits until
// every thread given to mark_until_ended has ended, letting each mark go
// with its thread, and ends the process.
[[noreturn]] void marks_hold_to_end(void);
