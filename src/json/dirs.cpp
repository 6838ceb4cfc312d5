#include "json/dirs.h"

#include <stdlib.h>
#include <string.h>

#include "front/sub_path.h"
#include "json/actions.h"
#include "json/detail.h"
#include "json/mounts.h"
#include "json/writer.h"
#include "plugin.h"

// The name-surrogate bit of a reparse tag (IsReparseTagNameSurrogate).
static const uint32_t TAG_NAME_SURROGATE = 0x20000000u;

int is_link_entry(const dir_item *item) {
  if (item->is_link) return 1;
  if (!item->is_reparse) return 0;
  return item->reparse_tag == 0 || (item->reparse_tag & TAG_NAME_SURROGATE);
}

int skip_entry(const dir_item *item) {
  const char *n = item->name;
  if (!n[0]) return 1;
  if (n[0] == '.' && (!n[1] || (n[1] == '.' && !n[2]))) return 1;
  return is_link_entry(item) || item->is_mount;
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
// counted, but opened to tell whether it held anything left uncounted
// (and what the folder itself takes).
static void look_past_depth(scan_state *state, const dir_iter *parent,
                            const char *name, tree_sum *sum) {
  dir_iter it;
  if (!storage_dir_open(&it, parent, name, NULL)) {
    note_partial(sum, PARTIAL_UNREADABLE);
    return;
  }
  detail_count_self(&it, sum);
  dir_item item;
  while (storage_dir_next(&it, &item) && walk_step(state))
    if (!skip_entry(&item)) {
      note_partial(sum, PARTIAL_DEPTH);
      break;
    }
  if (state->truncated) note_partial(sum, state->cut);
  storage_dir_close(&it);
}

void sum_tree(int depth, scan_state *state, const dir_iter *parent,
              const char *name, tree_sum *sum) {
  detail_state *d = state->detail;
  if (state->truncated) {
    if (d) note_partial(sum, state->cut);
    return;
  }
  if (depth > MAX_DEPTH) {
    if (d) look_past_depth(state, parent, name, sum);
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
  while (storage_dir_next(&it, &item) && walk_step(state)) {
    if (skip_entry(&item)) continue;
    if (++state->scanned > MAX_SCAN_ENTRIES) {
      cut_at_cap(state);
      break;
    }
    sum->items++;
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

static void write_refusal_head(const char *error) {
  json_header();
  OUT_LIT("{\"ok\":false,\"error\":");
  json_str(error);
  OUT_LIT(",\"allowed_roots\":[\"workspace\",\"home\"]");
}

// The root_unavailable refusal for root, with message saying why.
static void write_root_unavailable(const char *root, const char *message) {
  write_refusal_head("root_unavailable");
  OUT_LIT(",\"requested\":");
  json_str(root);
  OUT_LIT(",\"message\":");
  json_str(message);
  OUT_LIT("}\n");
}

static const char NO_ROOT[] = "this root does not exist on this node";

// Lists the open folder it into list and closes it. Returns the listed
// count. With detail the walk goes on past the listed entries, counting
// them into the folder's totals alone.
static int list_open(dir_iter &it, dir_entry *list, scan_state *state) {
  detail_state *d = state->detail;
  int count = 0, unlisted = 0;
  dir_item item;
  while (storage_dir_next(&it, &item) && walk_step(state)) {
    if (skip_entry(&item)) continue;
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
      continue;
    }
    dir_entry *e = &list[count++];
    copy_str(e->name, sizeof e->name, item.name);  // names are never cut
    e->bytes = s.bytes;
    e->is_dir = item.is_dir;
    if (d) detail_fill_entry(e, &s);
    if (state->watch) state->watch->listed.store(count, std::memory_order_release);
  }
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

struct root_usage {
  uint64_t total, used, free;
  double pct;
};

// Usage of the volume that holds the root; all zero when it is unknown, or
// when the volume does not answer within the deadline of the drive list
// (the walk still reads what it can).
static root_usage read_root_usage(const char *root_path, uint64_t dev) {
  root_usage u = {0, 0, 0, 0.0};
  static drive_row volume;  // too large for a thread's stack
  memset(&volume, 0, sizeof volume);
  if (!storage_volume_of(root_path, volume.mount, sizeof volume.mount))
    return u;
  volume.dev_id = dev;
  // Still stuck from an earlier request: not asked again.
  if (storage_drive_stuck(&volume)) return u;
  const drive_row *asked = &volume;
  drive_probe probe;
  storage_probe(&asked, 1, 0, PROBE_DEADLINE_MS, &probe);
  if (!probe.answered || !probe.space_ok) return u;
  u.total = probe.space.total;
  u.free = probe.space.free;
  u.used = u.total >= u.free ? u.total - u.free : 0;
  u.pct = pct_of(u.used, u.used + probe.space.avail);
  return u;
}

// What a detail reply adds: the folder's totals and the largest files
// (NULL: none to show).
struct detail_reply {
  tree_sum folder;
  largest_list *largest;
};

// listed is the folder listed: root_path, or the sub folder below it.
// stalled: the walk was given up (WALK_STALL_MS without progress); the
// reply then says so after "truncated", a field no other reply has.
// more: the detail reply's fields, NULL for today's reply.
static void write_listing(const char *root, const char *root_path,
                          const char *sub, const char *listed,
                          const root_usage *u, const dir_entry *list,
                          int count, int truncated, int stalled,
                          long long scan_ms, const char *stamp,
                          const detail_reply *more) {
  json_header();
  OUT_LIT("{\"ok\":true,\"action\":\"dirs\",\"plugin\":\"" PLUGIN_NAME
          "\",\"platform\":");
  json_str(storage_platform);
  OUT_LIT(",\"root_kind\":");
  json_str(root);
  OUT_LIT(",\"root\":");
  json_str(root_path);
  if (sub[0]) {
    OUT_LIT(",\"sub\":");
    json_str(sub);
  }
  OUT_LIT(",\"root_label\":");
  json_str("$HOME");
  out_fmt(",\"root_total_bytes\":%llu,\"root_used_bytes\":%llu,"
          "\"root_free_bytes\":%llu,\"root_pct\":%.1f",
          (unsigned long long)u->total, (unsigned long long)u->used,
          (unsigned long long)u->free, u->pct);
  if (more) write_folder_totals(&more->folder);
  out_fmt(",\"count\":%d,\"truncated\":%s", count,
          truncated ? "true" : "false");
  if (stalled) OUT_LIT(",\"truncated_reason\":\"stalled\"");
  out_fmt(",\"max_depth\":%d,\"max_scan_entries\":%d,\"scan_ms\":%lld,"
          "\"utc\":",
          MAX_DEPTH, MAX_SCAN_ENTRIES, scan_ms);
  json_str(stamp);
  OUT_LIT(",\"entries\":[");
  for (int i = 0; i < count; i++) {
    const dir_entry *e = &list[i];
    if (i) OUT_LIT(",");
    OUT_LIT("{\"name\":");
    json_str(e->name);
    OUT_LIT(",\"path\":");
    json_path(listed, storage_sep, e->name);
    if (more) {
      write_entry_detail(e, u->total);
      continue;
    }
    out_fmt(",\"bytes\":%llu,\"pct\":%.1f,\"is_dir\":%s}",
            (unsigned long long)e->bytes, pct_of(e->bytes, u->total),
            e->is_dir ? "true" : "false");
  }
  OUT_LIT("]");
  if (more)
    write_largest(more->largest, more->folder.partial, sub, listed);
  OUT_LIT("}\n");
}

// A refusal of the sub folder, with the value asked for.
static void write_sub_refusal(const char *error, const char *sub) {
  write_refusal_head(error);
  OUT_LIT(",\"requested\":");
  json_str(sub);
  OUT_LIT("}\n");
}

// The error code for a reason of storage_dir_open_below.
static const char *below_error(int reason) {
  switch (reason) {
    case BELOW_MISSING: return "sub_not_found";
    case BELOW_NOT_DIR: return "sub_not_folder";
    case BELOW_LINK: return "sub_link";
    case BELOW_MOUNT: return "sub_mount";
    default: return "sub_unreadable";
  }
}

// The message of root_unavailable for a home folder that cannot be
// opened for reason.
static const char *home_message(int reason) {
  switch (reason) {
    case BELOW_MISSING: return "the home folder does not exist";
    case BELOW_NOT_DIR: return "the home folder is not a folder";
    default: return "the home folder cannot be read";
  }
}

// home, the separator and sub with each '/' turned into the separator,
// into buf (capacity cap). Returns 1, or 0 when it does not fit.
static int join_below(char *buf, size_t cap, const char *home,
                      const char *sub) {
  size_t h = strlen(home), n = strlen(sub);
  if (h + 1 + n >= cap) return 0;
  memcpy(buf, home, h);
  buf[h] = storage_sep;
  for (size_t i = 0; i < n; i++)
    buf[h + 1 + i] = sub[i] == '/' ? storage_sep : sub[i];
  buf[h + 1 + n] = '\0';
  return 1;
}

void action_dirs(const char *root, const char *sub_val, size_t sub_len,
                 const char *stamp, int detail) {
  if (!root[0]) {
    write_refusal_head("missing_root");
    OUT_LIT("}\n");
    return;
  }
  if (strcmp(root, "workspace") == 0) {
    write_root_unavailable(root, NO_ROOT);
    return;
  }
  if (strcmp(root, "home") != 0) {
    write_refusal_head("root_not_allowed");
    OUT_LIT(",\"requested\":");
    json_str(root);
    OUT_LIT("}\n");
    return;
  }
  // The folder below home: its form is checked before anything is opened.
  char sub[MAX_SUB_BYTES + 1] = "";
  if (sub_len) {
    int form = check_sub(sub_val, sub_len, sub, sizeof sub);
    if (form != SUB_OK) {
      write_sub_refusal(form == SUB_TOO_LONG ? "sub_too_long" : "sub_invalid",
                        sub_val);
      return;
    }
  }
  const char *home = storage_home();
  if (!home || !home[0]) {
    write_root_unavailable(root, NO_ROOT);
    return;
  }
  // A cut path would name another folder, or none: refuse it instead.
  char root_path[1024];
  if (strlen(home) >= sizeof root_path) {
    write_root_unavailable(
        root, "the home folder's path is longer than 1023 bytes");
    return;
  }
  copy_str(root_path, sizeof root_path, home);
  // A relative path would name a folder that depends on where the host
  // starts the program.
  if (!storage_path_absolute(root_path)) {
    write_root_unavailable(root, "the home folder's path is not absolute");
    return;
  }
  // The listed folder: home itself, or the folder sub below it. It is
  // opened on the walk's thread, so that a home that has stopped answering
  // cannot hold the reply there either; a sub folder that cannot be listed
  // is still refused before the first byte of the reply.
  char listed[sizeof root_path + 1 + MAX_SUB_BYTES + 1];
  if (sub[0])
    join_below(listed, sizeof listed, root_path, sub);  // always fits
  else
    copy_str(listed, sizeof listed, root_path);
  uint64_t dev = storage_device_of(root_path);
  root_usage usage = read_root_usage(root_path, dev);

  dir_entry *list = (dir_entry *)calloc(MAX_DIR_ENTRIES, sizeof(dir_entry));
  detail_state *d = detail ? detail_new() : NULL;
  if (!list || (detail && !d)) {
    free(list);
    json_header();
    OUT_LIT("{\"ok\":false,\"error\":\"out_of_memory\"}\n");
    return;
  }
  uint64_t start = storage_ticks_ms();
  scan_state state = {0, 0};
  state.detail = d;
  int stalled = 0, count = 0, reason = BELOW_OK;
  // A walk of this home stuck since an earlier request: the same answer
  // at once, and no second walk.
  int stuck = storage_walk_stuck(dev, root_path);
  if (!stuck)
    count = guarded_list(root_path, sub, listed, list, &state, &stalled,
                         &reason);
  if (!stalled && reason != BELOW_OK) {
    if (reason & REASON_HOME)
      write_root_unavailable(root, home_message(reason & ~REASON_HOME));
    else
      write_sub_refusal(below_error(reason), sub);
    free(list);
    detail_free(d);
    return;
  }
  if (count > 1) qsort(list, (size_t)count, sizeof list[0], dir_cmp);
  long long scan_ms = (long long)(storage_ticks_ms() - start);
  // Once given up, the walk's own state is its own: not read here. Its
  // finished records still tell the folder's totals, as far as they go.
  detail_reply more = {};
  if (d && (stuck || stalled)) {
    more.folder = detail_sum_records(list, count);
    more.largest = NULL;
  } else if (d) {
    more.folder = d->folder;
    more.largest = &d->largest;
  }
  write_listing(root, root_path, sub, listed, &usage, list, count,
                stuck || stalled || state.truncated, stuck || stalled,
                scan_ms, stamp, d ? &more : NULL);
  // The walk may still write to list and d while it lives.
  if (stalled) storage_walk_abandon(dev, root_path);
  free(list);
  detail_free(d);
}
