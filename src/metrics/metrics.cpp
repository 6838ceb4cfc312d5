#include "metrics/metrics.h"

#include <stdlib.h>
#include <string.h>

#include "drives/drives.h"
#include "metrics/home_kinds.h"
#include "metrics/text_format.h"
#include "plugin.h"
#include "reply/bytes.h"
#include "storage/storage.h"

static void out_name(const char *name) { out_bytes(name, strlen(name)); }

// {device="...",fstype="...",mountpoint="..."}
static void drive_labels(const char *device, const char *fstype,
                         const char *mount) {
  OUT_LIT("{device=");
  metrics_label_value(device);
  OUT_LIT(",fstype=");
  metrics_label_value(fstype);
  OUT_LIT(",mountpoint=");
  metrics_label_value(mount);
  OUT_LIT("}");
}

enum {
  SIZE, FREE, AVAIL, FILES, FILES_FREE, READONLY, FORCED_READONLY, ERRORS,
  LAST_ERROR
};

// Which drives have a figure: every drive, those that count inodes, those
// whose platform keeps an error count, those with an error's time.
enum { ALL, WITH_INODES, WITH_ERROR_COUNT, WITH_ERROR_TIME };

struct drive_family {
  int figure;
  int drives;
  int counter;  // a counter: a count that only grows, but for a reset
  const char *name;
  const char *help;
};

// The figures of the mounts reply, under the names node_exporter gives
// the same figures, then what the detail reply tells of errors.
static const drive_family drive_families[] = {
    {SIZE, ALL, 0, "disks_filesystem_size_bytes", "Size of the file system in bytes."},
    {FREE, ALL, 0, "disks_filesystem_free_bytes", "Free bytes of the file system."},
    {AVAIL, ALL, 0, "disks_filesystem_avail_bytes",
     "Bytes of the file system free for the user the program runs as."},
    {FILES, WITH_INODES, 0, "disks_filesystem_files", "Inodes of the file system."},
    {FILES_FREE, WITH_INODES, 0, "disks_filesystem_files_free",
     "Free inodes of the file system."},
    {READONLY, ALL, 0, "disks_filesystem_readonly",
     "1 when the file system cannot be written: mounted read-only, read-only "
     "by nature, or made read-only by its own file system."},
    {FORCED_READONLY, ALL, 0, "disks_filesystem_forced_readonly",
     "1 when the file system itself went read-only beneath a writable mount "
     "(the kernel stops writes so after an error), else 0."},
    {ERRORS, WITH_ERROR_COUNT, 1, "disks_filesystem_errors_total",
     "Errors the file system has recorded since a check last cleared them "
     "(ext2/3/4)."},
    {LAST_ERROR, WITH_ERROR_TIME, 0, "disks_filesystem_last_error_timestamp_seconds",
     "Time of the last error the file system recorded, in seconds since "
     "1970."},
};

static int has_figure(const mount_info *m, int drives) {
  switch (drives) {
    case WITH_INODES: return m->has_inodes;
    case WITH_ERROR_COUNT: return m->has_error_count;
    case WITH_ERROR_TIME: return m->last_error > 0;
    default: return 1;
  }
}

static uint64_t figure_of(const mount_info *m, int figure) {
  switch (figure) {
    case SIZE: return m->total_bytes;
    case FREE: return m->free_bytes;
    case AVAIL: return m->avail_bytes;
    case FILES: return m->inodes_total;
    case FILES_FREE: return m->inodes_total - m->inodes_used;  // never wraps
    case READONLY: return m->readonly ? 1 : 0;
    case FORCED_READONLY: return m->forced_readonly ? 1 : 0;
    case ERRORS: return m->error_count;
    default: return (uint64_t)m->last_error;  // above 0 where written
  }
}

// Whether the labels of drive a and drive b are the same series: two
// mount points that differ only in bytes that are not UTF-8 give the same
// label values once repaired.
static int same_labels(const char *dev_a, const char *fs_a, const char *mnt_a,
                       const char *dev_b, const char *fs_b, const char *mnt_b) {
  return metrics_label_equal(mnt_a, mnt_b) && metrics_label_equal(dev_a, dev_b) &&
         metrics_label_equal(fs_a, fs_b);
}

// Which drives get series: each listed drive (t, n of them, in the reply's
// order) and then each drive that did not answer, unless an earlier one
// gives the same labels. One series may have one value, so the earlier
// one, the larger, is kept and the later left out. Into keep (n + dead->n).
static void pick_drives(const mount_info *t, int n, const dead_drives *dead,
                        unsigned char *keep) {
  for (int i = 0; i < n + dead->n; i++) {
    const char *dev = i < n ? t[i].device : dead->drive[i - n].device;
    const char *fs = i < n ? t[i].fstype : dead->drive[i - n].fstype;
    const char *mnt = i < n ? t[i].mount : dead->drive[i - n].mount;
    keep[i] = 1;
    for (int j = 0; j < i && keep[i]; j++) {
      if (!keep[j]) continue;
      if (j < n)
        keep[i] = !same_labels(dev, fs, mnt, t[j].device, t[j].fstype, t[j].mount);
      else
        keep[i] = !same_labels(dev, fs, mnt, dead->drive[j - n].device,
                               dead->drive[j - n].fstype, dead->drive[j - n].mount);
    }
  }
}

// Families are written whole, one after another: the format wants every
// sample of a family together. A family without a sample is left out.
static void write_drives(const mount_info *t, int n, const dead_drives *dead) {
  static unsigned char keep[MAX_MOUNTS + MAX_HUNG];
  pick_drives(t, n, dead, keep);
  for (const drive_family &f : drive_families) {
    int samples = 0;
    for (int i = 0; i < n; i++) samples += keep[i] && has_figure(&t[i], f.drives);
    if (!samples) continue;
    if (f.counter)
      metrics_counter_family(f.name, f.help);
    else
      metrics_family(f.name, f.help);
    for (int i = 0; i < n; i++) {
      if (!keep[i] || !has_figure(&t[i], f.drives)) continue;
      out_name(f.name);
      drive_labels(t[i].device, t[i].fstype, t[i].mount);
      metrics_value(figure_of(&t[i], f.figure));
    }
  }
  if (!n && !dead->n) return;
  metrics_family("disks_filesystem_device_error",
                 "1 when the file system did not answer within the deadline "
                 "or is still stuck since an earlier request (it then has no "
                 "other series), 0 when it answered.");
  for (int i = 0; i < n; i++) {
    if (!keep[i]) continue;
    OUT_LIT("disks_filesystem_device_error");
    drive_labels(t[i].device, t[i].fstype, t[i].mount);
    metrics_value(0);
  }
  for (int i = 0; i < dead->n; i++) {
    if (!keep[n + i]) continue;
    const dead_drive *d = &dead->drive[i];
    OUT_LIT("disks_filesystem_device_error");
    drive_labels(d->device, d->fstype, d->mount);
    metrics_value(1);
  }
}

// ---- the listed folder ------------------------------------------------

static const dir_entry *ranked;  // the records top_cmp compares

// Larger size on disk first; then as the listing orders them.
static int top_cmp(const void *a, const void *b) {
  const dir_entry *x = &ranked[*(const int *)a];
  const dir_entry *y = &ranked[*(const int *)b];
  if (x->disk_bytes != y->disk_bytes) return x->disk_bytes > y->disk_bytes ? -1 : 1;
  return dir_cmp(x, y);
}

// The records that get series into order: at most top, largest on disk
// first. A name that gives the same label value as one picked already
// (two names that differ only in bytes that are not UTF-8) is passed
// over: one series may have one value. Returns how many were picked.
static int pick_top(const home_walk *w, int top, int *order) {
  static int all[MAX_DIR_ENTRIES];
  for (int i = 0; i < w->count; i++) all[i] = i;
  ranked = w->list;
  if (w->count > 1) qsort(all, (size_t)w->count, sizeof all[0], top_cmp);
  int k = 0;
  for (int i = 0; i < w->count && k < top; i++) {
    const char *name = w->list[all[i]].name;
    int seen = 0;
    for (int j = 0; j < k && !seen; j++)
      seen = metrics_label_equal(w->list[order[j]].name, name);
    if (!seen) order[k++] = all[i];
  }
  return k;
}

static void write_total(const char *name, const char *help, uint64_t v) {
  metrics_family(name, help);
  out_name(name);
  metrics_value(v);
}

static void write_home(const home_walk *w, int top) {
  const tree_sum *f = &w->folder;
  write_total("disks_home_bytes",
              "Total size of the files beneath the listed folder.", f->bytes);
  write_total("disks_home_disk_bytes",
              "What the files beneath the listed folder take on the volume.",
              f->disk_bytes);
  write_total("disks_home_items", "Entries counted beneath the listed folder.",
              f->items);
  write_total("disks_home_partial",
              "1 when the listed folder's totals are not whole (a folder past "
              "the depth limit, unreadable or in the cloud, the entry limit, "
              "a walk given up).",
              f->partial != PARTIAL_NONE);
  metrics_family("disks_home_walk_seconds",
                 "Time the walk of the listed folder took.");
  OUT_LIT("disks_home_walk_seconds");
  metrics_seconds(w->scan_ms);

  static int order[MAX_DIR_ENTRIES];
  int k = pick_top(w, top, order);
  if (!k) return;
  metrics_family("disks_home_entry_bytes",
                 "Size of an entry of the listed folder (a folder's: the "
                 "files beneath it), for the entries largest on disk.");
  for (int i = 0; i < k; i++) {
    OUT_LIT("disks_home_entry_bytes{entry=");
    metrics_label_value(w->list[order[i]].name);
    OUT_LIT("}");
    metrics_value(w->list[order[i]].bytes);
  }
  metrics_family("disks_home_entry_disk_bytes",
                 "What an entry of the listed folder takes on the volume, for "
                 "the entries largest on disk.");
  for (int i = 0; i < k; i++) {
    OUT_LIT("disks_home_entry_disk_bytes{entry=");
    metrics_label_value(w->list[order[i]].name);
    OUT_LIT("}");
    metrics_value(w->list[order[i]].disk_bytes);
  }
}

void metrics_reply(const home_walk *w, int top) {
  // One pass over the drives: every figure of a drive comes from the same
  // moment. The tables are too large for a thread's stack.
  static mount_info table[MAX_MOUNTS];
  static hung_drives hung;
  static dead_drives dead;
  hung.n = 0;
  int n = collect_mounts(table, &hung, &dead, 1);
  if (n > 1) qsort(table, (size_t)n, sizeof table[0], mount_cmp);

  metrics_header();
  metrics_family("disks_info", "The version of plugin_disks and its platform; always 1.");
  OUT_LIT("disks_info{version=\"" PLUGIN_VERSION "\",platform=");
  metrics_label_value(storage_platform);
  OUT_LIT("} 1\n");
  write_drives(table, n, &dead);
  if (!w) return;
  write_home(w, top);
  write_home_kinds(w);
}
