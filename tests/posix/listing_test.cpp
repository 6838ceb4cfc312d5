// The Linux backend's folder listing against a real file system.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <set>
#include <string>

#include "storage/storage.h"

namespace {

const long EXT_MAGIC = 0xEF53;

void make_file(const std::string &path, size_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  std::string bytes(size, 'x');
  ASSERT_EQ((ssize_t)size, write(fd, bytes.data(), size));
  close(fd);
}

std::string name_of(const char *stem, int i) {
  char buf[32];
  snprintf(buf, sizeof buf, "%s-%04d", stem, i);
  return buf;
}

// A one-block ext4 folder is read in one batch when it is looked at while
// it still fits its block. One that grows past its block before its first
// batch is read (ext4 then indexes it) fills the buffer: that batch is no
// end, and every name still comes.
TEST(Listing, AOneBlockFolderThatGrowsBeforeItIsReadGivesEveryName) {
  char tmpl[] = "listing-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(tmpl));
  std::string dir = tmpl;
  struct statfs fs;
  ASSERT_EQ(0, statfs(dir.c_str(), &fs));
  if ((long)fs.f_type != EXT_MAGIC) {
    rmdir(dir.c_str());
    GTEST_SKIP() << "skipped: the build folder is not on ext2/3/4 (f_type 0x"
                 << std::hex << fs.f_type << ")";
  }
  std::set<std::string> want;
  uint64_t want_bytes = 0;
  for (int i = 0; i < 100; i++) {
    make_file(dir + "/" + name_of("old", i), (size_t)i + 1);
    want.insert(name_of("old", i));
    want_bytes += (uint64_t)i + 1;
  }
  dir_iter it;
  ASSERT_EQ(BELOW_OK, storage_dir_open_root(&it, dir.c_str()));
  dir_item self;
  ASSERT_EQ(1, storage_dir_self(&it, &self));  // looked at as one block
  for (int i = 0; i < 1500; i++) {
    make_file(dir + "/" + name_of("new", i), 0);
    want.insert(name_of("new", i));
  }
  std::set<std::string> seen;
  uint64_t bytes = 0;
  static dir_item item;
  while (storage_dir_next(&it, &item)) {
    std::string n = item.name;
    if (n == "." || n == "..") continue;
    EXPECT_TRUE(seen.insert(n).second) << n << " twice";
    bytes += item.size;
  }
  EXPECT_EQ(0, it.failed);
  storage_dir_close(&it);
  EXPECT_EQ(want.size(), seen.size());
  EXPECT_EQ(want, seen);
  EXPECT_EQ(want_bytes, bytes);
  for (const std::string &n : want) unlink((dir + "/" + n).c_str());
  rmdir(dir.c_str());
}

// The same folder left as it is: every name, in the one batch.
TEST(Listing, AOneBlockFolderGivesEveryName) {
  char tmpl[] = "listing-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(tmpl));
  std::string dir = tmpl;
  std::set<std::string> want;
  for (int i = 0; i < 20; i++) {
    make_file(dir + "/" + name_of("f", i), 1);
    want.insert(name_of("f", i));
  }
  dir_iter it;
  ASSERT_EQ(BELOW_OK, storage_dir_open_root(&it, dir.c_str()));
  dir_item self;
  ASSERT_EQ(1, storage_dir_self(&it, &self));
  std::set<std::string> seen;
  static dir_item item;
  while (storage_dir_next(&it, &item))
    if (std::string(item.name) != "." && std::string(item.name) != "..")
      seen.insert(item.name);
  storage_dir_close(&it);
  EXPECT_EQ(want, seen);
  for (const std::string &n : want) unlink((dir + "/" + n).c_str());
  rmdir(dir.c_str());
}

}  // namespace
