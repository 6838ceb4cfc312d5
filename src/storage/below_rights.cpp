#include "storage/below_rights.h"

uint32_t below_access(int last) {
  return (last ? RIGHT_LIST_DIRECTORY : RIGHT_TRAVERSE) | RIGHT_READ_ATTRIBUTES;
}
