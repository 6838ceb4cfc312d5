#include "storage/below_rights.h"

#include "storage/storage.h"

uint32_t below_access(int last) {
  return (last ? RIGHT_LIST_DIRECTORY : RIGHT_TRAVERSE) | RIGHT_READ_ATTRIBUTES;
}

// IsReparseTagNameSurrogate: symbolic links, junctions, mount points.
static const uint32_t TAG_NAME_SURROGATE = 0x20000000u;

int below_attributes(uint32_t a, uint32_t tag) {
  if ((a & ATTR_REPARSE_POINT) && (tag == 0 || (tag & TAG_NAME_SURROGATE)))
    return BELOW_LINK;
  if (a & (ATTR_RECALL_ON_OPEN | ATTR_RECALL_ON_DATA_ACCESS)) return BELOW_UNREADABLE;
  return BELOW_OK;
}

int below_before_open(int how, uint32_t a, uint32_t tag) {
  if (how == LOOK_LISTED) return below_attributes(a, tag);
  if (how == LOOK_NONE) return BELOW_UNREADABLE;
  return below_attributes(a & ~(uint32_t)ATTR_REPARSE_POINT, 0);
}
