// The hard-linked files one breakdown has counted, so that each counts
// once in what the files take on the volume, and in one entry.
#pragma once

#include <stdint.h>

// The holder of a file met in an entry past the listing's cap.
static const uint32_t LINKS_UNLISTED = 0xffffffffu;

// One file: (device, file id), the entry of the listed folder that
// holds it (its index in the listing, or LINKS_UNLISTED), and the type
// and age band it counts in under the holder's name.
struct link_slot {
  uint64_t dev;
  uint64_t id;  // 0: an empty slot
  uint32_t holder;
  uint16_t type;
  uint8_t age;
};
static_assert(sizeof(link_slot) == 24, "the type and band fit the slot's padding");

// An open-addressing table of files, allocated at the first linked file a
// request meets. It holds at most LINKS_SEEN_MAX files, more than a walk
// can count (MAX_SCAN_ENTRIES), with half its slots left free so that a
// lookup stays a probe or two: 2^18 slots of 24 bytes, 6 MiB.
enum { LINKS_SEEN_SLOTS = 1 << 18, LINKS_SEEN_MAX = LINKS_SEEN_SLOTS / 2 };

struct links_seen {
  link_slot *slots;  // LINKS_SEEN_SLOTS; NULL until the first file
  uint32_t used;
};

// Looks up the file (dev, id) (id != 0). When it was met before in this
// request, returns its slot, for the caller to read or move its holder.
// Otherwise records it as held by holder, in type and age, and returns
// NULL; NULL too when the table cannot be had or is full, and nothing is
// recorded: the file then counts in full, over-counted rather than left
// out.
link_slot *links_seen_check(links_seen *t, uint64_t dev, uint64_t id,
                            uint32_t holder, uint16_t type, uint8_t age);
// Frees the table.
void links_seen_free(links_seen *t);
