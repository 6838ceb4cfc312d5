#include "walk/largest.h"

#include <string.h>

// The paths of a and b compared name by name; a name that is the start of
// another sorts first.
static int path_cmp(const largest_file *a, const largest_file *b) {
  size_t a_at = 0, b_at = 0;
  for (int i = 0; i < a->names && i < b->names; i++) {
    size_t an = a->ends[i] - a_at, bn = b->ends[i] - b_at;
    int c = memcmp(a->rel + a_at, b->rel + b_at, an < bn ? an : bn);
    if (c) return c;
    if (an != bn) return an < bn ? -1 : 1;
    a_at = a->ends[i] + 1u;
    b_at = b->ends[i] + 1u;
  }
  return a->names - b->names;
}

int largest_cmp(const largest_file *a, const largest_file *b) {
  if (a->disk_bytes != b->disk_bytes) return a->disk_bytes > b->disk_bytes ? -1 : 1;
  if (a->bytes != b->bytes) return a->bytes > b->bytes ? -1 : 1;
  return path_cmp(a, b);
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

// The path of f into to (both its bytes and where its names end).
static void copy_path(largest_file *to, const largest_file *f) {
  size_t n = f->ends[f->names - 1];
  memcpy(to->rel, f->rel, n + 1);
  memcpy(to->ends, f->ends, (size_t)f->names * sizeof f->ends[0]);
  to->names = f->names;
}

// Whether f, another name of a file kept already, was taken in: that
// file is then listed under whichever of the two names ranks first.
static int same_file_kept(largest_list *l, const largest_file *f) {
  for (int at = 0; at < l->n; at++) {
    largest_file *kept = &l->files[l->order[at]];
    if (kept->file_id != f->file_id || kept->dev_id != f->dev_id) continue;
    if (path_cmp(f, kept) < 0) {
      copy_path(kept, f);
      sift_down(l, at);  // it ranks earlier now
    }
    return 1;
  }
  return 0;
}

void largest_offer(largest_list *l, const char *dir, size_t dir_len,
                   const uint16_t *ends, int names, const dir_item *item,
                   uint64_t disk_bytes) {
  if (l->n == LARGEST_MAX) {
    // Most files lose on the numbers alone, before any path is built.
    const largest_file *last = &l->files[l->order[0]];
    if (disk_bytes < last->disk_bytes ||
        (disk_bytes == last->disk_bytes && item->size < last->bytes))
      return;
  }
  largest_file *f = &l->offered;
  size_t n = strlen(item->name);
  // Beyond the walk's depth: cannot happen.
  if (dir_len + 1 + n >= sizeof f->rel || names >= LARGEST_NAMES) return;
  f->disk_bytes = disk_bytes;
  f->bytes = item->size;
  f->mtime = item->mtime;
  f->has_mtime = item->has_mtime;
  f->links = item->links;
  // Keyed as the hard-link table keys it.
  int keyed = (item->links > 1 || item->links == 0) && item->file_id;
  f->dev_id = keyed ? item->dev_id : 0;
  f->file_id = keyed ? item->file_id : 0;
  size_t at = 0;
  if (dir_len) {
    memcpy(f->rel, dir, dir_len);
    f->rel[dir_len] = storage_sep;
    at = dir_len + 1;
  }
  memcpy(f->rel + at, item->name, n + 1);
  memcpy(f->ends, ends, (size_t)names * sizeof ends[0]);
  f->ends[names] = (uint16_t)(at + n);
  f->names = names + 1;
  if (keyed && same_file_kept(l, f)) return;
  int appended = l->n < LARGEST_MAX;
  int slot = appended ? l->n : l->order[0];
  if (!appended && largest_cmp(f, &l->files[slot]) >= 0) return;
  largest_file *to = &l->files[slot];
  to->disk_bytes = f->disk_bytes;
  to->bytes = f->bytes;
  to->mtime = f->mtime;
  to->has_mtime = f->has_mtime;
  to->links = f->links;
  to->dev_id = f->dev_id;
  to->file_id = f->file_id;
  copy_path(to, f);
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

const char *largest_name(const largest_file *f) {
  return f->names > 1 ? f->rel + f->ends[f->names - 2] + 1 : f->rel;
}
