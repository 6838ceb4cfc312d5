// The hard-linked files one breakdown has counted, so that each counts
// once in what the files take on the volume.
#pragma once

#include <stdint.h>

// An open-addressing table of (device, file id) pairs, allocated at the
// first linked file a request meets. It holds at most LINKS_SEEN_MAX
// pairs, more than a walk can count (MAX_SCAN_ENTRIES), with half its
// slots left free so that a lookup stays a probe or two: 2^18 slots of 16
// bytes, 4 MiB.
enum { LINKS_SEEN_SLOTS = 1 << 18, LINKS_SEEN_MAX = LINKS_SEEN_SLOTS / 2 };

struct links_seen {
  uint64_t *slots;  // LINKS_SEEN_SLOTS pairs; NULL until the first one
  uint32_t used;
};

// Whether the file (dev, id) was met before in this request (id != 0).
// Returns 1 when it was; otherwise records it and returns 0. When the
// table cannot be had or is full, nothing is recorded and 0 is returned:
// the file then counts in full, over-counted rather than left out.
int links_seen_check(links_seen *t, uint64_t dev, uint64_t id);
// Frees the table.
void links_seen_free(links_seen *t);
