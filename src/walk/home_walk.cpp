#include "walk/home_walk.h"

#include <stdlib.h>
#include <string.h>

#include "walk/sub_path.h"

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

// Usage of the volume that holds the root; all zero when it is unknown, or
// when the volume does not answer within the deadline of the drive list
// (the walk still reads what it can).
static volume_usage read_volume_usage(const char *root_path, uint64_t dev) {
  volume_usage u = {0, 0, 0, 0};
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
  u.avail = probe.space.avail;
  u.used = u.total >= u.free ? u.total - u.free : 0;
  return u;
}

// Checks the request before anything is opened. Returns HOME_OK with
// w->sub and w->root_path set, or why it is refused.
static int check_request(home_walk *w, const char *root, const char *sub_val,
                         size_t sub_len) {
  if (!root[0]) return HOME_MISSING_ROOT;
  if (strcmp(root, "workspace") == 0) return HOME_NO_ROOT;
  if (strcmp(root, "home") != 0) return HOME_ROOT_NOT_ALLOWED;
  // The folder below home: its form is checked before anything is opened.
  if (sub_len) {
    int form = check_sub(sub_val, sub_len, w->sub, sizeof w->sub);
    if (form != SUB_OK)
      return form == SUB_TOO_LONG ? HOME_SUB_TOO_LONG : HOME_SUB_INVALID;
  }
  const char *home = storage_home();
  if (!home || !home[0]) return HOME_NO_ROOT;
  // A cut path would name another folder, or none: refuse it instead.
  size_t n = strlen(home);
  if (n >= sizeof w->root_path) return HOME_PATH_TOO_LONG;
  memcpy(w->root_path, home, n + 1);
  // A relative path would name a folder that depends on where the host
  // starts the program.
  if (!storage_path_absolute(w->root_path)) return HOME_NOT_ABSOLUTE;
  return HOME_OK;
}

int home_walk_run(home_walk *w, const char *root, const char *sub_val,
                  size_t sub_len, int detail, int64_t now) {
  *w = home_walk();
  w->refusal = check_request(w, root, sub_val, sub_len);
  if (w->refusal != HOME_OK) return w->refusal;
  // The listed folder: home itself, or the folder sub below it. It is
  // opened on the walk's thread, so that a home that has stopped answering
  // cannot hold the reply there either; a sub folder that cannot be listed
  // is still refused before the first byte of the reply.
  if (w->sub[0])
    join_below(w->listed, sizeof w->listed, w->root_path, w->sub);  // fits
  else
    memcpy(w->listed, w->root_path, strlen(w->root_path) + 1);
  w->dev = storage_device_of(w->root_path);
  w->usage = read_volume_usage(w->root_path, w->dev);

  w->list = (dir_entry *)calloc(MAX_DIR_ENTRIES, sizeof(dir_entry));
  w->detail = detail ? detail_new() : NULL;
  if (!w->list || (detail && !w->detail)) {
    w->refusal = HOME_OUT_OF_MEMORY;
    return w->refusal;
  }
  if (w->detail) w->detail->now = now;
  uint64_t start = storage_ticks_ms();
  scan_state &state = w->state;
  state.detail = w->detail;
  int stalled = 0, reason = BELOW_OK;
  // A walk of this home stuck since an earlier request: the same answer
  // at once, and no second walk.
  int stuck = storage_walk_stuck(w->dev, w->root_path);
  if (!stuck)
    w->count = guarded_list(w->root_path, w->sub, w->listed, w->list, &state,
                            &stalled, &reason);
  if (!stalled && reason != BELOW_OK) {
    w->refusal = reason & REASON_HOME ? HOME_UNAVAILABLE : HOME_SUB_REFUSED;
    w->reason = reason & ~REASON_HOME;
    return w->refusal;
  }
  w->stalled = stuck || stalled;
  w->given_up = stalled;
  // A walk given up may still settle its records while it lives: frozen
  // first, and the final ones, each settled against the others, copied.
  // The walk's thread reads their names while it lives: never sorted in
  // place.
  if (stalled && w->detail) {
    w->count = detail_freeze(w->detail, &state.watch->listed);
    w->walk_list = w->list;
    w->list = (dir_entry *)malloc(sizeof(dir_entry) * (w->count ? w->count : 1));
    if (!w->list) {
      w->list = w->walk_list;
      w->walk_list = NULL;
      w->count = 0;
    } else {
      memcpy(w->list, w->walk_list, sizeof(dir_entry) * w->count);
    }
  }
  if (w->count > 1)
    qsort(w->list, (size_t)w->count, sizeof w->list[0], dir_cmp);
  w->scan_ms = (long long)(storage_ticks_ms() - start);
  w->truncated = stuck || stalled || state.truncated;
  // Once given up, the walk's own state is its own: not read here. Its
  // finished records still tell the folder's totals, as far as they go.
  if (w->detail && (stuck || stalled)) {
    w->folder = detail_sum_records(w->list, w->count);
    w->largest = NULL;
    w->types = NULL;
    w->ages = NULL;
  } else if (w->detail) {
    w->folder = w->detail->folder;
    w->largest = &w->detail->largest;
    w->types = &w->detail->types;
    w->ages = w->detail->ages;
  }
  return HOME_OK;
}

void home_walk_end(home_walk *w) {
  // The walk may still write to the records and the detail state while it
  // lives.
  if (w->given_up) storage_walk_abandon(w->dev, w->root_path);
  free(w->list);
  free(w->walk_list);
  detail_free(w->detail);
  w->list = NULL;
  w->walk_list = NULL;
  w->detail = NULL;
}
