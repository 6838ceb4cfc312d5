// The dirs action's refusals, shared with every reply of the same walk.
#pragma once

#include "walk/home_walk.h"

// The JSON refusal for w->refusal (not HOME_OK): root is the root asked
// for, sub_val the decoded sub value as given.
void write_dirs_refusal(const home_walk *w, const char *root,
                        const char *sub_val);
