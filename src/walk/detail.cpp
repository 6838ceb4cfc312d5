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

// a - b, where a holds b; a saturated sum stays so.
static uint64_t sub_held(uint64_t a, uint64_t b) {
  if (a == UINT64_MAX) return a;
  return a > b ? a - b : 0;
}

void detail_begin_entry(detail_state *d, dir_entry *list, int index,
                        const char *name) {
  d->list = list;
  d->entry = index < 0 ? LINKS_UNLISTED : (uint32_t)index;
  d->entry_name = name;
  children_begin(&d->ranking);
  d->nth = CHILD_NONE;
}

// A file's holder in the hard-link table: the listed entry walked (9 bits)
// and which of its children holds the file (the bits above), so that the
// child too gives the file up when an entry whose name comes first takes
// it; or LINKS_UNLISTED.
static_assert(MAX_DIR_ENTRIES <= 512 && (int)MAX_SCAN_ENTRIES < (int)CHILD_NONE,
              "a holder is 9 bits of entry and 22 of child");
static uint32_t holder_of(const detail_state *d) {
  return d->entry == LINKS_UNLISTED ? LINKS_UNLISTED : d->entry | d->nth << 9;
}

// The file of slot, which takes disk on the volume, moves to the rows of
// type and age: taken off its rows, and added to the new ones when give
// (else the name's own count adds it, as its entry's share).
static void move_rows(detail_state *d, link_slot *slot, uint16_t type, int age,
                      uint64_t disk, int give) {
  if (slot->type != TYPE_NO_FILE) {
    file_sum *t = &d->types.slot[slot->type].sum, *a = &d->ages[slot->age];
    t->disk_bytes = sub_held(t->disk_bytes, disk);
    a->disk_bytes = sub_held(a->disk_bytes, disk);
  }
  if (type != TYPE_NO_FILE && give) {
    file_sum *t = &d->types.slot[type].sum, *a = &d->ages[age];
    t->disk_bytes = add_sat(t->disk_bytes, disk);
    a->disk_bytes = add_sat(a->disk_bytes, disk);
  }
  slot->type = type;
  slot->age = (uint8_t)age;
}

// What the file item, one name of a file that may have others, adds to
// the entry being walked. The first name met takes the whole file, the
// later ones nothing; but the file goes to the entry whose name comes
// first in byte order, so that each entry holds what du gives for it
// with the entries named in that order, whatever order the walk meets
// them in. The listed entries are walked before any past the cap, so the
// holder's name is always at hand when the file moves: taken off a
// finished record (when the current entry ends, detail_commit) and off
// the folder's total, which the current entry gives back. Kept out of line: a file with one
// name, the common one, then costs the walk no more than it did.
//
// What the file takes on disk goes with it to the type and age band of
// one of its names (type TYPE_NO_FILE: a link, counted by neither): of
// the entry that holds it, the name whose type comes first, so that the
// rows too are the same whatever order the walk meets the names in.
__attribute__((noinline)) static uint64_t linked_share(detail_state *d,
                                                       const dir_item *item,
                                                       uint16_t type, int age) {
  link_slot *slot = links_seen_check(&d->links, item->dev_id, item->file_id,
                                     holder_of(d), type, (uint8_t)age);
  if (!slot) return item->disk_size;
  uint32_t *holder = &slot->holder;
  uint32_t h = *holder == LINKS_UNLISTED ? LINKS_UNLISTED : *holder & 511;
  if (h == d->entry && h != LINKS_UNLISTED && type != TYPE_NO_FILE &&
      slot->type != TYPE_NO_FILE && type_before(&d->types, type, slot->type)) {
    move_rows(d, slot, type, age, item->disk_size, 1);
    return 0;
  }
  if (h == d->entry || h == LINKS_UNLISTED ||
      strcmp(d->entry_name, d->list[h].name) >= 0)
    return 0;
  if (!d->is_touched[h]) {
    d->is_touched[h] = 1;
    d->touched[d->touched_n++] = (uint16_t)h;
  }
  d->given[h] = add_sat(d->given[h], item->disk_size);
  int kid = children_find(&d->children[h], *holder >> 9);
  if (kid >= 0)
    d->kid_given[h][kid] = add_sat(d->kid_given[h][kid], item->disk_size);
  d->folder.disk_bytes = sub_held(d->folder.disk_bytes, item->disk_size);
  // The entry's share goes to this name's rows, as it counts.
  move_rows(d, slot, type, age, item->disk_size, 0);
  *holder = holder_of(d);
  return item->disk_size;
}

// What the file or link item adds to the entry being walked: all it takes,
// or for one that may have other names its share. Where the link count is
// not told (Windows' listing gives ids but no counts), every file with an
// id is remembered: a walk counts at most MAX_SCAN_ENTRIES files, fewer
// than the table holds.
static inline uint64_t share_of(detail_state *d, const dir_item *item,
                                uint16_t type, int age) {
  if ((item->links > 1 || item->links == 0) && item->file_id)
    return linked_share(d, item, type, age);
  return item->disk_size;
}

static inline void count_in(file_sum *s, uint64_t bytes, uint64_t disk) {
  s->files++;
  s->bytes = add_sat(s->bytes, bytes);
  s->disk_bytes = add_sat(s->disk_bytes, disk);
}

void detail_count_file(detail_state *d, const dir_item *item, tree_sum *sum) {
  // Nothing is known of it, not even what it takes.
  if (item->unreadable) {
    note_partial(sum, PARTIAL_UNREADABLE);
    return;
  }
  uint16_t type = type_row_of(&d->types, item->name);
  int age = age_band(d->now, item->has_mtime, item->mtime);
  uint64_t share = share_of(d, item, type, age);
  sum->disk_bytes = add_sat(sum->disk_bytes, share);
  count_in(&d->types.slot[type].sum, item->size, share);
  count_in(&d->ages[age], item->size, share);
  note_time(sum, item->has_mtime, item->mtime);
  // The list ranks a linked file by what the whole file takes, under the
  // name that ranks first: the same on every walk order, and links tells
  // deleting one frees nothing.
  largest_offer(&d->largest, d->dir, d->dir_len, d->dir_ends, d->dir_names,
                item);
}

void detail_count_folder(const dir_item *item, tree_sum *sum) {
  sum->disk_bytes = add_sat(sum->disk_bytes, item->disk_size);
  note_time(sum, item->has_mtime, item->mtime);
}

void detail_count_link(detail_state *d, const dir_iter *it, dir_item *item,
                       tree_sum *sum) {
  storage_link_facts(it, item);
  // Taken before sum is read: for a link directly in the listed folder sum
  // is the folder's total, which taking the link from an entry lowers.
  uint64_t share = share_of(d, item, TYPE_NO_FILE, AGE_UNKNOWN);
  sum->disk_bytes = add_sat(sum->disk_bytes, share);
}

void detail_begin_loose(detail_state *d, const char *name) {
  d->entry = LINKS_UNLISTED;
  d->entry_name = name;
  d->nth = CHILD_NONE;
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
  if (mark + 1 + n >= sizeof d->dir || d->dir_names >= LARGEST_NAMES - 1)
    return mark;
  if (mark) d->dir[d->dir_len++] = storage_sep;
  memcpy(d->dir + d->dir_len, name, n + 1);
  d->dir_len += n;
  d->dir_ends[d->dir_names++] = (uint16_t)d->dir_len;
  return mark;
}

void detail_leave(detail_state *d, size_t mark) {
  while (d->dir_names > 0 && d->dir_ends[d->dir_names - 1] > mark)
    d->dir_names--;
  d->dir_len = mark;
  d->dir[mark] = '\0';
}

// Adds s (the entry itself: 1 item, and what lies beneath it) to total.
void detail_add_sum(tree_sum *sum, const tree_sum *kid) {
  sum->bytes = add_sat(sum->bytes, kid->bytes);
  sum->disk_bytes = add_sat(sum->disk_bytes, kid->disk_bytes);
  sum->items = add_sat(sum->items, kid->items);
  note_time(sum, kid->has_mtime, kid->mtime);
  note_partial(sum, kid->partial);
}

static void add_counted(tree_sum *total, const tree_sum *s) {
  detail_add_sum(total, s);
  total->items = add_sat(total->items, 1);
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

static void lock_records(detail_state *d) {
  while (d->lock.exchange(1, std::memory_order_acquire))
    ;  // held only while records are copied from memory, never across a call
}

static void unlock_records(detail_state *d) {
  d->lock.store(0, std::memory_order_release);
}

void detail_commit(detail_state *d, std::atomic<int> *listed, int count) {
  lock_records(d);
  if (!d->frozen) {
    for (int i = 0; i < d->touched_n; i++) {
      int h = d->touched[i];
      d->list[h].disk_bytes = sub_held(d->list[h].disk_bytes, d->given[h]);
      children_settle(&d->children[d->list[h].children], d->kid_given[h]);
      d->given[h] = 0;
      memset(d->kid_given[h], 0, sizeof d->kid_given[h]);
      d->is_touched[h] = 0;
    }
    d->touched_n = 0;
    if (listed) listed->store(count, std::memory_order_release);
  }
  unlock_records(d);
}

int detail_freeze(detail_state *d, std::atomic<int> *listed) {
  lock_records(d);
  d->frozen = 1;
  int count = listed->load(std::memory_order_acquire);
  unlock_records(d);
  return count;
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

