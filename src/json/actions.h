// The JSON API: the three actions (dispatched by front/dispatch.h).
#pragma once

#include <stddef.h>
#include <stdint.h>

// The refusal of an action that is not the JSON API's: action is the
// decoded value asked for.
void write_unknown_action(const char *action);
// Each writes one complete reply. stamp is the request's response stamp.
void action_info(const char *stamp);
// detail (the request's detail=1) adds to each drive whether it can be
// written and why not, what its file system has recorded of errors, and
// whether it needs attention.
void action_mounts(const char *stamp, int detail = 0);
// The breakdown of the home folder, or of a folder below it: sub_val is
// the decoded sub value of sub_len bytes (zero bytes a %00 put there
// included); an empty one lists home itself. detail (the request's
// detail=1) adds what the files take on the volume, item counts, times,
// partial totals, the largest files, and the files by type and by age
// seen at now (the time stamped, in seconds).
void action_dirs(const char *root, const char *sub_val, size_t sub_len,
                 const char *stamp, int detail = 0, int64_t now = 0);
