// The storage layer on Linux: marks of calls stuck in the system.
//
// A mark is a name in the abstract UNIX socket namespace, bound by the
// process left holding the stuck call. The kernel drops the name the moment
// that process closes the socket or ends, however it ends, so nothing is
// left to clean up, and nothing is written to disk. The name carries the
// user id; anyone may bind any abstract name, so a request believes a mark
// only when SO_PEERCRED says the process listening on it runs as the same
// user. A mark held by another user therefore hides nothing: the drive or
// folder is asked as usual. (Such a squatter can only keep one of our own
// stuck calls from being marked, which costs a deadline per request again,
// as before marks existed.) Abstract names belong to the network namespace:
// requests run in another one do not see each other's marks.

#include "storage/marks_posix.h"

#include "storage/mark_key.h"

#include <errno.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
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

// A non-blocking connect never waits: a name nobody holds is refused at
// once, and a holder whose queue is full gives EAGAIN (not believed).
int mark_held(const mark_name *m) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return 0;
  struct sockaddr_un a;
  socklen_t len = address_of(m, &a);
  int held = 0;
  if (connect(fd, (struct sockaddr *)&a, len) == 0) {
    struct ucred cred;
    socklen_t clen = sizeof cred;
    held = getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &clen) == 0 &&
           cred.uid == geteuid();
  }
  close(fd);
  return held;
}

int mark_take(const mark_name *m) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  struct sockaddr_un a;
  socklen_t len = address_of(m, &a);
  if (bind(fd, (struct sockaddr *)&a, len) != 0 || listen(fd, 16) != 0) {
    close(fd);
    return -1;
  }
  return fd;
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
