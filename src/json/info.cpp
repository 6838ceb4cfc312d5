#include <stdlib.h>

#include "json/actions.h"
#include "json/writer.h"
#include "plugin.h"
#include "storage/storage.h"

void write_unknown_action(const char *action) {
  // The list of actions is the JSON API's: metrics, a reply in another
  // format, is not among them here nor in the info reply.
  json_header();
  OUT_LIT("{\"ok\":false,\"error\":\"unknown_action\","
          "\"supported\":[\"mounts\",\"dirs\",\"info\"],\"requested\":");
  json_str(action);
  OUT_LIT("}\n");
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
