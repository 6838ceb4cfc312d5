// The rights each folder on the way to a folder below the home folder is
// opened with (below_rights.cpp): the Windows backend asks them, and the
// test platform follows them.
#pragma once

#include <stdint.h>

// Access rights as Windows numbers them.
enum {
  RIGHT_LIST_DIRECTORY = 0x0001,   // FILE_LIST_DIRECTORY
  RIGHT_TRAVERSE = 0x0020,         // FILE_TRAVERSE
  RIGHT_READ_ATTRIBUTES = 0x0080,  // FILE_READ_ATTRIBUTES
};

// The rights for one folder of the way: with last 0 a folder passed
// through (the home folder included), which is only traversed; with last
// 1 the folder to be listed. A folder the user may traverse but not list
// is then no obstacle on the way. Its attributes are read in both.
uint32_t below_access(int last);
