#include "walk/children.h"

#include <string.h>

int children_cmp(const child_slot *a, const child_slot *b) {
  if (a->disk_bytes != b->disk_bytes) return a->disk_bytes > b->disk_bytes ? -1 : 1;
  if (a->bytes != b->bytes) return a->bytes > b->bytes ? -1 : 1;
  return strcmp(a->name, b->name);
}

void children_offer(children_rank *r, const char *name, int is_dir,
                    uint64_t bytes, uint64_t disk_bytes, uint32_t nth) {
  child_slot *last =
      r->n == CHILDREN_MAX ? &r->slots[r->order[CHILDREN_MAX - 1]] : NULL;
  // Most children of a large folder lose on the numbers alone.
  if (last && (disk_bytes < last->disk_bytes ||
               (disk_bytes == last->disk_bytes && bytes < last->bytes)))
    return;
  if (last && disk_bytes == last->disk_bytes && bytes == last->bytes &&
      strcmp(name, last->name) > 0)
    return;
  // The new child takes a free slot, or the last one's.
  int slot = last ? r->order[CHILDREN_MAX - 1] : r->n;
  int at = last ? CHILDREN_MAX - 1 : r->n++;
  child_slot *s = &r->slots[slot];
  s->bytes = bytes;
  s->disk_bytes = disk_bytes;
  s->is_dir = is_dir;
  s->nth = nth;
  memcpy(s->name, name, strlen(name) + 1);
  for (; at > 0 && children_cmp(s, &r->slots[r->order[at - 1]]) < 0; at--)
    r->order[at] = r->order[at - 1];
  r->order[at] = (unsigned char)slot;
}

void children_keep(const children_rank *r, entry_children *out) {
  size_t room = 0;
  out->n = 0;
  for (int i = 0; i < r->n; i++) {
    const child_slot *s = &r->slots[r->order[i]];
    size_t len = strlen(s->name) + 1;
    if (room + len > sizeof out->names) return;
    memcpy(out->names + room, s->name, len);
    entry_child *c = &out->c[out->n++];
    c->bytes = s->bytes;
    c->disk_bytes = s->disk_bytes;
    c->name_at = (uint16_t)room;
    c->is_dir = (uint8_t)(s->is_dir != 0);
    c->nth = s->nth;
    room += len;
  }
}

int children_find(const entry_children *k, uint32_t nth) {
  for (int i = 0; i < k->n; i++)
    if (k->c[i].nth == nth) return i;
  return -1;
}

// Whether kept child a ranks after b (as children_cmp ranks them).
static int ranks_after(const entry_children *k, const entry_child *a,
                       const entry_child *b) {
  if (a->disk_bytes != b->disk_bytes) return a->disk_bytes < b->disk_bytes;
  if (a->bytes != b->bytes) return a->bytes < b->bytes;
  return strcmp(k->names + a->name_at, k->names + b->name_at) > 0;
}

void children_settle(entry_children *k, const uint64_t *given) {
  for (int i = 0; i < k->n; i++) {
    uint64_t *disk = &k->c[i].disk_bytes;
    // A saturated sum stays so.
    if (*disk != UINT64_MAX) *disk = *disk > given[i] ? *disk - given[i] : 0;
  }
  // Eight records at most: an insertion sort.
  for (int i = 1; i < k->n; i++)
    for (int j = i; j > 0 && ranks_after(k, &k->c[j - 1], &k->c[j]); j--) {
      entry_child t = k->c[j];
      k->c[j] = k->c[j - 1];
      k->c[j - 1] = t;
    }
}
