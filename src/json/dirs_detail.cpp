#include <stdlib.h>
#include <string.h>

#include "json/detail.h"
#include "json/writer.h"

detail_state *detail_new(void) {
  return (detail_state *)calloc(1, sizeof(detail_state));
}

void detail_free(detail_state *d) {
  if (!d) return;
  links_seen_free(&d->links);
  free(d);
}

static void note_time(tree_sum *sum, int has_mtime, int64_t mtime) {
  if (has_mtime && (!sum->has_mtime || mtime > sum->mtime)) {
    sum->has_mtime = 1;
    sum->mtime = mtime;
  }
}

void detail_count_file(detail_state *d, const dir_item *item, tree_sum *sum) {
  uint64_t disk = item->disk_size;
  // Each further name of a hard-linked file takes nothing more. Where the
  // link count is not told (Windows' listing gives ids but no counts),
  // every file with an id is remembered: a walk counts at most
  // MAX_SCAN_ENTRIES files, fewer than the table holds.
  if ((item->links > 1 || item->links == 0) && item->file_id &&
      links_seen_check(&d->links, item->dev_id, item->file_id))
    disk = 0;
  sum->disk_bytes = add_sat(sum->disk_bytes, disk);
  note_time(sum, item->has_mtime, item->mtime);
  // The list ranks every name of a linked file by what the file takes:
  // the same on every walk order, and links tells deleting one frees
  // nothing.
  largest_offer(&d->largest, d->dir, d->dir_len, item, item->disk_size);
}

void detail_count_folder(const dir_item *item, tree_sum *sum) {
  sum->disk_bytes = add_sat(sum->disk_bytes, item->disk_size);
  note_time(sum, item->has_mtime, item->mtime);
}

void detail_count_self(const dir_iter *it, tree_sum *sum) {
  dir_item self;
  self.disk_size = 0;
  self.has_mtime = 0;
  self.mtime = 0;
  if (!storage_dir_self(it, &self)) return;
  detail_count_folder(&self, sum);
}

size_t detail_enter(detail_state *d, const char *name) {
  size_t mark = d->dir_len, n = strlen(name);
  // Cannot happen within the depth limit; the path then stays the parent's.
  if (mark + 1 + n >= sizeof d->dir) return mark;
  if (mark) d->dir[d->dir_len++] = storage_sep;
  memcpy(d->dir + d->dir_len, name, n + 1);
  d->dir_len += n;
  return mark;
}

void detail_leave(detail_state *d, size_t mark) {
  d->dir_len = mark;
  d->dir[mark] = '\0';
}

// Adds s (the entry itself: 1 item, and what lies beneath it) to total.
static void add_counted(tree_sum *total, const tree_sum *s) {
  total->bytes = add_sat(total->bytes, s->bytes);
  total->disk_bytes = add_sat(total->disk_bytes, s->disk_bytes);
  total->items = add_sat(total->items, add_sat(s->items, 1));
  note_time(total, s->has_mtime, s->mtime);
  note_partial(total, s->partial);
}

void detail_add_entry(detail_state *d, const tree_sum *s) {
  add_counted(&d->folder, s);
}

void detail_fill_entry(dir_entry *e, const tree_sum *s) {
  e->disk_bytes = s->disk_bytes;
  e->items = e->is_dir ? s->items : 1;
  e->mtime = s->mtime;
  e->has_mtime = s->has_mtime;
  e->partial = s->partial;
}

tree_sum detail_sum_records(const dir_entry *list, int count) {
  tree_sum total = {0, 0, 0, 0, 0, PARTIAL_STALLED};
  for (int i = 0; i < count; i++) {
    const dir_entry *e = &list[i];
    tree_sum s = {e->bytes, e->disk_bytes, e->is_dir ? e->items : 0,
                  e->mtime, e->has_mtime, e->partial};
    add_counted(&total, &s);
  }
  return total;
}

static const char *const reason_names[] = {
    NULL, "depth", "cloud", "unreadable", "entry_cap", "stalled",
};

// ,"key":null or ,"key":"REASON".
static void write_partial(const char *key_lit, int partial) {
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

void write_entry_detail(const dir_entry *e, uint64_t volume_total) {
  out_fmt(",\"bytes\":%llu,\"disk_bytes\":%llu,\"pct\":%.1f,\"is_dir\":%s,"
          "\"items\":%llu",
          (unsigned long long)e->bytes, (unsigned long long)e->disk_bytes,
          pct_of(e->bytes, volume_total), e->is_dir ? "true" : "false",
          (unsigned long long)e->items);
  write_modified(e->has_mtime, e->mtime);
  write_partial("partial", e->partial);
  OUT_LIT("}");
}

// The file f's folder below home, as sub= takes it: sub, then the
// folders of f->rel, '/' between names.
static void write_folder_of(const largest_file *f, const char *sub) {
  static char buf[MAX_SUB_BYTES + 1 + LARGEST_PATH_CAP];
  size_t n = strlen(sub);
  memcpy(buf, sub, n);
  const char *last = strrchr(f->rel, storage_sep);
  if (last) {
    if (n) buf[n++] = '/';
    for (const char *p = f->rel; p < last; p++)
      buf[n++] = *p == storage_sep ? '/' : *p;
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
    const char *last = strrchr(f->rel, storage_sep);
    if (i) OUT_LIT(",");
    OUT_LIT("{\"name\":");
    json_str(last ? last + 1 : f->rel);
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
