// The dirs action: the walk of home_walk.h written as JSON.
#include <string.h>

#include "json/actions.h"
#include "json/dirs.h"
#include "json/dirs_detail.h"
#include "json/dirs_kinds.h"
#include "json/writer.h"
#include "plugin.h"
#include "walk/home_walk.h"

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

void write_dirs_refusal(const home_walk *w, const char *root,
                        const char *sub_val) {
  switch (w->refusal) {
    case HOME_MISSING_ROOT:
      write_refusal_head("missing_root");
      OUT_LIT("}\n");
      return;
    case HOME_NO_ROOT:
      write_root_unavailable(root, "this root does not exist on this node");
      return;
    case HOME_ROOT_NOT_ALLOWED:
      write_refusal_head("root_not_allowed");
      OUT_LIT(",\"requested\":");
      json_str(root);
      OUT_LIT("}\n");
      return;
    case HOME_SUB_INVALID:
      write_sub_refusal("sub_invalid", sub_val);
      return;
    case HOME_SUB_TOO_LONG:
      write_sub_refusal("sub_too_long", sub_val);
      return;
    case HOME_PATH_TOO_LONG:
      write_root_unavailable(
          root, "the home folder's path is longer than 1023 bytes");
      return;
    case HOME_NOT_ABSOLUTE:
      write_root_unavailable(root, "the home folder's path is not absolute");
      return;
    case HOME_UNAVAILABLE:
      write_root_unavailable(root, home_message(w->reason));
      return;
    case HOME_SUB_REFUSED:
      write_sub_refusal(below_error(w->reason), w->sub);
      return;
    default:
      json_header();
      OUT_LIT("{\"ok\":false,\"error\":\"out_of_memory\"}\n");
      return;
  }
}

// The listing of w. root is the root asked for; with detail, the detail
// reply's fields are written too.
static void write_listing(const home_walk *w, const char *root,
                          const char *stamp) {
  const volume_usage *u = &w->usage;
  json_header();
  OUT_LIT("{\"ok\":true,\"action\":\"dirs\",\"plugin\":\"" PLUGIN_NAME
          "\",\"platform\":");
  json_str(storage_platform);
  OUT_LIT(",\"root_kind\":");
  json_str(root);
  OUT_LIT(",\"root\":");
  json_str(w->root_path);
  if (w->sub[0]) {
    OUT_LIT(",\"sub\":");
    json_str(w->sub);
  }
  OUT_LIT(",\"root_label\":");
  json_str("$HOME");
  out_fmt(",\"root_total_bytes\":%llu,\"root_used_bytes\":%llu,"
          "\"root_free_bytes\":%llu,\"root_pct\":%.1f",
          (unsigned long long)u->total, (unsigned long long)u->used,
          (unsigned long long)u->free, pct_of(u->used, u->used + u->avail));
  if (w->detail) write_folder_totals(&w->folder);
  out_fmt(",\"count\":%d,\"truncated\":%s", w->count,
          w->truncated ? "true" : "false");
  // A field no other reply has.
  if (w->stalled) OUT_LIT(",\"truncated_reason\":\"stalled\"");
  out_fmt(",\"max_depth\":%d,\"max_scan_entries\":%d,\"scan_ms\":%lld,"
          "\"utc\":",
          MAX_DEPTH, MAX_SCAN_ENTRIES, w->scan_ms);
  json_str(stamp);
  OUT_LIT(",\"entries\":[");
  for (int i = 0; i < w->count; i++) {
    const dir_entry *e = &w->list[i];
    if (i) OUT_LIT(",");
    OUT_LIT("{\"name\":");
    json_str(e->name);
    OUT_LIT(",\"path\":");
    json_path(w->listed, storage_sep, e->name);
    if (w->detail) {
      write_entry_detail(e, &w->detail->children[e->children], u->total);
      continue;
    }
    out_fmt(",\"bytes\":%llu,\"pct\":%.1f,\"is_dir\":%s}",
            (unsigned long long)e->bytes, pct_of(e->bytes, u->total),
            e->is_dir ? "true" : "false");
  }
  OUT_LIT("]");
  if (w->detail) {
    write_largest(w->largest, w->folder.partial, w->sub, w->listed);
    write_kinds(w->types, w->ages, w->folder.partial);
  }
  OUT_LIT("}\n");
}

void action_dirs(const char *root, const char *sub_val, size_t sub_len,
                 const char *stamp, int detail, int64_t now) {
  static home_walk w;  // large: the paths and the records' pointers
  if (home_walk_run(&w, root, sub_val, sub_len, detail, now) == HOME_OK)
    write_listing(&w, root, stamp);
  else
    write_dirs_refusal(&w, root, sub_val);
  home_walk_end(&w);
}
