// The hard-linked files one breakdown has counted, so that each counts
// once in what the files take on the volume, and in one entry.
#pragma once

#include <stdint.h>

// The holder of a file met in an entry past the listing's cap.
static const uint32_t LINKS_UNLISTED = 0xffffffffu;

// One file: (device, file id), and the entry of the listed folder that
// holds it (its index in the listing, or LINKS_UNLISTED).
struct link_slot {
  uint64_t dev;
  uint64_t id;  // 0: an empty slot
  uint32_t holder;
};

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
// request, returns where its holder is kept, for the caller to read or
// move. Otherwise records it as held by holder and returns NULL; NULL too
// when the table cannot be had or is full, and nothing is recorded: the
// file then counts in full, over-counted rather than left out.
uint32_t *links_seen_check(links_seen *t, uint64_t dev, uint64_t id,
                           uint32_t holder);
// Frees the table.
void links_seen_free(links_seen *t);
