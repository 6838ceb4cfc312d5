// The rights each folder on the way to a folder below the home folder is
// opened with, and what a name on the way must show before it is opened
// (below_rights.cpp): the Windows backend asks them, and the test platform
// follows them.
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

// File attributes as Windows numbers them.
enum {
  ATTR_DIRECTORY = 0x10,                  // FILE_ATTRIBUTE_DIRECTORY
  ATTR_REPARSE_POINT = 0x400,             // FILE_ATTRIBUTE_REPARSE_POINT
  ATTR_RECALL_ON_OPEN = 0x40000,          // FILE_ATTRIBUTE_RECALL_ON_OPEN
  ATTR_RECALL_ON_DATA_ACCESS = 0x400000,  // FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS
};

// What attributes a and reparse tag (0 when none was told) say of a name
// on the way: BELOW_LINK for a link (a reparse point with a name-surrogate
// tag, or with none, as Wine gives Unix links), BELOW_UNREADABLE for a
// folder whose listing is not on this machine (opening it would fetch
// it), else BELOW_OK.
int below_attributes(uint32_t a, uint32_t tag);

// What was learnt of a name on the way before it is opened.
enum {
  LOOK_LISTED = 1,  // its folder's listing told its attributes and tag
  LOOK_ASKED = 2,   // the listing was refused (a folder that may be
                    // traversed but not listed); its attributes were asked
                    // by name, which opens nothing, and tell no tag
  LOOK_NONE = 3,    // neither could be had
};
// Whether the name may be opened, from what was learnt (how, with its
// attributes a and tag): below_attributes' verdict. A name nothing could
// be learnt of is never opened blind: it may be a folder in the cloud,
// which the open alone would fetch (BELOW_UNREADABLE). A reparse point
// whose tag was not told is opened as itself, never followed, and its
// handle tells the tag.
int below_before_open(int how, uint32_t a, uint32_t tag);
