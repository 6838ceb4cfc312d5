// squat: holds an abstract UNIX socket name, as another process holding a
// mark would, for tests of who a mark is believed from.
//
//   squat NAME [--no-listen]
//
// Binds "\0NAME" (the name's own length, no padding), listens, prints
// "ready" and then accepts and closes connections until it is killed or
// its parent ends. With --no-listen it binds the name and never listens:
// a connect to it is refused as to a name nobody holds.

#include <signal.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int main(int argc, char **argv) {
  int listens = argc == 2;
  if ((argc != 2 && (argc != 3 || strcmp(argv[2], "--no-listen") != 0)) ||
      strlen(argv[1]) + 1 > sizeof(((struct sockaddr_un *)0)->sun_path)) {
    fprintf(stderr, "usage: squat NAME [--no-listen]\n");
    return 2;
  }
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  struct sockaddr_un a;
  memset(&a, 0, sizeof a);
  a.sun_family = AF_UNIX;
  size_t n = strlen(argv[1]);
  memcpy(a.sun_path + 1, argv[1], n);
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  socklen_t len = (socklen_t)(offsetof(struct sockaddr_un, sun_path) + 1 + n);
  if (fd < 0 || bind(fd, (struct sockaddr *)&a, len) != 0 ||
      (listens && listen(fd, 16) != 0)) {
    perror("squat");
    return 1;
  }
  printf("ready\n");
  fflush(stdout);
  if (!listens)
    for (;;) pause();
  for (;;) {
    int c = accept(fd, NULL, NULL);
    if (c >= 0) close(c);
  }
}
