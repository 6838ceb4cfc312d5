// The metrics action: the drives as the mounts action sees them and, when
// asked, the folder that dirs&detail=1 lists, in Prometheus's text format.
#pragma once

#include "walk/home_walk.h"

// Entries of the listed folder that get series of their own when top= is
// not given; at most MAX_DIR_ENTRIES may be asked for.
enum { METRICS_TOP_DEFAULT = 20 };

// Writes one complete reply: the drives and, when w is given (a walk
// that was not refused, with detail), the listed folder's series for at
// most top of its entries.
void metrics_reply(const home_walk *w, int top);
