// The largest files a breakdown's walk counted: a bounded heap.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "plugin.h"
#include "storage/storage.h"

// 50 files: a list a person reads whole on one card, and 50 fixed records
// that cost the walk one comparison per file that does not make it.
enum {
  LARGEST_MAX = 50,
  // A file's path below the listed folder: the folders the walk opens
  // (MAX_DEPTH levels) and the file's own name, each with a separator.
  LARGEST_PATH_CAP = (MAX_DEPTH + 1) * (NAME_MAX_BYTES + 1),
  // The names of such a path.
  LARGEST_NAMES = MAX_DEPTH + 1,
};

struct largest_file {
  uint64_t disk_bytes;  // what the file takes on the volume
  uint64_t bytes;       // its size
  int64_t mtime;
  int has_mtime;
  uint32_t links;       // 0: the platform did not tell
  // The file as the hard-link table knows it, when it may have other
  // names (file_id 0: it has one, or the platform did not tell who it is).
  uint64_t dev_id, file_id;
  char rel[LARGEST_PATH_CAP];  // below the listed folder, the platform's
                               // separator between names
  // Where each name of rel ends: a name may hold the separator's byte
  // (Wine hands out a Unix name with a backslash as it is).
  uint16_t ends[LARGEST_NAMES];
  int names;
};

struct largest_list {
  int n;
  // files[order[0]] ranks last of the n kept (a heap on the ranking);
  // after largest_sort, order lists them first to last.
  unsigned char order[LARGEST_MAX];
  largest_file files[LARGEST_MAX];
  largest_file offered;  // the file being weighed
};

// The ranking: more on disk first, then larger, then the paths compared
// name by name (so a separator sorts before any byte of a name, on every
// platform alike). A total order, since no two files share a path.
// Returns < 0 when a ranks before b, > 0 after.
int largest_cmp(const largest_file *a, const largest_file *b);

// Weighs the file item (its size, disk_bytes, time and links) found in
// the folder dir (dir_len bytes below the listed folder, "" for it; its
// names names ending at ends) and keeps it when it ranks among the first
// LARGEST_MAX. A file with other names is kept once, under the name that
// ranks first.
void largest_offer(largest_list *l, const char *dir, size_t dir_len,
                   const uint16_t *ends, int names, const dir_item *item,
                   uint64_t disk_bytes);

// Puts order in ranking order, first to last (once the walk has ended).
void largest_sort(largest_list *l);

// The file's own name within f->rel.
const char *largest_name(const largest_file *f);
