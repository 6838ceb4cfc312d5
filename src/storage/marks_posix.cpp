// The storage layer on Linux: marks of calls stuck in the system.
//
// A mark is a name in the abstract UNIX socket namespace, bound by the
// process left holding the stuck call. The kernel drops the name the moment
// that process closes the socket or ends, however it ends, so nothing is
// left to clean up, and nothing is written to disk. The name carries the
// user id; anyone may bind any abstract name, so a request believes a mark
// only when SO_PEERCRED says the process listening on it runs as the same
// user. A mark held by another user therefore hides nothing: the drive or
// folder is asked as usual.
//
// Nor can such a squatter keep our stuck calls from being marked (every
// request would then start the stuck call again, and leave one more
// process behind). A holder that cannot show the name is ours (another
// user listens on it, or someone bound it without listening, which a
// connect cannot tell from a free name but a bind can) binds it with a
// random suffix instead, "<name>/<16 hex digits>", which nobody can guess
// to take first. A request that finds the name so squatted looks for such
// names in /proc/net/unix, which lists every bound name of the network
// namespace to everyone, and believes one held by its own user. That
// search is made only while someone squats the name, and costs a connect
// per name that begins the same way.
//
// Abstract names belong to the network namespace: requests run in another
// one do not see each other's marks.

#include "storage/marks_posix.h"

#include "storage/mark_key.h"

#include <errno.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

void mark_name_of(char kind, uint64_t dev, const char *path, mark_name *out) {
  char key[MARK_KEY_LEN];
  mark_key(kind, dev, path, key);
  memset(out->path, 0, sizeof out->path);
  int n = snprintf(out->path + 1, sizeof out->path - 1, "plugin_disks/%u/%s",
                   (unsigned)geteuid(), key);
  out->len = 1 + n;
}

static socklen_t address_of(const mark_name *m, struct sockaddr_un *a) {
  memset(a, 0, sizeof *a);
  a->sun_family = AF_UNIX;
  memcpy(a->sun_path, m->path, (size_t)m->len);
  return (socklen_t)(offsetof(struct sockaddr_un, sun_path) + (size_t)m->len);
}

enum { HELD_BY_OTHER = -1, HELD_BY_NONE = 0, HELD_BY_US = 1 };

// Who holds the mark m: HELD_BY_US (a process of the calling user),
// HELD_BY_OTHER, or HELD_BY_NONE. A non-blocking connect never waits: a
// name nobody holds is refused at once, and a holder whose queue is full
// gives EAGAIN (not believed).
static int holder_of(const mark_name *m) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return HELD_BY_NONE;
  struct sockaddr_un a;
  socklen_t len = address_of(m, &a);
  int who = HELD_BY_NONE;
  if (connect(fd, (struct sockaddr *)&a, len) == 0) {
    struct ucred cred;
    socklen_t clen = sizeof cred;
    who = getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &clen) == 0 &&
                  cred.uid == geteuid()
              ? HELD_BY_US
              : HELD_BY_OTHER;
  } else if (errno == EAGAIN) {
    who = HELD_BY_OTHER;  // not believed, nor free
  }
  close(fd);
  return who;
}

// Whether a process of the calling user holds m under a name with a
// suffix: the names of /proc/net/unix ("@" standing for the leading NUL)
// that are m's, a slash and more.
static int suffixed_held(const mark_name *m) {
  FILE *f = fopen("/proc/net/unix", "re");
  if (!f) return 0;
  const char *name = m->path + 1;
  size_t n = (size_t)m->len - 1;
  char line[512];
  int held = 0;
  while (!held && fgets(line, sizeof line, f)) {
    const char *at = strstr(line, " @");
    if (!at || strncmp(at + 2, name, n) != 0 || at[2 + n] != '/') continue;
    mark_name alt;
    memset(&alt, 0, sizeof alt);
    size_t k = strcspn(at + 2, "\n");
    if (k + 1 > sizeof alt.path) continue;
    memcpy(alt.path + 1, at + 2, k);
    alt.len = (int)(1 + k);
    held = holder_of(&alt) == HELD_BY_US;
  }
  fclose(f);
  return held;
}

// A socket bound to m, listening when listens; -1 when it cannot be had
// (errno tells why: EADDRINUSE, someone has bound m).
static int bind_to(const mark_name *m, int listens) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  struct sockaddr_un a;
  socklen_t len = address_of(m, &a);
  if (bind(fd, (struct sockaddr *)&a, len) != 0 ||
      (listens && listen(fd, 16) != 0)) {
    int err = errno;
    close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

// Whether someone has bound m, listening or not: a connect is refused
// alike for a free name and for one bound by a socket that never listens;
// binding it tells them apart (the name is let go at once).
static int name_bound(const mark_name *m) {
  int fd = bind_to(m, 0);
  if (fd >= 0) {
    close(fd);
    return 0;
  }
  return errno == EADDRINUSE;
}

int mark_held(const mark_name *m) {
  int who = holder_of(m);
  if (who == HELD_BY_US) return 1;
  if (who == HELD_BY_NONE && !name_bound(m)) return 0;
  return suffixed_held(m);
}

int mark_take(const mark_name *m) {
  // A request asking whether the mark is held binds the name for a moment
  // (name_bound): refused by a name that is bound, the bind is tried
  // again before a squatter is believed.
  for (int tries = 0;; tries++) {
    int fd = bind_to(m, 1);
    if (fd >= 0) return fd;
    int who = holder_of(m);
    if (who == HELD_BY_US) return -1;
    if (who == HELD_BY_OTHER || tries == 2) break;
    struct timespec pause = {0, 1000000};  // 1 ms
    nanosleep(&pause, NULL);
  }
  // Squatted: the name with a suffix no one can guess.
  uint64_t r;
  if (getrandom(&r, sizeof r, 0) != (ssize_t)sizeof r) return -1;
  mark_name alt = *m;
  int n = snprintf(alt.path + alt.len, sizeof alt.path - (size_t)alt.len,
                   "/%016llx", (unsigned long long)r);
  if (n <= 0 || alt.len + n >= (int)sizeof alt.path) return -1;
  alt.len += n;
  return bind_to(&alt, 1);
}

void mark_answer(int fd) {
  for (;;) {
    int c = accept4(fd, NULL, NULL, SOCK_CLOEXEC);
    if (c < 0) {
      if (errno == EINTR) continue;
      return;  // none waiting (the socket does not block)
    }
    close(c);
  }
}
