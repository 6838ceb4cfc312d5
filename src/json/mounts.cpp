#include <stdlib.h>

#include "drives/drives.h"
#include "json/actions.h"
#include "json/writer.h"

static void write_mount(const mount_info *m) {
  OUT_LIT("{\"device\":");
  json_str(m->device);
  OUT_LIT(",\"fstype\":");
  json_str(m->fstype);
  OUT_LIT(",\"mount\":");
  json_str(m->mount);
  out_fmt(",\"total_bytes\":%llu,\"used_bytes\":%llu,\"free_bytes\":%llu,"
          "\"avail_bytes\":%llu,\"pct\":%.1f",
          (unsigned long long)m->total_bytes, (unsigned long long)m->used_bytes,
          (unsigned long long)m->free_bytes, (unsigned long long)m->avail_bytes,
          pct_of(m->used_bytes, m->used_bytes + m->avail_bytes));
  out_fmt(",\"inodes_total\":%llu,\"inodes_used\":%llu,\"inodes_pct\":%.1f,"
          "\"has_inodes\":%s}",
          (unsigned long long)m->inodes_total,
          (unsigned long long)m->inodes_used,
          m->has_inodes ? pct_of(m->inodes_used, m->inodes_total) : 0.0,
          m->has_inodes ? "true" : "false");
}

// Two passes over the drives: the first counts them for the head, which is
// written before the second lists them. The tables are too large for a
// thread's stack; every record is zeroed as it is filled.
void action_mounts(const char *stamp) {
  static mount_info counting[MAX_MOUNTS];
  static mount_info listing[MAX_MOUNTS];
  static hung_drives hung;
  hung.n = 0;
  int count = collect_mounts(counting, &hung);

  json_header();
  OUT_LIT("{\"ok\":true,\"action\":\"mounts\",\"plugin\":\"" PLUGIN_NAME
          "\",\"version\":\"" PLUGIN_VERSION "\",\"platform\":");
  json_str(storage_platform);
  out_fmt(",\"pid\":%ld,\"count\":%d,\"utc\":", storage_pid(), count);
  json_str(stamp);
  OUT_LIT(",\"zero_network\":true,\"mounts\":");

  int n = collect_mounts(listing, &hung);
  if (n > 1) qsort(listing, (size_t)n, sizeof listing[0], mount_cmp);
  OUT_LIT("[");
  for (int i = 0; i < n; i++) {
    if (i) OUT_LIT(",");
    write_mount(&listing[i]);
  }
  OUT_LIT("]}\n");
}
