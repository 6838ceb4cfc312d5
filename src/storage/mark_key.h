// The key of a mark of a stuck call (mark_key.cpp), shared by the
// backends that keep marks.
#pragma once

#include <stdint.h>

// The kind, a slash, 32 hex digits and a NUL.
enum { MARK_KEY_LEN = 35 };

// The key of what was asked, as "k/<hash>": kind ('d' a drive's sizes, 'w' a folder walk),
// the device dev (0 where drives are keyed by path alone) and the path.
// The path is hashed, since it may be longer than a name can be: two
// 64-bit FNV-1a hashes with different seeds, so that two keys meet by
// chance about once in 2^128.
void mark_key(char kind, uint64_t dev, const char *path, char *out);
