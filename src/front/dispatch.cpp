#include "front/dispatch.h"

#include <string.h>

#include "front/query.h"
#include "json/actions.h"
#include "json/dirs.h"
#include "json/writer.h"
#include "metrics/metrics.h"
#include "plugin.h"
#include "storage/storage.h"
#include "walk/home_walk.h"

// The metrics reply: the drives and, with root or sub given, the listed
// folder of the detail walk. A folder that is refused gets the dirs
// action's JSON refusal, decided before the first byte.
static void action_metrics(const char *root, const char *sub_val,
                           size_t sub_len, int top) {
  static home_walk w;  // large: the paths and the records' pointers
  int home = root[0] || sub_len;
  // The files' ages are measured from the request's time, taken once.
  if (home && home_walk_run(&w, root, sub_val, sub_len, 1, storage_time()) !=
                  HOME_OK) {
    write_dirs_refusal(&w, root, sub_val);
    home_walk_end(&w);
    return;
  }
  metrics_reply(home ? &w : nullptr, top);
  if (home) home_walk_end(&w);
}

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
  if (!action[0]) {
    copy_str(action, sizeof action, "mounts");
  } else if (strcmp(action, "mounts") != 0 && strcmp(action, "dirs") != 0 &&
             strcmp(action, "info") != 0 && strcmp(action, "metrics") != 0) {
    write_unknown_action(action);
    return 0;
  }
  if (strcmp(action, "metrics") == 0) {
    action_metrics(root, sub, sub_len,
                   get_query_count(qs, "top", MAX_DIR_ENTRIES,
                                   METRICS_TOP_DEFAULT));
    return 0;
  }
  char stamp[STAMP_CAP];
  int64_t now = make_stamp(stamp);
  if (strcmp(action, "info") == 0)
    action_info(stamp);
  else if (strcmp(action, "dirs") == 0)
    action_dirs(root, sub, sub_len, stamp, want_detail, now);
  else
    action_mounts(stamp, want_detail);
  return 0;
}
