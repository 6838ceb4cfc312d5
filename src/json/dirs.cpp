#include "json/dirs.h"

#include <stdlib.h>
#include <string.h>

#include "json/actions.h"
#include "json/mounts.h"
#include "json/writer.h"
#include "plugin.h"

int skip_entry(const dir_item *item) {
  const char *n = item->name;
  if (!n[0]) return 1;
  if (n[0] == '.' && (!n[1] || (n[1] == '.' && !n[2]))) return 1;
  return item->is_link || item->is_mount;
}

// dir, the separator and name into buf (1024 bytes). Returns 1 when the
// whole path fits; otherwise buf holds as much of it as fits and 0 is
// returned.
static int join_path(char *buf, const char *dir, const char *name) {
  enum { CAP = 1024 };
  size_t d = strlen(dir);
  size_t n = strlen(name);
  int fits = d + 1 + n < CAP;
  copy_str(buf, CAP, dir);
  if (d + 1 < CAP) {
    buf[d] = storage_sep;
    copy_str(buf + d + 1, CAP - d - 1, name);
  }
  return fits;
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
  return 0;
}

uint64_t sum_dir_win(const char *path, int depth, scan_state *state,
                     const dir_iter *parent, const char *name) {
  if (depth > MAX_DEPTH || state->truncated) return 0;
  dir_iter it;
  if (!storage_dir_open(&it, parent, name, path)) return 0;
  uint64_t sum = 0;
  dir_item item;
  char child[1024];
  while (storage_dir_next(&it, &item) && walk_step(state)) {
    if (skip_entry(&item)) continue;
    if (++state->scanned > MAX_SCAN_ENTRIES) {
      state->truncated = 1;
      break;
    }
    if (!item.is_dir)
      sum += item.size;
    else if (join_path(child, path, item.name))
      sum += sum_dir_win(child, depth + 1, state, &it, item.name);
    // A folder whose path would not fit is one that cannot be listed.
  }
  storage_dir_close(&it);
  return sum;
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

static void write_root_unavailable(const char *root) {
  write_refusal_head("root_unavailable");
  OUT_LIT(",\"requested\":");
  json_str(root);
  OUT_LIT(",\"message\":\"this root does not exist on this node\"}\n");
}

int list_root(const char *root_path, dir_entry *list, scan_state *state) {
  dir_iter it;
  if (!storage_dir_open(&it, NULL, NULL, root_path)) return 0;
  int count = 0;
  dir_item item;
  while (storage_dir_next(&it, &item) && walk_step(state)) {
    if (skip_entry(&item)) continue;
    // The cap comes before the count: the entry that meets it is not counted.
    if (count >= MAX_DIR_ENTRIES || ++state->scanned > MAX_SCAN_ENTRIES) {
      state->truncated = 1;
      break;
    }
    dir_entry *e = &list[count++];
    copy_str(e->name, sizeof e->name, item.name);
    int fits = join_path(e->path, root_path, item.name);
    if (!item.is_dir) {
      e->bytes = item.size;
    } else {
      e->is_dir = 1;
      e->bytes = fits ? sum_dir_win(e->path, 1, state, &it, item.name) : 0;
    }
    if (state->watch) state->watch->listed.store(count, std::memory_order_release);
  }
  storage_dir_close(&it);
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

// stalled: the walk was given up (WALK_STALL_MS without progress); the
// reply then says so after "truncated", a field no other reply has.
static void write_listing(const char *root, const char *root_path,
                          const root_usage *u, const dir_entry *list,
                          int count, int truncated, int stalled,
                          long long scan_ms, const char *stamp) {
  json_header();
  OUT_LIT("{\"ok\":true,\"action\":\"dirs\",\"plugin\":\"" PLUGIN_NAME
          "\",\"platform\":");
  json_str(storage_platform);
  OUT_LIT(",\"root_kind\":");
  json_str(root);
  OUT_LIT(",\"root\":");
  json_str(root_path);
  OUT_LIT(",\"root_label\":");
  json_str("$HOME");
  out_fmt(",\"root_total_bytes\":%llu,\"root_used_bytes\":%llu,"
          "\"root_free_bytes\":%llu,\"root_pct\":%.1f",
          (unsigned long long)u->total, (unsigned long long)u->used,
          (unsigned long long)u->free, u->pct);
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
    json_str(e->path);
    out_fmt(",\"bytes\":%llu,\"pct\":%.1f,\"is_dir\":%s}",
            (unsigned long long)e->bytes, pct_of(e->bytes, u->total),
            e->is_dir ? "true" : "false");
  }
  OUT_LIT("]}\n");
}

void action_dirs(const char *root, const char *stamp) {
  if (!root[0]) {
    write_refusal_head("missing_root");
    OUT_LIT("}\n");
    return;
  }
  if (strcmp(root, "workspace") == 0) {
    write_root_unavailable(root);
    return;
  }
  if (strcmp(root, "home") != 0) {
    write_refusal_head("root_not_allowed");
    OUT_LIT(",\"requested\":");
    json_str(root);
    OUT_LIT("}\n");
    return;
  }
  const char *home = storage_home();
  if (!home || !home[0]) {
    write_root_unavailable(root);
    return;
  }
  char root_path[1024];
  copy_str(root_path, sizeof root_path, home);
  uint64_t dev = storage_device_of(root_path);
  root_usage usage = read_root_usage(root_path, dev);

  dir_entry *list = (dir_entry *)calloc(MAX_DIR_ENTRIES, sizeof(dir_entry));
  if (!list) {
    json_header();
    OUT_LIT("{\"ok\":false,\"error\":\"out_of_memory\"}\n");
    return;
  }
  uint64_t start = storage_ticks_ms();
  scan_state state = {0, 0};
  int stalled = 0, count = 0;
  // A walk of this home stuck since an earlier request: the same answer
  // at once, and no second walk.
  int stuck = storage_walk_stuck(dev, root_path);
  if (!stuck) count = guarded_list(root_path, list, &state, &stalled);
  if (count > 1) qsort(list, (size_t)count, sizeof list[0], dir_cmp);
  long long scan_ms = (long long)(storage_ticks_ms() - start);
  // Once given up, the walk's own state is its own: not read here.
  write_listing(root, root_path, &usage, list, count,
                stuck || stalled || state.truncated, stuck || stalled,
                scan_ms, stamp);
  // The walk may still write to list while it lives.
  if (stalled) storage_walk_abandon(dev, root_path);
  free(list);
}
