#include "storage/fake.h"

#include "storage/below_rights.h"

#include <stdio.h>
#include <string.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

fake_platform fake;

const char storage_platform[] = "windows";
const char storage_sep = '\\';

static void walk_release(void);

void fake_reset(void) {
  walk_release();
  memset(&fake, 0, sizeof fake);
  fake.now = 1735787045;  // 2025-01-02T03:04:05Z
}

fake_drive *fake_add_drive(int kind, const char *device, const char *mount,
                           uint64_t total, uint64_t free_bytes,
                           uint64_t avail) {
  fake_drive *d = &fake.drives[fake.n_drives++];
  memset(d, 0, sizeof *d);
  d->row.kind = kind;
  snprintf(d->row.device, sizeof d->row.device, "%s", device);
  snprintf(d->row.mount, sizeof d->row.mount, "%s", mount);
  if (kind == DRIVE_LETTERS) d->row.drive_type = 3;
  d->space.total = total;
  d->space.free = free_bytes;
  d->space.avail = avail;
  d->fs_name = "NTFS";
  return d;
}

int fake_add(int parent, const char *name, uint64_t size, int is_dir) {
  fake_node *n = &fake.nodes[fake.n_nodes];
  memset(n, 0, sizeof *n);
  n->parent = parent;
  snprintf(n->name, sizeof n->name, "%s", name);
  n->size = size;
  n->is_dir = is_dir;
  return fake.n_nodes++;
}

void fake_add_bulk(int parent, int count) {
  fake.bulk_parent[fake.n_bulk] = parent;
  fake.bulk_count[fake.n_bulk] = count;
  fake.n_bulk++;
}

void storage_start(void) {}
long storage_pid(void) { return 4242; }
int64_t storage_time(void) { return fake.now; }

int storage_gmtime(int64_t t, struct tm *out) {
  if (fake.gmtime_fails) return 0;
  time_t tt = (time_t)t;
  return gmtime_r(&tt, out) != NULL;
}

uint64_t storage_ticks_ms(void) { return 1000 + fake.ticks; }
const char *storage_home(void) { return fake.home; }

// The fake platform is Windows: a drive form (C:\...) or a network one
// (\\server\share).
int storage_path_absolute(const char *path) {
  return (path[0] && path[1] == ':' && path[2] == '\\') ||
         (path[0] == '\\' && path[1] == '\\');
}

int storage_each_drive(drive_fn fn, void *ctx) {
  unsigned pass = (unsigned)fake.listings++;
  if (fake.drive_list_fails) return 0;
  int rows = 0;
  for (int i = 0; i < fake.n_drives; i++) {
    if (pass < 32 && (fake.drives[i].passes >> pass) & 1u) continue;
    fn(&fake.drives[i].row, ctx);
    rows++;
  }
  return rows;
}

static fake_drive *drive_at(const char *path) {
  for (int i = 0; i < fake.n_drives; i++)
    if (strcmp(fake.drives[i].row.mount, path) == 0) return &fake.drives[i];
  return NULL;
}

int storage_space(const char *path, space_info *out) {
  snprintf(fake.last_volume, sizeof fake.last_volume, "%s", path);
  fake_drive *d = drive_at(path);
  if (d) {
    d->asked++;
    if (d->space_fails) return 0;
    *out = d->space;
    return 1;
  }
  if (fake.root_space_fails) return 0;
  *out = fake.root_space;
  return 1;
}

int storage_fs_name(const drive_row *row, char *buf, size_t cap) {
  fake_drive *d = drive_at(row->mount);
  if (row->kind == DRIVE_MOUNT_TABLE) {
    snprintf(buf, cap, "%s", row->fstype);
    return 1;
  }
  if (!d || d->fs_name_fails) return 0;
  snprintf(buf, cap, "%s", d->fs_name);
  return 1;
}

int storage_fs_errors(const drive_row *row, fs_errors *out) {
  memset(out, 0, sizeof *out);
  fake.errors_asked++;
  fake_drive *d = drive_at(row->mount);
  if (!d || !d->has_errors) return 0;
  *out = d->errors;
  return 1;
}

void storage_probe(const drive_row *const *rows, int n, int want,
                   int deadline_ms, drive_probe *out) {
  fake.probes++;
  fake.probed_rows += n;
  fake.last_deadline_ms = deadline_ms;
  unsigned pass = fake.listings > 0 ? (unsigned)fake.listings - 1 : 0;
  for (int i = 0; i < n; i++) {
    drive_probe *p = &out[i];
    memset(p, 0, sizeof *p);
    p->drive_type = rows[i]->drive_type;
    fake_drive *d = drive_at(rows[i]->mount);
    int hangs = d ? pass < 32 && ((d->hangs >> pass) & 1u) : fake.root_space_hangs;
    if (hangs) {
      if (d) d->asked++;
      continue;
    }
    p->answered = 1;
    p->space_ok = storage_space(rows[i]->mount, &p->space);
    if (p->space_ok && (want & PROBE_NAME))
      p->name_ok = storage_fs_name(rows[i], p->fs_name, sizeof p->fs_name);
    if (p->space_ok && (want & PROBE_ERRORS))
      p->errors_ok = storage_fs_errors(rows[i], &p->errors);
  }
}

void storage_finish(void) {}
void storage_end_reply(void) {}

int storage_drive_stuck(const drive_row *row) {
  fake_drive *d = drive_at(row->mount);
  return d ? d->stuck : fake.root_space_stuck;
}

uint64_t storage_device_of(const char *) { return 7; }

// Follows the rule of drive letters: "C:..." is on the volume "C:\".
int storage_volume_of(const char *path, char *buf, size_t cap) {
  if (fake.volume_fails || !path[0] || path[1] != ':' || cap < 4) return 0;
  snprintf(buf, cap, "%c:\\", path[0]);
  return 1;
}

// A listing walks the nodes whose parent is the listed folder, then the
// generated files of that folder.
namespace {
struct fake_iter {
  int used;
  int folder;   // node index, or -1 for the root
  int next;     // next node index to look at
  int bulk;     // generated files handed out so far
  int handed;   // entries handed out so far
};
fake_iter iters[64];
}  // namespace

// A listing of folder (a node index, or -1 for the root) into it.
// Returns 1, or 0 when every listing slot is in use.
static int open_listing(dir_iter *it, int folder) {
  fake_iter *slot = NULL;
  for (fake_iter &f : iters)
    if (!f.used) slot = &f;
  if (!slot) return 0;
  slot->used = 1;
  slot->folder = folder;
  slot->next = 0;
  slot->bulk = 0;
  slot->handed = 0;
  it->handle = slot;
  it->has_first = 0;
  it->failed = 0;
  fake.open_handles++;
  return 1;
}

static void walk_hang_here(void);

int storage_dir_open(dir_iter *it, const dir_iter *parent, const char *name,
                     const char *) {
  fake.dir_opens++;
  int folder = -1;
  if (parent) {
    const fake_iter *p = (const fake_iter *)parent->handle;
    folder = -2;
    for (int i = 0; i < fake.n_nodes; i++)
      if (fake.nodes[i].parent == p->folder &&
          strcmp(fake.nodes[i].name, name) == 0) {
        folder = i;
        break;
      }
    if (folder == -2) return 0;
    fake.nodes[folder].opened++;
    if (fake.nodes[folder].unlistable || !fake.nodes[folder].is_dir) return 0;
    if (folder == fake.hang_node - 1) walk_hang_here();
  } else if (fake.root_unlistable) {
    return 0;
  }
  return open_listing(it, folder);
}

int storage_dir_open_root(dir_iter *it, const char *path) {
  fake.root_opens++;
  if (fake.root_reason) return fake.root_reason;
  if (fake.root_unlistable) return BELOW_UNREADABLE;
  return storage_dir_open(it, NULL, NULL, path) ? BELOW_OK : BELOW_UNREADABLE;
}

// Follows rel name by name through the nodes, as a backend would.
int storage_dir_open_below(dir_iter *it, const char *, const char *rel) {
  fake.below_opens++;
  if (fake.root_unlistable) return BELOW_UNREADABLE;
  int folder = -1;
  const char *p = rel;
  for (;;) {
    const char *slash = strchr(p, '/');
    size_t n = slash ? (size_t)(slash - p) : strlen(p);
    int found = -1;
    for (int i = 0; i < fake.n_nodes; i++)
      if (fake.nodes[i].parent == folder && strlen(fake.nodes[i].name) == n &&
          memcmp(fake.nodes[i].name, p, n) == 0) {
        found = i;
        break;
      }
    if (found < 0) return BELOW_MISSING;
    fake_node *f = &fake.nodes[found];
    // What the Windows backend learns of it before it opens it: its
    // folder's listing, or where that folder may only be traversed, its
    // attributes asked by name.
    int how = folder >= 0 && fake.nodes[folder].traverse_only
                  ? (f->attrs_refused ? LOOK_NONE : LOOK_ASKED)
                  : LOOK_LISTED;
    uint32_t attrs = (f->is_dir ? ATTR_DIRECTORY : 0) |
                     (f->is_reparse ? ATTR_REPARSE_POINT : 0) |
                     (f->recall_on_open ? ATTR_RECALL_ON_OPEN : 0) |
                     (f->recall_on_data_access ? ATTR_RECALL_ON_DATA_ACCESS : 0);
    int seen = below_before_open(how, attrs, f->reparse_tag);
    if (seen != BELOW_OK) return seen;
    f->opened_on_way++;
    // As the open name's own handle tells it then.
    if (f->is_link || below_attributes(attrs, f->reparse_tag) == BELOW_LINK) return BELOW_LINK;
    if (f->is_mount) return BELOW_MOUNT;
    if (!f->is_dir) return BELOW_NOT_DIR;
    if (f->unlistable || f->recall_on_open || f->recall_on_data_access) return BELOW_UNREADABLE;
    // Opened with the rights the Windows backend asks for it.
    if (f->traverse_only && (below_access(!slash) & RIGHT_LIST_DIRECTORY))
      return BELOW_UNREADABLE;
    folder = found;
    if (!slash) break;
    p = slash + 1;
  }
  return open_listing(it, folder) ? BELOW_OK : BELOW_UNREADABLE;
}

static int bulk_of(int folder) {
  for (int i = 0; i < fake.n_bulk; i++)
    if (fake.bulk_parent[i] == folder) return fake.bulk_count[i];
  return 0;
}

// Whether the listing f ends on an error now.
static int listing_fails(const fake_iter *f) {
  if (f->folder < 0)
    return fake.root_list_fails && f->handed >= fake.root_list_fails_after;
  const fake_node *n = &fake.nodes[f->folder];
  return n->list_fails && f->handed >= n->list_fails_after;
}

int storage_dir_next(dir_iter *it, dir_item *item) {
  fake_iter *f = (fake_iter *)it->handle;
  memset(item, 0, sizeof *item);
  if (listing_fails(f)) {
    it->failed = 1;
    return 0;
  }
  f->handed++;
  for (; f->next < fake.n_nodes; f->next++) {
    const fake_node *n = &fake.nodes[f->next];
    if (n->parent != f->folder) continue;
    snprintf(item->name, sizeof item->name, "%s", n->name);
    item->size = n->is_dir ? 0 : n->size;
    item->is_dir = n->is_dir;
    item->is_link = n->is_link;
    item->is_mount = n->is_mount;
    item->is_reparse = n->is_reparse;
    item->reparse_tag = n->reparse_tag;
    item->recall_on_open = n->recall_on_open;
    item->recall_on_data_access = n->recall_on_data_access;
    item->offline = n->offline;
    item->disk_size = n->disk_size;
    item->dev_id = n->dev_id;
    item->file_id = n->file_id;
    item->links = n->links;
    item->has_mtime = n->has_mtime;
    item->mtime = n->mtime;
    if (n->unreadable) {  // as a backend hands it out: nothing but the name
      memset(item, 0, sizeof *item);
      snprintf(item->name, sizeof item->name, "%s", n->name);
      item->unreadable = 1;
    }
    f->next++;
    return 1;
  }
  if (f->bulk < bulk_of(f->folder)) {
    snprintf(item->name, sizeof item->name, "f%d", f->bulk++);
    item->size = 1;
    return 1;
  }
  return 0;
}

// As on Windows: the listing's entry told the folder's own facts.
int storage_dir_self(const dir_iter *, dir_item *) { return 0; }

// As on Windows: the listing's entry told them.
void storage_link_facts(const dir_iter *, dir_item *) {}

void storage_dir_close(dir_iter *it) {
  ((fake_iter *)it->handle)->used = 0;
  fake.open_handles--;
}

void storage_readahead_begin(const char *root_path, int max_depth,
                             int max_listed, uint64_t max_entries) {
  fake.readahead_begins++;
  snprintf(fake.readahead_root, sizeof fake.readahead_root, "%s", root_path);
  fake.readahead_depth = max_depth;
  fake.readahead_listed = max_listed;
  fake.readahead_entries = max_entries;
  fake.opens_at_begin = fake.dir_opens;
  fake.handles_at_begin = fake.open_handles;
}

void storage_readahead_end(void) {
  fake.readahead_ends++;
  fake.opens_at_end = fake.dir_opens;
  fake.handles_at_end = fake.open_handles;
}

// ---- the walk's thread -------------------------------------------------
namespace {
std::mutex walk_lock;
std::condition_variable walk_cv;
std::thread walk_thread;
int walk_ended;
int walk_released;
}  // namespace

// The walk blocks here, as in a call that is never answered, until it is
// given up or the fake is reset.
static void walk_hang_here(void) {
  std::unique_lock<std::mutex> l(walk_lock);
  walk_cv.wait(l, [] { return walk_released != 0; });
}

static void walk_release(void) {
  {
    std::lock_guard<std::mutex> l(walk_lock);
    walk_released = 1;
  }
  walk_cv.notify_all();
  if (walk_thread.joinable()) walk_thread.join();
}

int storage_walk_start(void (*fn)(void *), void *arg) {
  if (!fake.hang_node) {
    fn(arg);
    walk_ended = 1;
    return 1;
  }
  fake.walk_threads++;
  walk_ended = 0;
  walk_released = 0;
  walk_thread = std::thread([fn, arg] {
    fn(arg);
    std::lock_guard<std::mutex> l(walk_lock);
    walk_ended = 1;
    walk_cv.notify_all();
  });
  return 1;
}

// A walk that has not ended costs ms of the fake clock and a moment of
// real time, so that it is seen to make no progress.
int storage_walk_wait(int ms) {
  std::unique_lock<std::mutex> l(walk_lock);
  if (walk_cv.wait_for(l, std::chrono::milliseconds(2),
                       [] { return walk_ended != 0; })) {
    l.unlock();
    if (walk_thread.joinable()) walk_thread.join();
    return 1;
  }
  fake.ticks += (uint64_t)ms;
  return 0;
}

int storage_walk_stuck(uint64_t dev, const char *path) {
  fake.last_dev = dev;
  snprintf(fake.last_walk_path, sizeof fake.last_walk_path, "%s", path);
  return fake.walk_stuck;
}

void storage_walk_abandon(uint64_t, const char *) {
  fake.abandoned++;
  walk_release();
}
