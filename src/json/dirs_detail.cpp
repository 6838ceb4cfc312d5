// The fields the detail reply of dirs adds, written as JSON.
#include "json/dirs_detail.h"

#include <string.h>

#include "json/writer.h"

static const char *const reason_names[] = {
    NULL, "depth", "cloud", "unreadable", "entry_cap", "stalled",
};

void write_partial(const char *key_lit, int partial) {
  out_fmt(",\"%s\":", key_lit);
  if (partial == PARTIAL_NONE)
    OUT_LIT("null");
  else
    json_str(reason_names[partial]);
}

// ,"modified":"STAMP" or ,"modified":null.
static void write_modified(int has_mtime, int64_t mtime) {
  OUT_LIT(",\"modified\":");
  if (!has_mtime) {
    OUT_LIT("null");
    return;
  }
  char stamp[STAMP_CAP];
  format_clamped_stamp(mtime, stamp);
  json_str(stamp);
}

void write_folder_totals(const tree_sum *f) {
  out_fmt(",\"folder_bytes\":%llu,\"folder_disk_bytes\":%llu,"
          "\"folder_items\":%llu",
          (unsigned long long)f->bytes, (unsigned long long)f->disk_bytes,
          (unsigned long long)f->items);
  write_partial("folder_partial", f->partial);
}

// ,"children":[...]: a folder's largest children, first to last.
static void write_children(const entry_children *kids) {
  OUT_LIT(",\"children\":[");
  for (int i = 0; i < kids->n; i++) {
    const entry_child *c = &kids->c[i];
    if (i) OUT_LIT(",");
    OUT_LIT("{\"name\":");
    json_str(kids->names + c->name_at);
    out_fmt(",\"bytes\":%llu,\"disk_bytes\":%llu,\"is_dir\":%s}",
            (unsigned long long)c->bytes, (unsigned long long)c->disk_bytes,
            c->is_dir ? "true" : "false");
  }
  OUT_LIT("]");
}

void write_entry_detail(const dir_entry *e, const entry_children *kids,
                        uint64_t volume_total) {
  out_fmt(",\"bytes\":%llu,\"disk_bytes\":%llu,\"pct\":%.1f,\"is_dir\":%s,"
          "\"items\":%llu",
          (unsigned long long)e->bytes, (unsigned long long)e->disk_bytes,
          pct_of(e->bytes, volume_total), e->is_dir ? "true" : "false",
          (unsigned long long)e->items);
  write_modified(e->has_mtime, e->mtime);
  write_partial("partial", e->partial);
  if (e->is_dir) write_children(kids);
  OUT_LIT("}");
}

// The file f's folder below home, as sub= takes it: sub, then the
// folders of f->rel, '/' between names (only between them: a name keeps
// its bytes).
static void write_folder_of(const largest_file *f, const char *sub) {
  static char buf[MAX_SUB_BYTES + 1 + LARGEST_PATH_CAP];
  size_t n = strlen(sub);
  memcpy(buf, sub, n);
  size_t from = 0;
  for (int i = 0; i + 1 < f->names; i++) {
    if (n) buf[n++] = '/';
    size_t len = f->ends[i] - from;
    memcpy(buf + n, f->rel + from, len);
    n += len;
    from = f->ends[i] + 1u;
  }
  buf[n] = '\0';
  json_str(buf);
}

void write_largest(largest_list *l, int partial, const char *sub,
                   const char *listed) {
  OUT_LIT(",\"largest\":[");
  if (l) largest_sort(l);
  for (int i = 0; l && i < l->n; i++) {
    const largest_file *f = &l->files[l->order[i]];
    if (i) OUT_LIT(",");
    OUT_LIT("{\"name\":");
    json_str(largest_name(f));
    OUT_LIT(",\"folder\":");
    write_folder_of(f, sub);
    OUT_LIT(",\"path\":");
    json_path(listed, storage_sep, f->rel);
    out_fmt(",\"bytes\":%llu,\"disk_bytes\":%llu",
            (unsigned long long)f->bytes, (unsigned long long)f->disk_bytes);
    write_modified(f->has_mtime, f->mtime);
    if (f->links)
      out_fmt(",\"links\":%u}", (unsigned)f->links);
    else
      OUT_LIT(",\"links\":null}");
  }
  OUT_LIT("]");
  write_partial("largest_partial", partial);
}
