// hangfs: a tiny FUSE file system that can stop answering, for tests of
// what the program does when a file system hangs.
//
//   hangfs MOUNTPOINT [--hang none|statfs|all|others|dir] [--answer-statfs N]
//          [--answer N] [--spare NAME] [--only NAME]
//          [--fail readdir|lookup] [--blocks N]
//
// It serves a fixed tree: "file" (100 bytes), "dir" holding "inner"
// (50 bytes), and reports a volume of 1000 blocks of 4096 bytes. With
// --hang statfs its statfs requests are read and never answered (after the
// first N with --answer-statfs N); with --hang all no request is answered
// at all (after the first N with --answer N); with --hang others the
// requests of a process are answered from the first of its threads that
// asks and held from every other (a program's helper threads stuck while
// its own work goes on); with --hang dir only the opening of "dir" is
// held (one folder that never answers). Held requests are answered
// with EIO on SIGUSR1; SIGUSR2 does the same and ends the hang (every later
// request is answered); SIGTERM or SIGINT answer them before it unmounts
// and ends. --spare NAME answers every request
// of a caller whose command name begins with NAME: Wine's server checks
// each file it opens with statfs, and must be spared for the hang to reach
// the program under test instead of every Wine process at once, so that whatever waits on them is
// freed and a failing test leaves no unkillable process behind. --only NAME
// answers every request of a caller whose command name does not begin with
// NAME: a Wine process looks at its profile folder, and Wine's own
// services at every drive, before the program runs.
// --fail answers with EIO where a file system that fails would: readdir,
// the listing of "dir" past its first batch (a listing that breaks off);
// lookup, the lookup of "inner" (a file that cannot be looked at).
// --blocks N has "file" take N blocks of 512 bytes (0 otherwise).
// It prints "ready" on standard output once mounted, and ends when its
// parent does.

#define FUSE_USE_VERSION 34
#include <errno.h>
#include <fuse_lowlevel.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

enum { HANG_NONE, HANG_STATFS, HANG_ALL, HANG_OTHERS, HANG_DIR };
enum { FAIL_NONE, FAIL_READDIR, FAIL_LOOKUP };
enum { INO_ROOT = 1, INO_FILE = 2, INO_DIR = 3, INO_INNER = 4 };
enum { MAX_HELD = 4096, MAX_PROCS = 256 };

static int hang_mode = HANG_NONE;
static int fail_mode = FAIL_NONE;
static unsigned long long file_blocks;  // --blocks
static long statfs_answers = 0;  // statfs requests to answer before hanging
static long answers = 0;         // requests to answer before hanging (all)
static const char *spare_name;  // callers never held
static const char *only_name;   // when set, the only callers ever held
static fuse_req_t held[MAX_HELD];
static int n_held;

// Whether the request comes from a caller that --spare names.
static int spared(fuse_req_t req) {
  char path[64], comm[64] = "?";
  snprintf(path, sizeof path, "/proc/%d/comm", (int)fuse_req_ctx(req)->pid);
  FILE *f = fopen(path, "r");
  if (f) {
    if (!fgets(comm, sizeof comm, f)) comm[0] = '\0';
    fclose(f);
  }
  int same = spare_name && strncmp(comm, spare_name, strlen(spare_name)) == 0;
  if (only_name && strncmp(comm, only_name, strlen(only_name)) != 0) same = 1;
  if (getenv("HANGFS_LOG"))
    fprintf(stderr, "hangfs: request from %d %s%s", (int)fuse_req_ctx(req)->pid,
            comm, same ? " (spared)\n" : "");
  return same;
}

// Keeps req unanswered until release_held.
static void keep(fuse_req_t req) {
  if (n_held < MAX_HELD) held[n_held++] = req;
  else fuse_reply_err(req, EIO);
}

// The process of thread tid (its Tgid); tid itself when it is gone.
static pid_t process_of(pid_t tid) {
  char path[64], line[128];
  snprintf(path, sizeof path, "/proc/%d/status", (int)tid);
  FILE *f = fopen(path, "r");
  pid_t tgid = tid;
  if (!f) return tgid;
  while (fgets(line, sizeof line, f))
    if (strncmp(line, "Tgid:", 5) == 0) {
      tgid = (pid_t)strtol(line + 5, NULL, 10);
      break;
    }
  fclose(f);
  return tgid;
}

// Whether req comes from another thread than the first of its process to
// ask anything (--hang others).
static int from_later_thread(fuse_req_t req) {
  static pid_t procs[MAX_PROCS], first[MAX_PROCS];
  static int n_procs;
  pid_t tid = fuse_req_ctx(req)->pid, tgid = process_of(tid);
  for (int i = 0; i < n_procs; i++)
    if (procs[i] == tgid) return first[i] != tid;
  if (n_procs < MAX_PROCS) {
    procs[n_procs] = tgid;
    first[n_procs++] = tid;
  }
  return 0;
}

static int hold(fuse_req_t req) {
  if (hang_mode == HANG_OTHERS) {
    if (spared(req) || !from_later_thread(req)) return 0;
    keep(req);
    return 1;
  }
  if (hang_mode != HANG_ALL || spared(req)) return 0;
  if (answers > 0) {
    answers--;
    return 0;
  }
  keep(req);
  return 1;
}

static void release_held(void) {
  for (int i = 0; i < n_held; i++) fuse_reply_err(held[i], EIO);
  n_held = 0;
}

static int fill_stat(fuse_ino_t ino, struct stat *st) {
  memset(st, 0, sizeof *st);
  st->st_ino = ino;
  st->st_uid = getuid();
  st->st_gid = getgid();
  switch (ino) {
    case INO_ROOT:
    case INO_DIR:
      st->st_mode = S_IFDIR | 0755;
      st->st_nlink = 2;
      return 1;
    case INO_FILE:
      st->st_mode = S_IFREG | 0644;
      st->st_nlink = 1;
      st->st_size = 100;
      st->st_blocks = (blkcnt_t)file_blocks;
      return 1;
    case INO_INNER:
      st->st_mode = S_IFREG | 0644;
      st->st_nlink = 1;
      st->st_size = 50;
      return 1;
  }
  return 0;
}

static fuse_ino_t child_of(fuse_ino_t parent, const char *name) {
  if (parent == INO_ROOT && strcmp(name, "file") == 0) return INO_FILE;
  if (parent == INO_ROOT && strcmp(name, "dir") == 0) return INO_DIR;
  if (parent == INO_DIR && strcmp(name, "inner") == 0) return INO_INNER;
  return 0;
}

static void op_lookup(fuse_req_t req, fuse_ino_t parent, const char *name) {
  if (hold(req)) return;
  struct fuse_entry_param e;
  memset(&e, 0, sizeof e);
  e.ino = child_of(parent, name);
  if (fail_mode == FAIL_LOOKUP && e.ino == INO_INNER) {
    fuse_reply_err(req, EIO);
    return;
  }
  if (!e.ino || !fill_stat(e.ino, &e.attr)) {
    fuse_reply_err(req, ENOENT);
    return;
  }
  fuse_reply_entry(req, &e);
}

static void op_getattr(fuse_req_t req, fuse_ino_t ino,
                       struct fuse_file_info *fi) {
  (void)fi;
  if (hold(req)) return;
  struct stat st;
  if (!fill_stat(ino, &st)) {
    fuse_reply_err(req, ENOENT);
    return;
  }
  fuse_reply_attr(req, &st, 0);
}

static void op_opendir(fuse_req_t req, fuse_ino_t ino,
                       struct fuse_file_info *fi) {
  if (hold(req)) return;
  if (hang_mode == HANG_DIR && ino == INO_DIR && !spared(req)) {
    keep(req);
    return;
  }
  if (ino != INO_ROOT && ino != INO_DIR) {
    fuse_reply_err(req, ENOTDIR);
    return;
  }
  fuse_reply_open(req, fi);
}

static void op_readdir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off,
                       struct fuse_file_info *fi) {
  (void)fi;
  if (hold(req)) return;
  if (fail_mode == FAIL_READDIR && ino == INO_DIR && off > 0) {
    fuse_reply_err(req, EIO);
    return;
  }
  static const struct {
    fuse_ino_t dir;
    const char *name;
    fuse_ino_t ino;
  } entries[] = {
      {INO_ROOT, ".", INO_ROOT}, {INO_ROOT, "..", INO_ROOT},
      {INO_ROOT, "file", INO_FILE}, {INO_ROOT, "dir", INO_DIR},
      {INO_DIR, ".", INO_DIR},   {INO_DIR, "..", INO_ROOT},
      {INO_DIR, "inner", INO_INNER},
  };
  char buf[4096];
  size_t used = 0;
  off_t index = 0;
  for (size_t i = 0; i < sizeof entries / sizeof entries[0]; i++) {
    if (entries[i].dir != ino) continue;
    index++;
    if (index <= off) continue;
    struct stat st;
    fill_stat(entries[i].ino, &st);
    size_t need = fuse_add_direntry(req, buf + used, sizeof buf - used,
                                    entries[i].name, &st, index);
    if (used + need > size || used + need > sizeof buf) break;
    used += need;
  }
  fuse_reply_buf(req, buf, used);
}

static void op_releasedir(fuse_req_t req, fuse_ino_t ino,
                          struct fuse_file_info *fi) {
  (void)ino;
  (void)fi;
  fuse_reply_err(req, 0);
}

static void op_statfs(fuse_req_t req, fuse_ino_t ino) {
  (void)ino;
  if (hold(req)) return;
  if (getenv("HANGFS_LOG")) fprintf(stderr, "hangfs: statfs\n");
  if (hang_mode == HANG_STATFS && !spared(req)) {
    if (statfs_answers <= 0) {
      keep(req);
      return;
    }
    statfs_answers--;
  }
  struct statvfs v;
  memset(&v, 0, sizeof v);
  v.f_bsize = v.f_frsize = 4096;
  v.f_blocks = 1000;
  v.f_bfree = 500;
  v.f_bavail = 400;
  v.f_files = 100;
  v.f_ffree = 50;
  v.f_namemax = 255;
  fuse_reply_statfs(req, &v);
}

static const struct fuse_lowlevel_ops ops = {
    .lookup = op_lookup,
    .getattr = op_getattr,
    .opendir = op_opendir,
    .readdir = op_readdir,
    .releasedir = op_releasedir,
    .statfs = op_statfs,
};

static void usage(void) {
  fprintf(stderr,
          "usage: hangfs MOUNTPOINT [--hang none|statfs|all|others|dir] "
          "[--answer-statfs N] [--answer N] [--spare NAME] [--only NAME] "
          "[--fail readdir|lookup] [--blocks N]\n");
  exit(2);
}

int main(int argc, char **argv) {
  if (argc < 2) usage();
  const char *mountpoint = argv[1];
  for (int i = 2; i < argc; i++) {
    if (strcmp(argv[i], "--hang") == 0 && i + 1 < argc) {
      const char *m = argv[++i];
      if (strcmp(m, "none") == 0) hang_mode = HANG_NONE;
      else if (strcmp(m, "statfs") == 0) hang_mode = HANG_STATFS;
      else if (strcmp(m, "all") == 0) hang_mode = HANG_ALL;
      else if (strcmp(m, "others") == 0) hang_mode = HANG_OTHERS;
      else if (strcmp(m, "dir") == 0) hang_mode = HANG_DIR;
      else usage();
    } else if (strcmp(argv[i], "--fail") == 0 && i + 1 < argc) {
      const char *m = argv[++i];
      if (strcmp(m, "readdir") == 0) fail_mode = FAIL_READDIR;
      else if (strcmp(m, "lookup") == 0) fail_mode = FAIL_LOOKUP;
      else usage();
    } else if (strcmp(argv[i], "--blocks") == 0 && i + 1 < argc) {
      file_blocks = strtoull(argv[++i], NULL, 10);
    } else if (strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
      only_name = argv[++i];
    } else if (strcmp(argv[i], "--spare") == 0 && i + 1 < argc) {
      spare_name = argv[++i];
    } else if (strcmp(argv[i], "--answer") == 0 && i + 1 < argc) {
      answers = strtol(argv[++i], NULL, 10);
    } else if (strcmp(argv[i], "--answer-statfs") == 0 && i + 1 < argc) {
      statfs_answers = strtol(argv[++i], NULL, 10);
    } else {
      usage();
    }
  }

  sigset_t sigs;
  sigemptyset(&sigs);
  sigaddset(&sigs, SIGUSR1);
  sigaddset(&sigs, SIGUSR2);
  sigaddset(&sigs, SIGTERM);
  sigaddset(&sigs, SIGINT);
  sigprocmask(SIG_BLOCK, &sigs, NULL);
  int sfd = signalfd(-1, &sigs, SFD_CLOEXEC);
  if (sfd < 0) return 1;
  // A test runner that dies takes its file systems with it, releasing
  // whatever they hold.
  prctl(PR_SET_PDEATHSIG, SIGTERM);

  char *fargv[] = {argv[0], (char *)"-o",
                   (char *)"fsname=hangfs,subtype=hangfs", NULL};
  struct fuse_args args = FUSE_ARGS_INIT(3, fargv);
  struct fuse_session *se = fuse_session_new(&args, &ops, sizeof ops, NULL);
  if (!se) return 1;
  if (fuse_session_mount(se, mountpoint) != 0) return 1;
  printf("ready\n");
  fflush(stdout);

  int ffd = fuse_session_fd(se);
  struct fuse_buf buf;
  memset(&buf, 0, sizeof buf);
  int running = 1;
  while (running && !fuse_session_exited(se)) {
    struct pollfd p[2] = {{ffd, POLLIN, 0}, {sfd, POLLIN, 0}};
    if (poll(p, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (p[1].revents & POLLIN) {
      struct signalfd_siginfo si;
      if (read(sfd, &si, sizeof si) == (ssize_t)sizeof si) {
        release_held();
        if (si.ssi_signo == SIGUSR2) hang_mode = HANG_NONE;
        else if (si.ssi_signo != SIGUSR1) running = 0;
      }
    }
    if (running && (p[0].revents & (POLLIN | POLLERR | POLLHUP))) {
      int got = fuse_session_receive_buf(se, &buf);
      if (got == -EINTR || got == -EAGAIN) continue;
      if (got <= 0) break;
      fuse_session_process_buf(se, &buf);
    }
  }
  release_held();
  free(buf.mem);
  fuse_session_unmount(se);
  fuse_session_destroy(se);
  return 0;
}
