// The metrics of the listed folder's files by age band and by type.
#pragma once

#include "walk/home_walk.h"

// The largest types that get series of their own: the series count stays
// bounded whatever the tree holds.
enum { METRICS_TYPES = 10 };

// The age bands' families and those of the METRICS_TYPES largest types,
// for a walk that tells them (none for a walk given up).
void write_home_kinds(const home_walk *w);
