#include "walk/links_seen.h"

#include <stdlib.h>

// Spreads the bits of a (device, inode) pair over the slots: inode
// numbers come in runs, so a plain modulo would crowd a few slots.
static uint64_t mix(uint64_t dev, uint64_t id) {
  uint64_t x = id ^ (dev * 0x9e3779b97f4a7c15ull);
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ull;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebull;
  return x ^ (x >> 31);
}

int links_seen_check(links_seen *t, uint64_t dev, uint64_t id) {
  if (!t->slots) {
    // calloc maps fresh zero pages: only the slots written cost memory.
    t->slots = (uint64_t *)calloc(LINKS_SEEN_SLOTS, 2 * sizeof(uint64_t));
    if (!t->slots) return 0;
  }
  uint32_t mask = LINKS_SEEN_SLOTS - 1;
  for (uint32_t i = (uint32_t)mix(dev, id) & mask;; i = (i + 1) & mask) {
    uint64_t *slot = &t->slots[2 * i];
    if (slot[1] == 0) {  // an empty slot: id 0 is never recorded
      if (t->used >= LINKS_SEEN_MAX) return 0;
      slot[0] = dev;
      slot[1] = id;
      t->used++;
      return 0;
    }
    if (slot[0] == dev && slot[1] == id) return 1;
  }
}

void links_seen_free(links_seen *t) {
  free(t->slots);
  t->slots = NULL;
  t->used = 0;
}
