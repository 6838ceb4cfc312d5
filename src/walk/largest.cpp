#include "walk/largest.h"

#include <string.h>

int largest_cmp(const largest_file *a, const largest_file *b) {
  if (a->disk_bytes != b->disk_bytes) return a->disk_bytes > b->disk_bytes ? -1 : 1;
  if (a->bytes != b->bytes) return a->bytes > b->bytes ? -1 : 1;
  return strcmp(a->rel, b->rel);
}

// Whether file i of l ranks after file j.
static int after(const largest_list *l, int i, int j) {
  return largest_cmp(&l->files[i], &l->files[j]) > 0;
}

static void swap_order(largest_list *l, int a, int b) {
  unsigned char t = l->order[a];
  l->order[a] = l->order[b];
  l->order[b] = t;
}

// Moves order[at] down until both its children rank before it.
static void sift_down(largest_list *l, int at) {
  for (;;) {
    int last = at, kid = 2 * at + 1;
    for (int k = kid; k < kid + 2 && k < l->n; k++)
      if (after(l, l->order[k], l->order[last])) last = k;
    if (last == at) return;
    swap_order(l, at, last);
    at = last;
  }
}

static void sift_up(largest_list *l, int at) {
  while (at > 0) {
    int up = (at - 1) / 2;
    if (!after(l, l->order[at], l->order[up])) return;
    swap_order(l, at, up);
    at = up;
  }
}

void largest_offer(largest_list *l, const char *dir, size_t dir_len,
                   const dir_item *item, uint64_t disk_bytes) {
  if (l->n == LARGEST_MAX) {
    // Most files lose on the numbers alone, before any path is built.
    const largest_file *last = &l->files[l->order[0]];
    if (disk_bytes < last->disk_bytes ||
        (disk_bytes == last->disk_bytes && item->size < last->bytes))
      return;
  }
  largest_file *f = &l->offered;
  size_t n = strlen(item->name);
  if (dir_len + 1 + n >= sizeof f->rel) return;  // beyond the walk's depth
  f->disk_bytes = disk_bytes;
  f->bytes = item->size;
  f->mtime = item->mtime;
  f->has_mtime = item->has_mtime;
  f->links = item->links;
  size_t at = 0;
  if (dir_len) {
    memcpy(f->rel, dir, dir_len);
    f->rel[dir_len] = storage_sep;
    at = dir_len + 1;
  }
  memcpy(f->rel + at, item->name, n + 1);
  int appended = l->n < LARGEST_MAX;
  int slot = appended ? l->n : l->order[0];
  if (!appended && largest_cmp(f, &l->files[slot]) >= 0) return;
  largest_file *to = &l->files[slot];
  to->disk_bytes = f->disk_bytes;
  to->bytes = f->bytes;
  to->mtime = f->mtime;
  to->has_mtime = f->has_mtime;
  to->links = f->links;
  memcpy(to->rel, f->rel, at + n + 1);
  if (appended) {
    l->order[l->n] = (unsigned char)slot;
    l->n++;
    sift_up(l, l->n - 1);
  } else {
    sift_down(l, 0);  // it took the place of the last one
  }
}

void largest_sort(largest_list *l) {
  // Fifty records at most: an insertion sort on their order.
  for (int i = 1; i < l->n; i++)
    for (int j = i; j > 0 && after(l, l->order[j - 1], l->order[j]); j--)
      swap_order(l, j, j - 1);
}
