// The detail reply's files by type and by age.
#pragma once

#include "walk/types.h"

// The fields after "largest_partial": the files' totals, "types" and
// "ages". types and ages NULL (a walk given up) write no rows of types and
// bands of nothing; partial is the folder's.
void write_kinds(const type_table *types, const file_sum *ages, int partial);
