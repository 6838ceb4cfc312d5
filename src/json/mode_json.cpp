#include <stdlib.h>
#include <string.h>

#include "front/query.h"
#include "json/actions.h"
#include "json/writer.h"
#include "metrics/metrics.h"
#include "plugin.h"
#include "storage/storage.h"

// Dispatch: an empty action means "mounts"; an unknown one is refused
// before the clock or any storage is touched.
int mode_json(const char *qs) {
  char action[64];
  char root[32];
  // Room for any sub of MAX_SUB_BYTES bytes written wholly in %XX escapes,
  // and a trailing "/": a value cut here decodes to more than the limit.
  char sub[3 * MAX_SUB_BYTES + 5];
  size_t sub_len;
  get_query_val(qs, "action", action, sizeof action);
  get_query_val(qs, "root", root, sizeof root);
  get_query_val_len(qs, "sub", sub, sizeof sub, &sub_len);
  // Only the exact value "1" asks for the detail reply. Seven raw bytes
  // cannot decode to a lone "1", so a longer value is never taken for it.
  char detail[8];
  size_t detail_len;
  get_query_val_len(qs, "detail", detail, sizeof detail, &detail_len);
  int want_detail = detail_len == 1 && detail[0] == '1';
  // Entries of the metrics reply: a few digits (more are cut, and any
  // number past the limit means the limit).
  char top[16];
  get_query_val(qs, "top", top, sizeof top);
  if (!action[0]) {
    copy_str(action, sizeof action, "mounts");
  } else if (strcmp(action, "mounts") != 0 && strcmp(action, "dirs") != 0 &&
             strcmp(action, "info") != 0 && strcmp(action, "metrics") != 0) {
    // The list of actions is the JSON API's: metrics, a reply in another
    // format, is not among them here nor in the info reply.
    json_header();
    OUT_LIT("{\"ok\":false,\"error\":\"unknown_action\","
            "\"supported\":[\"mounts\",\"dirs\",\"info\"],\"requested\":");
    json_str(action);
    OUT_LIT("}\n");
    return 0;
  }
  char stamp[STAMP_CAP];
  make_stamp(stamp);
  if (strcmp(action, "info") == 0)
    action_info(stamp);
  else if (strcmp(action, "dirs") == 0)
    action_dirs(root, sub, sub_len, stamp, want_detail);
  else if (strcmp(action, "metrics") == 0)
    action_metrics(root, sub, sub_len, metrics_top(top));
  else
    action_mounts(stamp);
  return 0;
}

void action_info(const char *stamp) {
  const char *node_pwd = getenv("ZEM_PASSWORD");
  json_header();
  OUT_LIT("{\"ok\":true,\"action\":\"info\",\"plugin\":\"" PLUGIN_NAME
          "\",\"version\":\"" PLUGIN_VERSION "\",\"platform\":");
  json_str(storage_platform);
  out_fmt(",\"pid\":%ld,\"utc\":", storage_pid());
  json_str(stamp);
  OUT_LIT(",\"node_auth\":");
  if (node_pwd && *node_pwd)
    OUT_LIT("true");
  else
    OUT_LIT("false");
  out_fmt(",\"supported\":[\"mounts\",\"dirs\",\"info\"],\"zero_network\":true,"
          "\"allowed_roots\":[\"workspace\",\"home\"],\"max_depth\":%d"
          ",\"max_scan_entries\":%d}\n",
          MAX_DEPTH, MAX_SCAN_ENTRIES);
}
