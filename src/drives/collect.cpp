#include "drives/drives.h"

#include <stdlib.h>
#include <string.h>

#include "reply/bytes.h"

namespace {
// Candidate rows from the first that may hang onwards are gathered and
// answered a chunk at a time, so that the drives of a chunk that may hang
// are all asked at once: k drives that do not answer cost one deadline,
// not k.
enum { CHUNK = 256, STUCK = -2 };

struct collect_ctx {
  mount_info *table;
  int count;
  hung_drives *hung;
  dead_drives *dead;           // NULL: not told
  int want_errors;             // ask each listed drive storage_fs_errors
  int n;                       // rows gathered
  drive_row rows[CHUNK];
  const drive_row *asked[CHUNK];
  drive_probe probes[CHUNK];   // what rows[i] answered, when asked
  int probe_of[CHUNK];         // index into probes, -1: ask directly, or
                               // STUCK: left out unasked
};
}  // namespace

static int hung_has(const hung_drives *h, const char *mount) {
  for (int i = 0; i < h->n; i++)
    if (strcmp(h->mount[i], mount) == 0) return 1;
  return 0;
}

static void hung_add(hung_drives *h, const char *mount) {
  if (h->n < MAX_HUNG && !hung_has(h, mount))
    copy_str(h->mount[h->n++], sizeof h->mount[0], mount);
}

static void dead_add(dead_drives *d, const drive_row *row) {
  if (!d || d->n >= MAX_HUNG) return;
  for (int i = 0; i < d->n; i++)
    if (strcmp(d->drive[i].mount, row->mount) == 0) return;
  dead_drive *x = &d->drive[d->n++];
  copy_str(x->device, sizeof x->device, row->device);
  copy_str(x->fstype, sizeof x->fstype, row->fstype);
  copy_str(x->mount, sizeof x->mount, row->mount);
}

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
                        const space_info *space, const char *fs_name,
                        const fs_errors *errors) {
  memset(m, 0, sizeof *m);
  copy_str(m->device, sizeof m->device, row->device);
  copy_str(m->mount, sizeof m->mount, row->mount);
  copy_str(m->fstype, sizeof m->fstype,
           fs_name && fs_name[0] ? fs_name : "win32");
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
  judge_drive(m, row, space, errors);
  m->dev_id = row->dev_id;
  m->root_len = row->root_len;
}

// The record of table (count > 0 records) that the reply lists last.
static mount_info *last_listed(mount_info *table, int count) {
  mount_info *last = &table[0];
  for (int i = 1; i < count; i++)
    if (mount_cmp(&table[i], last) > 0) last = &table[i];
  return last;
}

// Applies the listing rules to row, in list order. probe is what the row
// answered when it was asked with the others of its chunk, or NULL: then
// it is asked here.
static void collect_one(collect_ctx *c, const drive_row *row,
                        const drive_probe *probe) {
  if (!drive_is_candidate(row)) return;
  mount_info *seen = same_place(c, row);
  if (seen && !mount_replaces(seen, row)) return;
  space_info space;
  char fs_name[64];
  fs_errors errors;
  memset(&space, 0, sizeof space);
  memset(&errors, 0, sizeof errors);
  if (probe) {
    if (!probe->answered || !probe->space_ok) return;
    space = probe->space;
    copy_str(fs_name, sizeof fs_name, probe->name_ok ? probe->fs_name : "");
    if (probe->errors_ok) errors = probe->errors;
  } else if (hung_has(c->hung, row->mount)) {
    return;  // given up earlier in this request: not asked again
  } else {
    if (!storage_space(row->mount, &space)) return;
    if (!storage_fs_name(row, fs_name, sizeof fs_name)) fs_name[0] = '\0';
  }
  if (!drive_has_room(row, &space)) return;
  // Asked only of a drive that stays listed (a drive asked through the
  // probe has answered already).
  if (c->want_errors && !probe) storage_fs_errors(row, &errors);
  mount_info *slot = seen;
  if (!slot && c->count < MAX_MOUNTS) slot = &c->table[c->count++];
  if (!slot) {
    // A full table keeps the drives the reply lists first: the largest.
    static mount_info next;  // too large for a thread's stack
    fill_record(&next, row, &space, fs_name, &errors);
    mount_info *last = last_listed(c->table, c->count);
    if (mount_cmp(&next, last) < 0) *last = next;
    return;
  }
  fill_record(slot, row, &space, fs_name, &errors);
}

// Asks the gathered rows that may hang all at once, then lists the rows in
// their order.
static void flush_rows(collect_ctx *c) {
  int k = 0;
  for (int i = 0; i < c->n; i++) {
    c->probe_of[i] = -1;
    const drive_row *row = &c->rows[i];
    if (!drive_may_hang(row) || hung_has(c->hung, row->mount)) continue;
    // Still stuck in a call of an earlier request: left out at once.
    if (storage_drive_stuck(row)) {
      c->probe_of[i] = STUCK;
      continue;
    }
    c->probe_of[i] = k;
    c->asked[k++] = row;
  }
  if (k)
    storage_probe(c->asked, k, PROBE_NAME | (c->want_errors ? PROBE_ERRORS : 0),
                  PROBE_DEADLINE_MS, c->probes);
  for (int i = 0; i < c->n; i++) {
    if (c->probe_of[i] == STUCK) {
      dead_add(c->dead, &c->rows[i]);
      continue;
    }
    const drive_probe *p = c->probe_of[i] >= 0 ? &c->probes[c->probe_of[i]] : NULL;
    if (p && !p->answered) {
      hung_add(c->hung, c->rows[i].mount);
      dead_add(c->dead, &c->rows[i]);
    }
    // A drive letter's type comes with the other answers.
    if (p && c->rows[i].kind == DRIVE_LETTERS) c->rows[i].drive_type = p->drive_type;
    collect_one(c, &c->rows[i], p);
  }
  c->n = 0;
}

// Rows are listed as they come until the first that may hang; from there
// on they are gathered, so that the rows that may hang are asked together
// and the list order is kept. A machine without such drives pays nothing.
static void gather_row(const drive_row *row, void *ctx) {
  collect_ctx *c = (collect_ctx *)ctx;
  // A drive letter's type is known only once it has been asked.
  if (row->kind != DRIVE_LETTERS && !drive_is_candidate(row)) return;
  if (c->n == 0 && !drive_may_hang(row)) {
    collect_one(c, row, NULL);
    return;
  }
  c->rows[c->n++] = *row;
  if (c->n == CHUNK) flush_rows(c);
}

int collect_mounts(mount_info *table, hung_drives *hung, dead_drives *dead,
                   int want_errors) {
  // Large enough that a thread's stack is the wrong place for it.
  static collect_ctx c;
  c.table = table;
  c.count = 0;
  c.hung = hung;
  c.dead = dead;
  c.want_errors = want_errors;
  if (dead) dead->n = 0;
  c.n = 0;
  storage_each_drive(gather_row, &c);
  flush_rows(&c);
  return c.count;
}

int mount_cmp(const void *a, const void *b) {
  const mount_info *x = (const mount_info *)a;
  const mount_info *y = (const mount_info *)b;
  if (x->total_bytes != y->total_bytes)
    return x->total_bytes > y->total_bytes ? -1 : 1;
  return strcmp(x->mount, y->mount);
}
