// The fields the detail reply of dirs adds.
#pragma once

#include "walk/detail.h"

// ,"key":null, or ,"key":"REASON" for a partial total's reason.
void write_partial(const char *key_lit, int partial);
// The listed folder's totals: the fields after "root_pct".
void write_folder_totals(const tree_sum *folder);
// One listed entry of the detail reply, from its "bytes" to its end, with
// kids, a folder's largest children (final once its record is: a walk
// given up later does not touch them).
void write_entry_detail(const dir_entry *e, const entry_children *kids,
                        uint64_t volume_total);
// The "largest" list (l NULL: empty) and "largest_partial"; sub is the
// listed folder below home ("" for home), listed its whole path.
void write_largest(largest_list *l, int partial, const char *sub,
                   const char *listed);
