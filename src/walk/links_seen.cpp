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

link_slot *links_seen_check(links_seen *t, uint64_t dev, uint64_t id,
                            uint32_t holder, uint16_t type, uint8_t age) {
  if (!t->slots) {
    // calloc maps fresh zero pages: only the slots written cost memory.
    t->slots = (link_slot *)calloc(LINKS_SEEN_SLOTS, sizeof(link_slot));
    if (!t->slots) return NULL;
  }
  uint32_t mask = LINKS_SEEN_SLOTS - 1;
  for (uint32_t i = (uint32_t)mix(dev, id) & mask;; i = (i + 1) & mask) {
    link_slot *slot = &t->slots[i];
    if (slot->id == 0) {  // an empty slot: id 0 is never recorded
      if (t->used >= LINKS_SEEN_MAX) return NULL;
      slot->dev = dev;
      slot->id = id;
      slot->holder = holder;
      slot->type = type;
      slot->age = age;
      t->used++;
      return NULL;
    }
    if (slot->dev == dev && slot->id == id) return slot;
  }
}

void links_seen_free(links_seen *t) {
  free(t->slots);
  t->slots = NULL;
  t->used = 0;
}
