#include "base/file_sink.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::names_in;
using testing::TempDir;
using testing::write_file;

mode_t permissions(const fs::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

TEST(FileSink, WritesBesideTheTargetAndReplacesItOnlyOnCommit) {
  TempDir dir;
  const fs::path target = dir / "picture.bmp";
  ASSERT_TRUE(write_file(target, "old bytes"));

  FileSink sink;
  ASSERT_TRUE(sink.open(target));
  EXPECT_FALSE(sink.is_direct());
  EXPECT_EQ(sink.temporary().parent_path(), dir.path());
  EXPECT_EQ(sink.temporary().filename().string().rfind(".picture.bmp.", 0), 0u);  // hidden
  ASSERT_TRUE(sink.write("head"));
  ASSERT_TRUE(sink.write_at("XY", 2, 10));  // past the end: the gap reads as zeros
  ASSERT_TRUE(sink.write_at("ea", 2, 1));   // leaves the position alone
  ASSERT_TRUE(sink.write("!"));
  EXPECT_EQ(read_file(target), "old bytes");  // untouched until the commit
  ASSERT_TRUE(sink.commit());
  EXPECT_EQ(read_file(target), std::string("head!\0\0\0\0\0XY", 12));
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"picture.bmp"});

  // A new file gets what a plain create gives, not mkstemp's 0600.
  const mode_t mask = ::umask(022);
  ::umask(mask);
  EXPECT_EQ(permissions(target), 0666u & ~mask);
  ASSERT_TRUE(write_file_atomically(dir / "new.txt", "x"));
  EXPECT_EQ(permissions(dir / "new.txt"), 0666u & ~mask);
  // A replaced file keeps the permissions it had.
  ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
  ASSERT_TRUE(write_file_atomically(target, "private"));
  EXPECT_EQ(permissions(target), 0600u);
}

TEST(FileSink, RollBackAndFailuresLeaveTheOldFile) {
  TempDir dir;
  const fs::path target = dir / "list.tzc";
  ASSERT_TRUE(write_file(target, "earlier list"));
  {
    FileSink sink;
    ASSERT_TRUE(sink.open(target));
    ASSERT_TRUE(sink.write("half of it"));
  }  // dropped without a commit
  {
    FileSink sink;
    ASSERT_TRUE(sink.open(target));
    ASSERT_TRUE(sink.write("half"));
    sink.roll_back();
    EXPECT_FALSE(sink.commit());
  }
  {
    FileSink sink;
    ASSERT_TRUE(sink.open(target));
    sink.fail();  // a writer's own failure: the commit must not rename
    EXPECT_FALSE(sink.write("more"));
    EXPECT_FALSE(sink.commit());
  }
  EXPECT_EQ(read_file(target), "earlier list");
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"list.tzc"});

  // Nowhere to write, or a folder by that name: refused, nothing made.
  FileSink sink;
  EXPECT_FALSE(sink.open(dir / "missing" / "x.txt"));
  fs::create_directory(dir / "folder.txt");
  EXPECT_FALSE(sink.open(dir / "folder.txt"));
  EXPECT_TRUE(fs::is_directory(dir / "folder.txt"));
  // A read-only file stays as it is (root may write anything, as before).
  ASSERT_TRUE(write_file(dir / "kept.jpg", "kept"));
  ASSERT_EQ(::chmod((dir / "kept.jpg").c_str(), 0444), 0);
  if (::geteuid() != 0) {
    EXPECT_FALSE(sink.open(dir / "kept.jpg"));
  }
  EXPECT_EQ(read_file(dir / "kept.jpg"), "kept");
}

// A device is written as it is, never replaced by a file or removed.
TEST(FileSink, DevicesAreWrittenDirectly) {
  FileSink null_sink;
  ASSERT_TRUE(null_sink.open("/dev/null"));
  EXPECT_TRUE(null_sink.is_direct());
  EXPECT_TRUE(null_sink.write("bytes"));
  EXPECT_TRUE(null_sink.commit());
  EXPECT_TRUE(fs::is_character_file("/dev/null"));

  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  FileSink full_sink;
  ASSERT_TRUE(full_sink.open("/dev/full"));
  EXPECT_FALSE(full_sink.write("bytes"));
  EXPECT_FALSE(full_sink.commit());
  EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

// The size limit cuts the write halfway, in a child whose limit ends with it.
TEST(FileSink, SizeLimitFailsTheWriteAndKeepsTheOldFile) {
  TempDir dir;
  const fs::path target = dir / "mosaic.ppm";
  const std::string old(3000, 'o');
  ASSERT_TRUE(write_file(target, old));
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    FileSink sink;
    const bool opened = sink.open(target);
    const bool written = opened && sink.write(std::string(10000, 'n'));
    const bool committed = opened && sink.commit();
    ::_exit(opened && !written && !committed ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(read_file(target), old);
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"mosaic.ppm"});
}

}  // namespace
}  // namespace tess
