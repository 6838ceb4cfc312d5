// What the detail walk counts beyond the sizes.
#include <stdlib.h>
#include <string.h>

#include "walk/detail.h"

detail_state *detail_new(void) {
  return (detail_state *)calloc(1, sizeof(detail_state));
}

void detail_free(detail_state *d) {
  if (!d) return;
  links_seen_free(&d->links);
  free(d);
}

static void note_time(tree_sum *sum, int has_mtime, int64_t mtime) {
  if (has_mtime && (!sum->has_mtime || mtime > sum->mtime)) {
    sum->has_mtime = 1;
    sum->mtime = mtime;
  }
}

void detail_count_file(detail_state *d, const dir_item *item, tree_sum *sum) {
  uint64_t disk = item->disk_size;
  // Each further name of a hard-linked file takes nothing more. Where the
  // link count is not told (Windows' listing gives ids but no counts),
  // every file with an id is remembered: a walk counts at most
  // MAX_SCAN_ENTRIES files, fewer than the table holds.
  if ((item->links > 1 || item->links == 0) && item->file_id &&
      links_seen_check(&d->links, item->dev_id, item->file_id))
    disk = 0;
  sum->disk_bytes = add_sat(sum->disk_bytes, disk);
  note_time(sum, item->has_mtime, item->mtime);
  // The list ranks every name of a linked file by what the file takes:
  // the same on every walk order, and links tells deleting one frees
  // nothing.
  largest_offer(&d->largest, d->dir, d->dir_len, item, item->disk_size);
}

void detail_count_folder(const dir_item *item, tree_sum *sum) {
  sum->disk_bytes = add_sat(sum->disk_bytes, item->disk_size);
  note_time(sum, item->has_mtime, item->mtime);
}

void detail_count_self(const dir_iter *it, tree_sum *sum) {
  dir_item self;
  self.disk_size = 0;
  self.has_mtime = 0;
  self.mtime = 0;
  if (!storage_dir_self(it, &self)) return;
  detail_count_folder(&self, sum);
}

size_t detail_enter(detail_state *d, const char *name) {
  size_t mark = d->dir_len, n = strlen(name);
  // Cannot happen within the depth limit; the path then stays the parent's.
  if (mark + 1 + n >= sizeof d->dir) return mark;
  if (mark) d->dir[d->dir_len++] = storage_sep;
  memcpy(d->dir + d->dir_len, name, n + 1);
  d->dir_len += n;
  return mark;
}

void detail_leave(detail_state *d, size_t mark) {
  d->dir_len = mark;
  d->dir[mark] = '\0';
}

// Adds s (the entry itself: 1 item, and what lies beneath it) to total.
static void add_counted(tree_sum *total, const tree_sum *s) {
  total->bytes = add_sat(total->bytes, s->bytes);
  total->disk_bytes = add_sat(total->disk_bytes, s->disk_bytes);
  total->items = add_sat(total->items, add_sat(s->items, 1));
  note_time(total, s->has_mtime, s->mtime);
  note_partial(total, s->partial);
}

void detail_add_entry(detail_state *d, const tree_sum *s) {
  add_counted(&d->folder, s);
}

void detail_fill_entry(dir_entry *e, const tree_sum *s) {
  e->disk_bytes = s->disk_bytes;
  e->items = e->is_dir ? s->items : 1;
  e->mtime = s->mtime;
  e->has_mtime = s->has_mtime;
  e->partial = s->partial;
}

void detail_keep_children(detail_state *d, dir_entry *e, int index) {
  children_keep(&d->ranking, &d->children[index]);
  e->children = index;
}

tree_sum detail_sum_records(const dir_entry *list, int count) {
  tree_sum total = {0, 0, 0, 0, 0, PARTIAL_STALLED};
  for (int i = 0; i < count; i++) {
    const dir_entry *e = &list[i];
    tree_sum s = {e->bytes, e->disk_bytes, e->is_dir ? e->items : 0,
                  e->mtime, e->has_mtime, e->partial};
    add_counted(&total, &s);
  }
  return total;
}

