// One request's walk of the home folder, or of a folder below it: every
// check that may refuse it, the volume's usage, the watched walk and its
// sorted records. The replies that show it (JSON, metrics) only write.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "plugin.h"
#include "walk/detail.h"
#include "walk/walk.h"

// Why a walk gives no listing, in the order the checks are made.
enum {
  HOME_OK = 0,
  HOME_MISSING_ROOT,     // no root= given
  HOME_NO_ROOT,          // the workspace root, or no home folder named
  HOME_ROOT_NOT_ALLOWED, // a root the allowlist does not name
  HOME_SUB_INVALID,      // sub= is not a plain folder path
  HOME_SUB_TOO_LONG,     // sub= is longer than MAX_SUB_BYTES
  HOME_PATH_TOO_LONG,    // the home folder's path does not fit
  HOME_NOT_ABSOLUTE,     // the home folder's path is not absolute
  HOME_OUT_OF_MEMORY,
  HOME_UNAVAILABLE,      // the home folder cannot be opened: see reason
  HOME_SUB_REFUSED,      // the folder below it cannot be: see reason
};

// The volume that holds the home folder; all zero when unknown.
struct volume_usage {
  uint64_t total, used, free, avail;
};

struct home_walk {
  int refusal;          // HOME_OK, or why nothing was listed
  int reason;           // HOME_UNAVAILABLE, HOME_SUB_REFUSED: a BELOW_ value
  char root_path[1024];                 // the home folder
  char sub[MAX_SUB_BYTES + 1];          // the checked sub, "" for home
  char listed[1024 + 1 + MAX_SUB_BYTES + 1];  // the folder listed
  uint64_t dev;                         // the device of the home folder
  volume_usage usage;
  dir_entry *list;      // count records, larger totals first
  dir_entry *walk_list; // a walk given up with detail: its own records,
                        // which list copies; else NULL
  int count;
  int truncated;        // a limit cut the listing or the walk
  int stalled;          // given up now, or stuck since an earlier request
  int given_up;         // given up by this request: home_walk_end
                        // abandons it
  long long scan_ms;
  detail_state *detail; // NULL unless detail was asked for
  scan_state state;     // the walk's: it may write here until it ends
  tree_sum folder;      // detail: the listed folder's totals
  largest_list *largest;  // detail: the largest files, NULL when not told
  // detail: the files by type and by age band, NULL when not told (as
  // largest).
  const type_table *types;
  const file_sum *ages;
};

// Checks the request (root, and the decoded sub value of sub_len bytes)
// and walks the folder it names, with detail when asked; now is the
// reply's own time, which the files' ages are measured from. Returns
// w->refusal; on HOME_OK the records and totals are filled. Whatever it
// returns, home_walk_end must follow once the reply is written.
int home_walk_run(home_walk *w, const char *root, const char *sub_val,
                  size_t sub_len, int detail, int64_t now);

// The reply is written: a walk given up is abandoned here (a real backend
// then never returns: see storage_walk_abandon), and the records freed.
void home_walk_end(home_walk *w);
