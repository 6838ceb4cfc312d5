// The storage layer on Linux: the process, the clock and the environment.

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "storage/posix.h"
#include "storage/storage.h"

const char storage_platform[] = "linux";
const char storage_sep = '/';

void storage_start(void) { signal(SIGPIPE, SIG_IGN); }

int open_null_device(void) {
  int fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (fd >= 0) return fd;
  int p[2];
  if (pipe2(p, O_CLOEXEC) != 0) return -1;
  close(p[1]);
  return p[0];
}

void storage_end_reply(void) {
  fflush(stdout);
  int null_fd = open_null_device();
  if (null_fd < 0) return;
  for (int fd = 0; fd <= 2; fd++)
    if (fd != null_fd) dup2(null_fd, fd);
  if (null_fd > 2) close(null_fd);
}

long storage_pid(void) { return (long)getpid(); }

int64_t storage_time(void) { return (int64_t)time(NULL); }

// Broken-down UTC by calendar arithmetic (days to civil date, proleptic
// Gregorian). gmtime_r would do the same but first loads the local time
// zone file, which a reply stamped in UTC never needs.
int storage_gmtime(int64_t t, struct tm *out) {
  int64_t days = t / 86400, secs = t % 86400;
  if (secs < 0) {
    secs += 86400;
    days--;
  }
  int64_t z = days + 719468;  // days since 0000-03-01
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;                                   // [0, 146096]
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);            // from March 1
  int64_t mp = (5 * doy + 2) / 153;                                  // March is 0
  int64_t mday = doy - (153 * mp + 2) / 5 + 1;
  int64_t mon = mp < 10 ? mp + 3 : mp - 9;                           // 1..12
  int64_t year = yoe + era * 400 + (mon <= 2);
  int64_t tm_year = year - 1900;
  if (tm_year < INT_MIN || tm_year > INT_MAX) return 0;
  int leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  static const short before_month[12] = {0,   31,  59,  90,  120, 151,
                                         181, 212, 243, 273, 304, 334};
  memset(out, 0, sizeof *out);
  out->tm_year = (int)tm_year;
  out->tm_mon = (int)mon - 1;
  out->tm_mday = (int)mday;
  out->tm_hour = (int)(secs / 3600);
  out->tm_min = (int)(secs / 60 % 60);
  out->tm_sec = (int)(secs % 60);
  out->tm_yday = before_month[mon - 1] + (int)mday - 1 + (leap && mon > 2);
  int64_t wday = (days + 4) % 7;  // 1970-01-01 was a Thursday
  out->tm_wday = (int)(wday < 0 ? wday + 7 : wday);
  out->tm_zone = "GMT";
  return 1;
}

uint64_t storage_ticks_ms(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u;
}

// USERPROFILE names the home folder wherever it is set; HOME is this
// platform's own name for it.
const char *storage_home(void) {
  const char *home = getenv("USERPROFILE");
  return home ? home : getenv("HOME");
}

int storage_path_absolute(const char *path) { return path[0] == '/'; }
