// Read-ahead of the folder walk on Linux.
//
// The walk that answers a breakdown is one thread, depth-first, and on a
// cold cache it waits on the disk for each folder listing and each file's
// inode in turn, one request at a time. The helpers here list the same
// folders and ask for the same sizes ahead of it, several requests in
// flight at once, so that the walk finds them in memory. They keep to the
// walk's bounds (depth, entry budget, never a link, never another mount:
// every folder is opened with openat2 RESOLVE_NO_XDEV beneath the root),
// and nothing they find is reported; all they leave is a warm cache.
//
// Order: each folder still to list is queued with its place in the walk's
// depth-first order (the index of the subfolder at each level, from the
// root down; the same listings give the same order). A helper takes the
// earliest one, lists it, queues its subfolders and then fetches its
// files' sizes; so the helpers stay just ahead of the walk, each on the
// next folder the walk will come to.
//
// They are started only once the walk is seen reading from the disk (the
// thread's block-input count grows), so a warm walk, and a machine busy
// with many warm requests, never pays for them; nor are they started
// while the machine has far more threads ready to run than processors
// (many requests at once), where they would only take processor time
// from the others. They stop when the walk stops; nobody waits for them:
// the process ends with the reply.

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include "storage/readahead_posix.h"
#include "storage/storage.h"

// 0: start the helpers when the walk reads from the disk; 1: always, from
// the walk's start; 2: never. The build sets it (tests and benchmarks
// compare the three); the program reads no setting of its own.
#ifndef READAHEAD_MODE
#define READAHEAD_MODE 0
#endif
#ifndef READAHEAD_HELPERS
#define READAHEAD_HELPERS 8
#endif

namespace {

enum { MODE_AUTO = 0, MODE_ALWAYS = 1, MODE_OFF = 2 };
enum { HELPERS = READAHEAD_HELPERS };
enum { QUEUE_CAP = 8192, ITEM_PATH = 256, KEY_CAP = 8, PATH_CAP = 1024 };

// One helper's buffers; kept out of its thread stack, which stays small.
struct helper {
  alignas(8) char dents[32768];  // a getdents64 batch
  char names[16384];             // the folder's files still to handle: a
                                 // kind byte, the name, a NUL each
  uint16_t key[KEY_CAP];         // the folder in hand: its place and
  char path[PATH_CAP];           // its path relative to the root
  char child[PATH_CAP];
};

helper helpers[HELPERS];

// A folder still to list, of level 0 (the root) to KEY_CAP. A folder
// whose path is longer than a slot holds is left to the walk.
struct work_item {
  uint16_t key[KEY_CAP];  // its place: the subfolder number (at most
                          // 65535) at each level from 1 to its own
  uint16_t level;
  uint16_t len;
  char path[ITEM_PATH];   // relative to the root
};

// The queue: a heap of slots, earliest in the walk's order at the top.
// Slots are reused last-freed first, so few pages of them are touched.
pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t wake = PTHREAD_COND_INITIALIZER;
work_item slots[QUEUE_CAP];
uint16_t free_slots[QUEUE_CAP];
int n_free, n_fresh;   // freed slots; slots never used start at n_fresh
uint16_t heap[QUEUE_CAP];
int n_heap;
int busy;  // helpers listing a folder (which may queue more)

std::atomic<int> stopped;
std::atomic<uint64_t> seen;  // countable entries the helpers met

// Set before the helpers start; read-only afterwards.
int root_fd = -1;
int given_root_fd = -1;  // readahead_root_fd; the walk's, never closed here
int max_level;     // deepest level whose folders are listed
int max_listed;    // root entries the walk goes into
uint64_t budget;   // entries to look at in all

// The main thread's side.
enum { IDLE, ARMED, RUNNING, ENDED };
int phase = IDLE;
char root_path[PATH_CAP];
long base_reads;
unsigned opens;

long disk_reads(void) {
  struct rusage r;
  if (getrusage(RUSAGE_THREAD, &r) != 0) return 0;
  return r.ru_inblock;
}

// Whether folder a (key of length la) comes before folder b in the walk.
int before(const uint16_t *a, int la, const uint16_t *b, int lb) {
  for (int i = 0; i < la && i < lb; i++)
    if (a[i] != b[i]) return a[i] < b[i];
  return la < lb;
}

int slot_before(int x, int y) {
  const work_item &a = slots[heap[x]], &b = slots[heap[y]];
  return before(a.key, a.level, b.key, b.level);
}

void heap_swap(int x, int y) {
  uint16_t t = heap[x];
  heap[x] = heap[y];
  heap[y] = t;
}

// Lock held. Queues the folder path at the place key of the given level.
// When the queue is full or the path too long the folder is not read
// ahead; the walk lists it all the same.
void push_locked(const char *path, size_t len, const uint16_t *key,
                 int level) {
  if (len >= ITEM_PATH || level > KEY_CAP) return;
  int s;
  if (n_free)
    s = free_slots[--n_free];
  else if (n_fresh < QUEUE_CAP)
    s = n_fresh++;
  else
    return;
  work_item &w = slots[s];
  memcpy(w.key, key, sizeof w.key[0] * (size_t)level);
  w.level = (uint16_t)level;
  w.len = (uint16_t)len;
  memcpy(w.path, path, len + 1);
  int i = n_heap++;
  heap[i] = (uint16_t)s;
  while (i && slot_before(i, (i - 1) / 2)) {
    heap_swap(i, (i - 1) / 2);
    i = (i - 1) / 2;
  }
}

// Lock held, queue not empty: the earliest folder into h; its level.
int pop_locked(helper *h) {
  work_item &w = slots[heap[0]];
  int level = w.level;
  memcpy(h->key, w.key, sizeof h->key);
  memcpy(h->path, w.path, (size_t)w.len + 1);
  free_slots[n_free++] = heap[0];
  heap[0] = heap[--n_heap];
  for (int i = 0;;) {
    int l = 2 * i + 1, r = l + 1, m = i;
    if (l < n_heap && slot_before(l, m)) m = l;
    if (r < n_heap && slot_before(r, m)) m = r;
    if (m == i) break;
    heap_swap(i, m);
    i = m;
  }
  return level;
}

// Waits for a folder to list. Returns 0 when the work is over: all of it
// done, or the walk finished.
int take(helper *h, int *level) {
  pthread_mutex_lock(&lock);
  while (!n_heap && busy && !stopped.load(std::memory_order_relaxed))
    pthread_cond_wait(&wake, &lock);
  int got = n_heap && !stopped.load(std::memory_order_relaxed);
  if (got) {
    *level = pop_locked(h);
    busy++;
  } else {
    pthread_cond_broadcast(&wake);
  }
  pthread_mutex_unlock(&lock);
  return got;
}

void finish_one(void) {
  pthread_mutex_lock(&lock);
  if (--busy == 0 && !n_heap) pthread_cond_broadcast(&wake);
  pthread_mutex_unlock(&lock);
}

// Child path of the folder in hand into h->child; its length, or 0 when
// it does not fit.
size_t child_path(helper *h, const char *name) {
  size_t p = strlen(h->path), n = strlen(name);
  if (p == 1 && h->path[0] == '.') p = 0;  // the root itself
  size_t len = p + (p ? 1 : 0) + n;
  if (len >= PATH_CAP) return 0;
  memcpy(h->child, h->path, p);
  if (p) h->child[p++] = '/';
  memcpy(h->child + p, name, n + 1);
  return len;
}

// What the walk asks of an entry of the folder fd: a file's size, or for
// a folder of the deepest level (which the walk opens, to tell a mount
// point, but does not list) the same open.
void fetch_entry(int fd, const char *name, int kind) {
  if (kind == 'o') {
    int sub = open_folder_in(fd, name, 1);
    if (sub >= 0) close(sub);
    return;
  }
  struct statx st;
  statx(fd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
        STATX_TYPE | STATX_SIZE, &st);
}

// Queues the subfolder name of the folder in hand (its subfolder number
// index) and wakes a helper for it.
void push_child(helper *h, const char *name, int index, int level) {
  size_t len = child_path(h, name);
  if (!len || level > KEY_CAP) return;
  uint16_t key[KEY_CAP];
  memcpy(key, h->key, sizeof key);
  key[level - 1] = (uint16_t)(index < 65535 ? index : 65535);
  pthread_mutex_lock(&lock);
  push_locked(h->child, len, key, level);
  pthread_cond_signal(&wake);
  pthread_mutex_unlock(&lock);
}

// Lists the folder h->path of the given level, queues its subfolders as
// they come and then fetches its files' sizes (and opens the folders the
// walk opens but does not list), as the walk will.
void read_folder(helper *h, int level) {
  int fd = open_folder_in(root_fd, h->path, 1);
  if (fd < 0) return;
  size_t used = 0;
  int subfolders = 0, entries = 0;
  for (;;) {
    // The walk goes into the root's first max_listed entries only.
    if (stopped.load(std::memory_order_relaxed) ||
        (level == 0 && entries >= max_listed))
      break;
    ssize_t got = getdents64(fd, h->dents, sizeof h->dents);
    if (got <= 0) break;
    for (ssize_t pos = 0; pos < got;) {
      const struct dirent64 *e = (const struct dirent64 *)(h->dents + pos);
      pos += e->d_reclen;
      const char *n = e->d_name;
      if (!e->d_ino || (n[0] == '.' && (!n[1] || (n[1] == '.' && !n[2]))))
        continue;
      int kind;  // 'd' a folder to list, 'o' one to open, 'f' a size
      switch (e->d_type) {
        case DT_LNK: continue;
        case DT_DIR: kind = level < max_level ? 'd' : 'o'; break;
        case DT_REG: case DT_UNKNOWN: kind = 'f'; break;
        default: kind = 0; break;
      }
      if (level == 0 && entries >= max_listed) break;
      entries++;
      if (seen.fetch_add(1, std::memory_order_relaxed) >= budget) {
        stopped.store(1, std::memory_order_relaxed);
        break;
      }
      if (kind == 'd') {
        push_child(h, n, subfolders++, level + 1);
        continue;
      }
      if (!kind) continue;
      size_t len = strlen(n) + 2;
      if (used + len > sizeof h->names) {
        fetch_entry(fd, n, kind);  // no room to keep it for later
        continue;
      }
      h->names[used] = (char)kind;
      memcpy(h->names + used + 1, n, len - 1);
      used += len;
    }
  }
  for (size_t at = 0; at < used && !stopped.load(std::memory_order_relaxed);) {
    const char *n = h->names + at + 1;
    fetch_entry(fd, n, h->names[at]);
    at += strlen(n) + 2;
  }
  close(fd);
}

void *helper_main(void *arg) {
  helper *h = (helper *)arg;
  int level;
  while (take(h, &level)) {
    read_folder(h, level);
    finish_one();
  }
  return NULL;
}

// Threads ready to run on the whole machine, against the processors this
// process may use: the helpers spend processor time (a cold folder or
// inode costs the kernel more than a warm one), so they do not start
// when the machine is already far past its share, for instance with many
// requests at once.
int machine_busy(void) {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 0;
  int cpus = CPU_COUNT(&set);
  int fd = open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char buf[128];
  ssize_t got = read(fd, buf, sizeof buf - 1);
  close(fd);
  if (got <= 0) return 0;
  buf[got] = '\0';
  // "0.47 0.44 0.19 2/121 8471": the fourth field counts the runnable.
  const char *p = buf;
  for (int field = 0; field < 3 && p; field++) {
    p = strchr(p, ' ');
    if (p) p++;
  }
  if (!p) return 0;
  long running = strtol(p, NULL, 10);
  return running > 4L * cpus;
}

void start_helpers(void) {
  phase = RUNNING;
  root_fd = given_root_fd >= 0
                ? fcntl(given_root_fd, F_DUPFD_CLOEXEC, 0)
                : open(root_path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root_fd < 0) return;
  int probe = open_folder_in(root_fd, ".", 1);  // openat2 is there (Linux 5.6 and later)
  if (probe < 0) return;
  close(probe);
  const uint16_t no_key[KEY_CAP] = {0};
  pthread_mutex_lock(&lock);
  push_locked(".", 1, no_key, 0);
  pthread_mutex_unlock(&lock);
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return;
  pthread_attr_setstacksize(&attr, 64 * 1024);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  for (helper &h : helpers) {
    pthread_t t;
    if (pthread_create(&t, &attr, helper_main, &h) != 0) break;
  }
  pthread_attr_destroy(&attr);
}
}  // namespace

void readahead_root_fd(int fd) { given_root_fd = fd; }

void storage_readahead_begin(const char *path, int max_depth,
                             int max_root_entries, uint64_t max_entries) {
  if (READAHEAD_MODE == MODE_OFF || phase != IDLE) return;
  size_t n = strlen(path);
  if (n >= sizeof root_path) return;
  memcpy(root_path, path, n + 1);
  max_level = max_depth;
  max_listed = max_root_entries;
  budget = max_entries;
  base_reads = disk_reads();
  opens = 0;
  phase = ARMED;
  if (READAHEAD_MODE == MODE_ALWAYS) start_helpers();
}

// The first few folders are looked at one by one, then every 32nd: a
// getrusage call costs about 0.3 us here, a warm folder about 15 us.
void readahead_poll(void) {
  if (phase != ARMED) return;
  unsigned n = ++opens;
  if (n > 4 && n % 32) return;
  if (disk_reads() > base_reads && !machine_busy()) start_helpers();
}

void storage_readahead_end(void) {
  if (phase == RUNNING) {
    stopped.store(1, std::memory_order_relaxed);
    pthread_mutex_lock(&lock);
    pthread_cond_broadcast(&wake);
    pthread_mutex_unlock(&lock);
    phase = ENDED;
  } else if (phase == ARMED) {
    phase = IDLE;
  }
}
