// The age bands' names, shared by the replies that write them.
#include "walk/ages.h"

const char *const age_names[AGE_BANDS] = {"day", "week", "month", "year", "older", "unknown"};
