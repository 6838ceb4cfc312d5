// The smallest walk that does the folder breakdown's work, as a floor to
// measure the plugin against.
//
//   refwalk <dir>
//
// For every entry directly inside <dir> (links passed over) prints its
// name, a tab and its size: a file's apparent size, or for a folder the
// total of the apparent file sizes beneath it, opening folders down to 8
// levels below <dir> and never following a link. Only openat, fdopendir,
// readdir and fstatat (for regular files and unknown types) are used.

#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

enum { MAX_DEPTH = 8 };

// Size of entry e of the folder open as dfd, and whether it is a folder.
// Returns 0 for an entry to pass over.
static int classify(int dfd, const struct dirent *e, uint64_t *size,
                    int *is_dir) {
  const char *n = e->d_name;
  if (n[0] == '.' && (!n[1] || (n[1] == '.' && !n[2]))) return 0;
  *size = 0;
  *is_dir = 0;
  switch (e->d_type) {
    case DT_DIR: *is_dir = 1; return 1;
    case DT_LNK: return 0;
    case DT_REG: case DT_UNKNOWN: break;
    default: return 1;
  }
  struct stat st;
  if (fstatat(dfd, n, &st, AT_SYMLINK_NOFOLLOW) != 0) return 1;
  if (S_ISLNK(st.st_mode)) return 0;
  if (S_ISDIR(st.st_mode)) *is_dir = 1;
  else if (S_ISREG(st.st_mode)) *size = (uint64_t)st.st_size;
  return 1;
}

static uint64_t walk(int pfd, const char *name, int depth) {
  if (depth > MAX_DEPTH) return 0;
  int fd = openat(pfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return 0;
  DIR *d = fdopendir(fd);
  if (!d) {
    close(fd);
    return 0;
  }
  uint64_t sum = 0, size;
  int is_dir;
  struct dirent *e;
  while ((e = readdir(d))) {
    if (!classify(fd, e, &size, &is_dir)) continue;
    sum += is_dir ? walk(fd, e->d_name, depth + 1) : size;
  }
  closedir(d);
  return sum;
}

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: refwalk <dir>\n");
    return 2;
  }
  int fd = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR *d = fd < 0 ? NULL : fdopendir(fd);
  if (!d) {
    perror(argv[1]);
    return 1;
  }
  uint64_t size;
  int is_dir;
  struct dirent *e;
  while ((e = readdir(d))) {
    if (!classify(fd, e, &size, &is_dir)) continue;
    if (is_dir) size = walk(fd, e->d_name, 1);
    printf("%s\t%llu\n", e->d_name, (unsigned long long)size);
  }
  closedir(d);
  return 0;
}
