// The folder walk: what lies beneath each entry of the listed folder,
// within the walk's limits.
#include <string.h>

#include "plugin.h"
#include "walk/detail.h"
#include "walk/walk.h"

// The name-surrogate bit of a reparse tag (IsReparseTagNameSurrogate).
static const uint32_t TAG_NAME_SURROGATE = 0x20000000u;

int is_link_entry(const dir_item *item) {
  if (item->is_link) return 1;
  if (!item->is_reparse) return 0;
  return item->reparse_tag == 0 || (item->reparse_tag & TAG_NAME_SURROGATE);
}

// An empty name, "." or "..".
static int no_name(const char *n) {
  return !n[0] || (n[0] == '.' && (!n[1] || (n[1] == '.' && !n[2])));
}

int skip_entry(const dir_item *item) {
  if (no_name(item->name)) return 1;
  return is_link_entry(item) || item->is_mount;
}

// Whether a passed-over entry is a link, whose own blocks the detail walk
// counts (du does) though it is never listed, followed or an entry.
static int passed_link(const dir_item *item) {
  return !item->is_mount && is_link_entry(item) && !no_name(item->name);
}

int enters_folder(const dir_item *item) {
  return !item->recall_on_open && !item->recall_on_data_access;
}

// Tells a watcher that the walk was handed one more entry. Returns 0 when
// the watcher has given up on the walk: the walk then stops as at a limit.
static inline int walk_step(scan_state *state) {
  walk_watch *w = state->watch;
  if (!w) return 1;
  // One writer: a plain store, no locked instruction in the walk's loop.
  w->steps.store(w->steps.load(std::memory_order_relaxed) + 1,
                 std::memory_order_relaxed);
  if (!w->stop.load(std::memory_order_relaxed)) return 1;
  state->truncated = 1;
  state->cut = PARTIAL_STALLED;
  return 0;
}

// The walk met MAX_SCAN_ENTRIES.
static void cut_at_cap(scan_state *state) {
  state->truncated = 1;
  state->cut = PARTIAL_ENTRY_CAP;
}

// A folder one level past the depth limit, for the detail reply: not
// counted, and not listed either. Whatever it holds lies past the limit,
// so it is taken as holding something: telling an empty folder from a
// full one would cost a listing (and a look at its first entry) per
// folder, and a real home has thousands of them, in toolchain and
// package trees that are partial anyway. The folder itself is an entry
// of its parent: its own blocks and time still count.
static void look_past_depth(const dir_iter *parent, const char *name,
                            tree_sum *sum) {
  dir_iter it;
  if (!storage_dir_open(&it, parent, name, NULL)) {
    note_partial(sum, PARTIAL_UNREADABLE);
    return;
  }
  detail_count_self(&it, sum);
  storage_dir_close(&it);
  note_partial(sum, PARTIAL_DEPTH);
}

// The detail walk's item, the nth entry of a folder of the listed folder
// (a child, for its largest children): counted on its own, then added
// into sum, so that its figures stay its own once the entry's saturate.
// Kept out of line: the plain walk's loop stays as small as it was.
__attribute__((noinline)) static void count_child(scan_state *state,
                                                  const dir_iter *it,
                                                  const dir_item *item,
                                                  uint32_t nth, tree_sum *sum) {
  detail_state *d = state->detail;
  tree_sum kid = {0, 0, 0, 0, 0, PARTIAL_NONE};
  detail_begin_child(d, nth);
  if (!item->is_dir) {
    kid.bytes = item->size;
    detail_count_file(d, item, &kid);
  } else {
    detail_count_folder(item, &kid);
    if (enters_folder(item))
      sum_tree(2, state, it, item->name, &kid);
    else
      note_partial(&kid, PARTIAL_CLOUD);
  }
  detail_count_child(d, item, kid.bytes, kid.disk_bytes);
  detail_add_sum(sum, &kid);
}

void sum_tree(int depth, scan_state *state, const dir_iter *parent,
              const char *name, tree_sum *sum) {
  detail_state *d = state->detail;
  if (state->truncated) {
    if (d) note_partial(sum, state->cut);
    return;
  }
  if (depth > MAX_DEPTH) {
    if (d) look_past_depth(parent, name, sum);
    return;
  }
  dir_iter it;
  if (!storage_dir_open(&it, parent, name, NULL)) {
    if (d) note_partial(sum, PARTIAL_UNREADABLE);
    return;
  }
  size_t mark = 0;
  if (d) {
    detail_count_self(&it, sum);
    mark = detail_enter(d, name);
  }
  dir_item item;
  uint32_t nth = 0;  // depth 1: the entries counted, as walked
  while (storage_dir_next(&it, &item) && walk_step(state)) {
    if (skip_entry(&item)) {
      if (d && passed_link(&item)) {
        if (depth == 1) detail_begin_child(d, CHILD_NONE);  // no child
        detail_count_link(d, &it, &item, sum);
      }
      continue;
    }
    if (++state->scanned > MAX_SCAN_ENTRIES) {
      cut_at_cap(state);
      break;
    }
    sum->items++;
    if (d && depth == 1) {
      count_child(state, &it, &item, nth++, sum);
      continue;
    }
    if (!item.is_dir) {
      sum->bytes = add_sat(sum->bytes, item.size);
      if (d) detail_count_file(d, &item, sum);
      continue;
    }
    if (d) detail_count_folder(&item, sum);
    if (enters_folder(&item))
      sum_tree(depth + 1, state, &it, item.name, sum);
    else if (d)
      note_partial(sum, PARTIAL_CLOUD);
  }
  if (d) {
    // The listing broke off: entries past the error are missing.
    if (it.failed) note_partial(sum, PARTIAL_UNREADABLE);
    if (state->truncated) note_partial(sum, state->cut);
    detail_leave(d, mark);
  }
  storage_dir_close(&it);
}

uint64_t sum_dir_win(int depth, scan_state *state, const dir_iter *parent,
                     const char *name) {
  tree_sum sum = {0, 0, 0, 0, 0, PARTIAL_NONE};
  sum_tree(depth, state, parent, name, &sum);
  return sum.bytes;
}

int dir_cmp(const void *a, const void *b) {
  const dir_entry *x = (const dir_entry *)a;
  const dir_entry *y = (const dir_entry *)b;
  if (x->bytes != y->bytes) return x->bytes < y->bytes ? 1 : -1;
  return strcmp(x->name, y->name);
}

// Lists the open folder it into list and closes it. Returns the listed
// count. With detail the walk goes on past the listed entries, counting
// them into the folder's totals alone.
static int list_open(dir_iter &it, dir_entry *list, scan_state *state) {
  detail_state *d = state->detail;
  int count = 0, unlisted = 0;
  dir_item item;
  while (storage_dir_next(&it, &item) && walk_step(state)) {
    if (skip_entry(&item)) {
      if (d && passed_link(&item)) {
        detail_begin_loose(d, item.name);
        detail_count_link(d, &it, &item, &d->folder);
      }
      continue;
    }
    // The cap comes before the count: the entry that meets it is not counted.
    int listed = count < MAX_DIR_ENTRIES;
    if (!listed && !d) {
      state->truncated = 1;
      break;
    }
    if (++state->scanned > MAX_SCAN_ENTRIES) {
      cut_at_cap(state);
      break;
    }
    tree_sum s = {0, 0, 0, 0, 0, PARTIAL_NONE};
    if (d) detail_begin_entry(d, list, listed ? count : -1, item.name);
    if (!item.is_dir) {
      s.bytes = item.size;
      if (d) detail_count_file(d, &item, &s);
    } else {
      if (d) detail_count_folder(&item, &s);
      if (enters_folder(&item))
        sum_tree(1, state, &it, item.name, &s);
      else if (d)
        note_partial(&s, PARTIAL_CLOUD);
    }
    if (d) detail_add_entry(d, &s);
    if (!listed) {
      unlisted = 1;
      if (d) detail_commit(d, NULL, 0);
      continue;
    }
    dir_entry *e = &list[count++];
    // Names are never cut: both hold the longest name a listing gives.
    memcpy(e->name, item.name, strlen(item.name) + 1);
    e->bytes = s.bytes;
    e->is_dir = item.is_dir;
    std::atomic<int> *final = state->watch ? &state->watch->listed : nullptr;
    if (d) {
      detail_fill_entry(e, &s);
      detail_keep_children(d, e, count - 1);
      detail_commit(d, final, count);
    } else if (final) {
      final->store(count, std::memory_order_release);
    }
  }
  // What links directly in the folder took, and an entry that a limit
  // broke off.
  if (d) detail_commit(d, nullptr, 0);
  // The listed folder's own listing broke off: its totals miss entries.
  if (d && it.failed) note_partial(&d->folder, PARTIAL_UNREADABLE);
  storage_dir_close(&it);
  if (d && state->truncated) note_partial(&d->folder, state->cut);
  // The listing's cap stops nothing of a detail walk: the totals stay whole.
  if (unlisted) state->truncated = 1;
  return count;
}

// Opens the home folder root_path into it. Returns 1, or 0 with *reason
// set to REASON_HOME and why it cannot be opened.
static int open_home(dir_iter *it, const char *root_path, int *reason) {
  int home = storage_dir_open_root(it, root_path);
  if (home == BELOW_OK) return 1;
  *reason = REASON_HOME | home;
  return 0;
}

int list_folder(const char *root_path, const char *sub, const char *listed,
                dir_entry *list, scan_state *state, int *reason) {
  dir_iter it;
  *reason = BELOW_OK;
  // The depth limit counts from the listed folder, home or sub alike. The
  // read-ahead of the home folder starts before it is opened; a sub folder
  // is opened first, since it may well be refused, and so is the home
  // folder before it: a home that cannot be opened is refused as such.
  if (sub[0]) {
    if (!open_home(&it, root_path, reason)) return 0;
    storage_dir_close(&it);
    *reason = storage_dir_open_below(&it, root_path, sub);
    if (*reason != BELOW_OK) return 0;
  }
  storage_readahead_begin(listed, MAX_DEPTH,
                          state->detail ? MAX_SCAN_ENTRIES : MAX_DIR_ENTRIES,
                          MAX_SCAN_ENTRIES);
  if (!sub[0] && !open_home(&it, root_path, reason)) {
    storage_readahead_end();
    return 0;
  }
  int count = list_open(it, list, state);
  storage_readahead_end();
  return count;
}

