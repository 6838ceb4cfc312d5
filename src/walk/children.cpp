#include "walk/children.h"

#include <string.h>

int children_cmp(const child_slot *a, const child_slot *b) {
  if (a->disk_bytes != b->disk_bytes) return a->disk_bytes > b->disk_bytes ? -1 : 1;
  if (a->bytes != b->bytes) return a->bytes > b->bytes ? -1 : 1;
  return strcmp(a->name, b->name);
}

void children_offer(children_rank *r, const char *name, int is_dir,
                    uint64_t bytes, uint64_t disk_bytes) {
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
    room += len;
  }
}
