// The metrics action: the drives as the mounts action sees them and, when
// asked, the folder that dirs&detail=1 lists, in Prometheus's text format.
#pragma once

#include <stddef.h>

// Entries of the listed folder that get series of their own when top= is
// not given; at most MAX_DIR_ENTRIES may be asked for.
enum { METRICS_TOP_DEFAULT = 20 };

// The number of entries top= asks for: its decoded value val, when it is
// decimal digits only, held to MAX_DIR_ENTRIES; METRICS_TOP_DEFAULT for
// anything else (empty, a sign, other characters).
int metrics_top(const char *val);

// Writes one complete reply. With root or sub given (sub_val of sub_len
// bytes, as for dirs), the listed folder's series are added: refused, as
// JSON, exactly as dirs refuses them; top is metrics_top's value.
void action_metrics(const char *root, const char *sub_val, size_t sub_len,
                    int top);
