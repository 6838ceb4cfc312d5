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
};

struct largest_file {
  uint64_t disk_bytes;  // what the file takes on the volume
  uint64_t bytes;       // its size
  int64_t mtime;
  int has_mtime;
  uint32_t links;       // 0: the platform did not tell
  char rel[LARGEST_PATH_CAP];  // below the listed folder, the platform's
                               // separator between names
};

struct largest_list {
  int n;
  // files[order[0]] ranks last of the n kept (a heap on the ranking);
  // after largest_sort, order lists them first to last.
  unsigned char order[LARGEST_MAX];
  largest_file files[LARGEST_MAX];
  largest_file offered;  // the file being weighed
};

// The ranking: more on disk first, then larger, then the path bytes
// (strcmp, the paths as written: they share the listed folder's prefix).
// A total order, since no two files share a path. Returns < 0 when a
// ranks before b, > 0 after.
int largest_cmp(const largest_file *a, const largest_file *b);

// Weighs the file item (its size, disk_bytes, time and links) found in
// the folder dir (dir_len bytes below the listed folder, "" for it) and
// keeps it when it ranks among the first LARGEST_MAX.
void largest_offer(largest_list *l, const char *dir, size_t dir_len,
                   const dir_item *item, uint64_t disk_bytes);

// Puts order in ranking order, first to last (once the walk has ended).
void largest_sort(largest_list *l);
