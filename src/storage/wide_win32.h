// Text and paths at the edge of the Windows backend. Everything above the
// storage layer is UTF-8; the system's wide calls take UTF-16. Converting
// happens here, and nowhere else.
#pragma once

#include <windows.h>

#include <stddef.h>

// Cloud-file attributes that older mingw-w64 headers do not name.
#ifndef FILE_ATTRIBUTE_RECALL_ON_OPEN
#define FILE_ATTRIBUTE_RECALL_ON_OPEN 0x00040000
#endif
#ifndef FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS
#define FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS 0x00400000
#endif

// The longest path the wide calls take, in UTF-16 units with its NUL.
enum { WIDE_PATH_CAP = 32768 };

// in (UTF-16, len units, or up to its NUL when len is -1) into out as
// UTF-8, terminated, cut before the first character that does not fit in
// cap - 1 bytes (never inside one). A lone surrogate becomes U+FFFD.
// Returns the bytes written, without the NUL. cap must be at least 1.
size_t wide_to_utf8(const WCHAR *in, int len, char *out, size_t cap);

// in (UTF-8) into out as UTF-16, terminated. Bytes that are not UTF-8
// become U+FFFD. Returns the units written without the NUL, or -1 when the
// whole text does not fit in cap units with its NUL (out is then "").
int utf8_to_wide(const char *in, WCHAR *out, int cap);

// The long-path form of the UTF-8 path in, for the wide calls: made
// absolute and normalised first as the system would do it (forward
// slashes, repeated and trailing separators, "." and ".." parts), since
// the "\\?\" form turns that off; then "\\?\C:\..." for a drive path or
// "\\?\UNC\server\share\..." for a network one. A path already in a
// "\\?\" or "\\.\" form is taken as it is. The result has no trailing
// separator unless it is a volume's root ("\\?\C:\"). Returns its length
// in units, or -1 when it cannot be formed within cap units (out is then
// "").
int wide_long_path(const char *in, WCHAR *out, int cap);
