#include <stdlib.h>

#include "drives/drives.h"
#include "json/actions.h"
#include "json/writer.h"

// The detail fields of one drive: null where the platform told nothing.
static void write_health(const mount_info *m) {
  out_fmt(",\"readonly\":%s,\"readonly_reason\":", m->readonly ? "true" : "false");
  const char *reason = readonly_reason_name(m->readonly_reason);
  if (reason)
    json_str(reason);
  else
    OUT_LIT("null");
  OUT_LIT(",\"errors_recorded\":");
  if (m->errors_known)
    out_fmt("%s", m->errors_recorded ? "true" : "false");
  else
    OUT_LIT("null");
  if (m->has_error_count)
    out_fmt(",\"error_count\":%llu", (unsigned long long)m->error_count);
  else
    OUT_LIT(",\"error_count\":null");
  OUT_LIT(",\"last_error\":");
  if (m->last_error > 0) {
    char stamp[STAMP_CAP];
    format_clamped_stamp(m->last_error, stamp);
    json_str(stamp);
  } else {
    OUT_LIT("null");
  }
  out_fmt(",\"attention\":%s", m->attention ? "true" : "false");
}

static void write_mount(const mount_info *m, int detail) {
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
          "\"has_inodes\":%s",
          (unsigned long long)m->inodes_total,
          (unsigned long long)m->inodes_used,
          m->has_inodes ? pct_of(m->inodes_used, m->inodes_total) : 0.0,
          m->has_inodes ? "true" : "false");
  if (detail) write_health(m);
  OUT_LIT("}");
}

// Two passes over the drives: the first counts them for the head, which is
// written before the second lists them. The tables are too large for a
// thread's stack; every record is zeroed as it is filled. Only the listing
// pass of a detail reply asks the drives for their errors.
void action_mounts(const char *stamp, int detail) {
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

  int n = collect_mounts(listing, &hung, nullptr, detail);
  if (n > 1) qsort(listing, (size_t)n, sizeof listing[0], mount_cmp);
  OUT_LIT("[");
  for (int i = 0; i < n; i++) {
    if (i) OUT_LIT(",");
    write_mount(&listing[i], detail);
  }
  OUT_LIT("]}\n");
}
