#include "json/mounts.h"

#include <stdlib.h>
#include <string.h>

#include "json/actions.h"
#include "json/writer.h"

namespace {
struct collect_ctx {
  mount_info *table;
  int count;
};
}  // namespace

// The record of a listed mount that row may take the place of: one on the
// same device, or one on the same mount point (row mounts over it and
// hides it). NULL when there is none.
static mount_info *same_place(collect_ctx *c, const drive_row *row) {
  if (row->kind != DRIVE_MOUNT_TABLE) return NULL;
  for (int i = 0; i < c->count; i++)
    if (c->table[i].dev_id == row->dev_id ||
        strcmp(c->table[i].mount, row->mount) == 0)
      return &c->table[i];
  return NULL;
}

static void fill_record(mount_info *m, const drive_row *row,
                        const space_info *space) {
  memset(m, 0, sizeof *m);
  copy_str(m->device, sizeof m->device, row->device);
  copy_str(m->mount, sizeof m->mount, row->mount);
  if (!storage_fs_name(row, m->fstype, sizeof m->fstype) || !m->fstype[0])
    copy_str(m->fstype, sizeof m->fstype, "win32");
  m->total_bytes = space->total;
  m->free_bytes = space->free;
  m->avail_bytes = space->avail;
  m->used_bytes = space->total >= space->free ? space->total - space->free : 0;
  if (space->has_inodes) {
    m->has_inodes = 1;
    m->inodes_total = space->inodes_total;
    m->inodes_used = space->inodes_total >= space->inodes_free
                         ? space->inodes_total - space->inodes_free
                         : 0;
  }
  m->dev_id = row->dev_id;
  m->root_len = row->root_len;
}

static void collect_one(const drive_row *row, void *ctx) {
  collect_ctx *c = (collect_ctx *)ctx;
  if (!drive_is_candidate(row)) return;
  mount_info *seen = same_place(c, row);
  if (seen && !mount_replaces(seen, row)) return;
  if (!seen && c->count >= MAX_MOUNTS) return;
  space_info space;
  memset(&space, 0, sizeof space);
  if (!storage_space(row->mount, &space) || !drive_has_room(row, &space))
    return;
  fill_record(seen ? seen : &c->table[c->count++], row, &space);
}

int collect_mounts(mount_info *table) {
  collect_ctx c = {table, 0};
  storage_each_drive(collect_one, &c);
  return c.count;
}

int mount_cmp(const void *a, const void *b) {
  const mount_info *x = (const mount_info *)a;
  const mount_info *y = (const mount_info *)b;
  if (x->total_bytes != y->total_bytes)
    return x->total_bytes > y->total_bytes ? -1 : 1;
  return strcmp(x->mount, y->mount);
}

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
  int count = collect_mounts(counting);

  json_header();
  OUT_LIT("{\"ok\":true,\"action\":\"mounts\",\"plugin\":\"" PLUGIN_NAME
          "\",\"version\":\"" PLUGIN_VERSION "\",\"platform\":");
  json_str(storage_platform);
  out_fmt(",\"pid\":%ld,\"count\":%d,\"utc\":", storage_pid(), count);
  json_str(stamp);
  OUT_LIT(",\"zero_network\":true,\"mounts\":");

  int n = collect_mounts(listing);
  if (n > 1) qsort(listing, (size_t)n, sizeof listing[0], mount_cmp);
  OUT_LIT("[");
  for (int i = 0; i < n; i++) {
    if (i) OUT_LIT(",");
    write_mount(&listing[i]);
  }
  OUT_LIT("]}\n");
}
