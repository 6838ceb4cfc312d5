// How long ago a file last changed, in fixed bands measured from the
// reply's own time.
#pragma once

#include <stdint.h>

enum {
  AGE_DAY,      // under a day, or a time in the future
  AGE_WEEK,     // a day to under 7 days
  AGE_MONTH,    // 7 days to under 30
  AGE_YEAR,     // 30 days to under 365
  AGE_OLDER,    // 365 days or more
  AGE_UNKNOWN,  // no time told
  AGE_BANDS,
};

// The names the replies give the bands, in their order.
extern const char *const age_names[AGE_BANDS];

// The band of a file changed at mtime (when has_mtime), seen at now; both
// seconds since 1970, any values.
static inline int age_band(int64_t now, int has_mtime, int64_t mtime) {
  if (!has_mtime) return AGE_UNKNOWN;
  if (mtime >= now) return AGE_DAY;
  uint64_t age = (uint64_t)now - (uint64_t)mtime;  // fits: now > mtime
  const uint64_t day = 86400;
  return age < day ? AGE_DAY
         : age < 7 * day ? AGE_WEEK
         : age < 30 * day ? AGE_MONTH
         : age < 365 * day ? AGE_YEAR
                           : AGE_OLDER;
}
