// Builds a home-like folder tree for the folder breakdown benchmark.
//
//   gentree <dir> [home|deep|big]
//
// <dir> must not exist yet. The tree is the same on every run (a fixed
// pseudo-random sequence). Files are created empty and given their size
// with ftruncate (sparse: apparent size only), which keeps the generation
// fast.
//
// home (the default) lies wholly within the walk's limits: no entry more
// than 9 levels below the root, no folder at level 9, and fewer than
// 120000 entries in all, so a full `du` and the plugin do the same work.
// deep is home plus chains of folders that go 6 levels past the walk's
// depth (about 700 entries more within the limits, 1800 beyond them).
// big is home plus four older copies of the source trees under backup/:
// about 400000 entries, so the walk stops at its entry limit.
//
// Prints a summary line: entries, folders, files, links, deepest level.

#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static uint64_t rng = 0x9e3779b97f4a7c15ull;
static uint32_t rnd(void) {
  rng ^= rng << 13;
  rng ^= rng >> 7;
  rng ^= rng << 17;
  return (uint32_t)(rng >> 16);
}
static uint32_t below(uint32_t n) { return n ? rnd() % n : 0; }

static long n_dirs, n_files, n_links;
static int deepest;

static void die(const char *what, const char *path) {
  fprintf(stderr, "gentree: %s %s: %s\n", what, path, strerror(errno));
  exit(1);
}

static int level_of(const char *root, const char *path) {
  int lv = 0;
  for (const char *p = path + strlen(root); *p; p++) lv += *p == '/';
  return lv;
}

static const char *root_dir;

static int within_limits = 1;  // the home variant: fail past the depth

static void note(const char *path, int is_dir) {
  int lv = level_of(root_dir, path);
  if (within_limits && (lv > 9 || (is_dir && lv > 8))) {
    fprintf(stderr, "gentree: %s is too deep (level %d)\n", path, lv);
    exit(1);
  }
  if (lv > deepest) deepest = lv;
}

static void mkd(const char *path) {
  note(path, 1);
  if (mkdir(path, 0755) != 0) die("mkdir", path);
  n_dirs++;
}

static void mkf(const char *path, uint64_t size) {
  note(path, 0);
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) die("create", path);
  if (size && ftruncate(fd, (off_t)size) != 0) die("truncate", path);
  close(fd);
  n_files++;
}

static void mkl(const char *target, const char *path) {
  note(path, 0);
  if (symlink(target, path) != 0) die("symlink", path);
  n_links++;
}

// A small file size: mostly a few KB, sometimes tens or hundreds of KB.
static uint64_t small_size(void) {
  uint32_t r = below(100);
  if (r < 70) return 64 + below(4096);
  if (r < 95) return 4096 + below(60000);
  return 65536 + below(900000);
}

static void hexname(char *buf, int len) {
  static const char hx[] = "0123456789abcdef";
  for (int i = 0; i < len; i++) buf[i] = hx[below(16)];
  buf[len] = '\0';
}

static const char *js_names[] = {
    "index.js",  "index.d.ts", "package.json", "README.md", "LICENSE",
    "CHANGELOG.md", "util.js", "parse.js", "types.d.ts", "main.js",
    "browser.js", "cli.js", "constants.js", "errors.js", "helpers.js",
};
enum { N_JS = sizeof js_names / sizeof js_names[0] };

// A package folder: files, lib/ with files and lib/internal/ with files.
// Levels used below pkg: 2.
static void package(const char *pkg, int nfiles) {
  char p[4096], q[4096];
  mkd(pkg);
  for (int i = 0; i < nfiles && i < N_JS; i++) {
    snprintf(p, sizeof p, "%s/%s", pkg, js_names[i]);
    mkf(p, small_size());
  }
  snprintf(p, sizeof p, "%s/lib", pkg);
  mkd(p);
  int nl = 3 + (int)below(12);
  for (int i = 0; i < nl; i++) {
    snprintf(q, sizeof q, "%s/mod%02d.js", p, i);
    mkf(q, small_size());
  }
  if (below(3) == 0) {
    snprintf(q, sizeof q, "%s/internal", p);
    mkd(q);
    int ni = 2 + (int)below(8);
    for (int i = 0; i < ni; i++) {
      char r[4096];
      snprintf(r, sizeof r, "%s/part%02d.js", q, i);
      mkf(r, small_size());
    }
  }
}

// A node_modules folder with npkg packages, a .bin folder of links and,
// when nested is set, a few packages that carry their own node_modules.
static void node_modules(const char *nm, int npkg, int nested) {
  char p[4096], q[4096];
  mkd(nm);
  snprintf(p, sizeof p, "%s/.bin", nm);
  mkd(p);
  for (int i = 0; i < npkg; i++) {
    snprintf(p, sizeof p, "%s/pkg-%04d", nm, i);
    package(p, 3 + (int)below(N_JS - 3));
    if (i < 4) {
      char target[256], link[4096];
      snprintf(target, sizeof target, "../pkg-%04d/cli.js", i);
      snprintf(link, sizeof link, "%s/.bin/tool%d", nm, i);
      mkl(target, link);
    }
    if (nested && i % 25 == 0) {
      snprintf(q, sizeof q, "%s/node_modules", p);
      node_modules(q, 4, 0);
    }
  }
  // A scoped group, @scope/<pkg>, in top-level node_modules only.
  if (!nested) return;
  snprintf(p, sizeof p, "%s/@scope", nm);
  mkd(p);
  for (int i = 0; i < 12; i++) {
    snprintf(q, sizeof q, "%s/sub-%02d", p, i);
    package(q, 6);
  }
}

// A source tree: src/<mod>/<sub>/files and a .git object store.
static void project(const char *dir, int npkg) {
  char p[4096], q[4096], r[4096];
  mkd(dir);
  snprintf(p, sizeof p, "%s/package.json", dir);
  mkf(p, 900 + below(2000));
  snprintf(p, sizeof p, "%s/README.md", dir);
  mkf(p, 2000 + below(8000));
  snprintf(p, sizeof p, "%s/src", dir);
  mkd(p);
  for (int m = 0; m < 20; m++) {
    snprintf(q, sizeof q, "%s/mod%02d", p, m);
    mkd(q);
    for (int s = 0; s < 4; s++) {
      snprintf(r, sizeof r, "%s/sub%d", q, s);
      mkd(r);
      for (int f = 0; f < 8; f++) {
        char t[4096];
        snprintf(t, sizeof t, "%s/file%02d.ts", r, f);
        mkf(t, small_size());
      }
    }
  }
  snprintf(p, sizeof p, "%s/.git", dir);
  mkd(p);
  snprintf(q, sizeof q, "%s/HEAD", p);
  mkf(q, 23);
  snprintf(q, sizeof q, "%s/objects", p);
  mkd(q);
  for (int b = 0; b < 256; b += 2) {
    snprintf(r, sizeof r, "%s/%02x", q, b);
    mkd(r);
    int n = 4 + (int)below(10);
    for (int i = 0; i < n; i++) {
      char h[64], t[4096];
      hexname(h, 38);
      snprintf(t, sizeof t, "%s/%s", r, h);
      mkf(t, small_size());
    }
  }
  snprintf(p, sizeof p, "%s/node_modules", dir);
  node_modules(p, npkg, 1);
}

int main(int argc, char **argv) {
  const char *variant = argc == 3 ? argv[2] : "home";
  if (argc < 2 || argc > 3 || (strcmp(variant, "home") && strcmp(variant, "deep") &&
                               strcmp(variant, "big"))) {
    fprintf(stderr, "usage: gentree <dir> [home|deep|big]\n");
    return 2;
  }
  within_limits = strcmp(variant, "home") == 0;
  const char *root = argv[1];
  root_dir = root;
  char p[4096], q[4096], r[4096];
  mkd(root);
  deepest = 0;

  // Dot files and a few large sparse files at the top.
  static const char *dots[] = {".bashrc", ".profile", ".bash_history",
                               ".gitconfig", ".viminfo", ".lesshst"};
  for (size_t i = 0; i < sizeof dots / sizeof dots[0]; i++) {
    snprintf(p, sizeof p, "%s/%s", root, dots[i]);
    mkf(p, 200 + below(20000));
  }
  snprintf(p, sizeof p, "%s/disk.img", root);
  mkf(p, 8ull << 30);
  snprintf(p, sizeof p, "%s/notes.txt", root);
  mkf(p, 4321);

  // Source trees with node_modules.
  snprintf(p, sizeof p, "%s/code", root);
  mkd(p);
  static const int npkgs[] = {800, 650, 520, 420, 260, 120};
  for (int i = 0; i < 6; i++) {
    snprintf(q, sizeof q, "%s/proj%d", p, i);
    project(q, npkgs[i]);
  }
  // A link to another project: not followed.
  snprintf(q, sizeof q, "%s/proj1/sibling", p);
  mkl("../proj0", q);

  // .cache: a hashed store that goes 9 levels deep, and a wide folder.
  snprintf(p, sizeof p, "%s/.cache", root);
  mkd(p);
  snprintf(q, sizeof q, "%s/pip", p);
  mkd(q);
  snprintf(q, sizeof q, "%s/pip/http", p);
  mkd(q);
  for (int a = 0; a < 4; a++) {
    snprintf(r, sizeof r, "%s/%x", q, a);
    mkd(r);
    for (int b = 0; b < 4; b++) {
      char s[4096];
      snprintf(s, sizeof s, "%s/%x", r, b);
      mkd(s);
      for (int c = 0; c < 4; c++) {
        char t[4096];
        snprintf(t, sizeof t, "%s/%x", s, c);
        mkd(t);
        for (int d = 0; d < 3; d++) {
          char u[4096];
          snprintf(u, sizeof u, "%s/%x", t, d);
          mkd(u);  // level 7
          for (int e = 0; e < 2; e++) {
            char v[4096];
            snprintf(v, sizeof v, "%s/%x", u, e);
            mkd(v);  // level 8
            int n = 6 + (int)below(10);
            for (int i = 0; i < n; i++) {
              char h[64], w[4096];
              hexname(h, 40);
              snprintf(w, sizeof w, "%s/%s", v, h);
              mkf(w, small_size());  // level 9
            }
          }
        }
      }
    }
  }
  snprintf(q, sizeof q, "%s/browser", p);
  mkd(q);
  snprintf(q, sizeof q, "%s/browser/cache2", p);
  mkd(q);
  snprintf(q, sizeof q, "%s/browser/cache2/entries", p);
  mkd(q);
  for (int i = 0; i < 9000; i++) {
    char h[64];
    hexname(h, 40);
    snprintf(r, sizeof r, "%s/%s", q, h);
    mkf(r, small_size());
  }
  snprintf(q, sizeof q, "%s/latest", p);
  mkl("pip", q);
  snprintf(q, sizeof q, "%s/dangling", p);
  mkl("no/such/target", q);

  // .local/share with an npm-like cache of many small folders.
  snprintf(p, sizeof p, "%s/.local", root);
  mkd(p);
  snprintf(p, sizeof p, "%s/.local/share", root);
  mkd(p);
  snprintf(q, sizeof q, "%s/npm-cache", p);
  node_modules(q, 600, 0);

  // Deep chains: folders down to level 8, files at level 9.
  snprintf(p, sizeof p, "%s/deep", root);
  mkd(p);
  for (int k = 0; k < 40; k++) {
    char cur[4096];
    snprintf(cur, sizeof cur, "%s/chain%02d", p, k);
    mkd(cur);  // level 2
    for (int lv = 3; lv <= 8; lv++) {
      size_t len = strlen(cur);
      snprintf(cur + len, sizeof cur - len, "/d%d", lv);
      mkd(cur);
      snprintf(r, sizeof r, "%s/f%d.bin", cur, lv);
      mkf(r, small_size());
    }
    for (int i = 0; i < 5; i++) {
      snprintf(r, sizeof r, "%s/leaf%d.dat", cur, i);
      mkf(r, small_size());  // level 9
    }
  }

  // Documents, pictures, downloads: fewer, larger files, some sparse GiB.
  static const char *media[] = {"Documents", "Pictures", "Downloads", "Videos",
                                "Music"};
  for (int m = 0; m < 5; m++) {
    snprintf(p, sizeof p, "%s/%s", root, media[m]);
    mkd(p);
    for (int y = 0; y < 6; y++) {
      snprintf(q, sizeof q, "%s/%d", p, 2019 + y);
      mkd(q);
      int n = 60 + (int)below(120);
      for (int i = 0; i < n; i++) {
        snprintf(r, sizeof r, "%s/item-%04d.dat", q, i);
        uint64_t sz = below(20) == 0 ? (uint64_t)(1 + below(4)) << 30
                                     : 100000 + below(8000000);
        mkf(r, sz);
      }
    }
  }

  // Empty folders and a top-level folder of only small files.
  snprintf(p, sizeof p, "%s/Desktop", root);
  mkd(p);
  snprintf(p, sizeof p, "%s/Templates", root);
  mkd(p);
  snprintf(p, sizeof p, "%s/.config", root);
  mkd(p);
  for (int a = 0; a < 40; a++) {
    snprintf(q, sizeof q, "%s/app%02d", p, a);
    mkd(q);
    for (int i = 0; i < 12; i++) {
      snprintf(r, sizeof r, "%s/settings%02d.json", q, i);
      mkf(r, small_size());
    }
  }

  if (strcmp(variant, "deep") == 0) {
    // Chains of folders from level 2 down to level 14, a folder beside
    // each link of the chain and four files in each folder.
    snprintf(p, sizeof p, "%s/.cache/deeper", root);
    mkd(p);
    for (int k = 0; k < 24; k++) {
      char cur[4096];
      snprintf(cur, sizeof cur, "%s/c%02d", p, k);
      for (int lv = 2; lv <= 14; lv++) {
        if (lv > 2) {
          size_t len = strlen(cur);
          snprintf(cur + len, sizeof cur - len, "/n%d", lv);
        }
        mkd(cur);
        snprintf(r, sizeof r, "%s/side", cur);
        mkd(r);
        for (int i = 0; i < 4; i++) {
          snprintf(r, sizeof r, "%s/x%d.bin", cur, i);
          mkf(r, small_size());
        }
      }
    }
  }
  if (strcmp(variant, "big") == 0) {
    snprintf(p, sizeof p, "%s/backup", root);
    mkd(p);
    for (int y = 0; y < 4; y++) {
      snprintf(q, sizeof q, "%s/y%d", p, 2019 + y);
      mkd(q);
      for (int i = 0; i < 6; i++) {
        snprintf(r, sizeof r, "%s/proj%d", q, i);
        project(r, npkgs[i]);
      }
    }
  }

  // Entries below the root but the links; the walk counts them all when
  // the tree is within its limits.
  long counted = n_dirs - 1 + n_files;
  printf("entries %ld folders %ld files %ld links %ld deepest %d\n", counted,
         n_dirs - 1, n_files, n_links, deepest);
  if (within_limits && counted >= 120000) {
    fprintf(stderr, "gentree: %ld entries is over the walk's limit\n",
            counted);
    return 1;
  }
  return 0;
}
