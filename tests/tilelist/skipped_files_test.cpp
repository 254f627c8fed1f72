// SPDX-License-Identifier: GPL-3.0-or-later
#include "tilelist/skipped_files.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_support.hpp"

namespace tess {
namespace {

using testing::TempDir;

TEST(SkippedFiles, WhatIsWrittenIsReadBackAndNamesThatCannotBeWrittenAreLeftOut) {
  TempDir dir;
  const std::string file = (dir / "list.tzc.skipped").string();
  const std::vector<SkippedFile> written = {
      {"/photos/a.jpg", {1234, 1'700'000'000'123'456'789}, "Unable to load file\twith a tab\nand a break"},
      {"/photos/line\nbreak.jpg", {10, 20}, "bad"},
      {"/photos/tab\there.jpg", {10, 20}, "bad"},
      {"relative.jpg", {10, 20}, "bad"},
      {"/photos/ümlaut b.png", {0, -5}, ""},
  };
  ASSERT_TRUE(save_skipped_files(file, written));
  const std::string text = testing::read_file(file);
  EXPECT_EQ(text.find("break.jpg"), std::string::npos);
  EXPECT_EQ(text.find("here.jpg"), std::string::npos);
  EXPECT_EQ(text.find("relative.jpg"), std::string::npos);

  SkippedFiles loaded;
  loaded.load(file);
  const std::string* reason = loaded.unchanged("/photos/a.jpg", {1234, 1'700'000'000'123'456'789});
  ASSERT_NE(reason, nullptr);
  EXPECT_EQ(*reason, "Unable to load file with a tab and a break");
  EXPECT_NE(loaded.unchanged("/photos/ümlaut b.png", {0, -5}), nullptr);
  // Either part of the stamp changed: the file is read again.
  EXPECT_EQ(loaded.unchanged("/photos/a.jpg", {1235, 1'700'000'000'123'456'789}), nullptr);
  EXPECT_EQ(loaded.unchanged("/photos/a.jpg", {1234, 1'700'000'000'123'456'790}), nullptr);

  // Nothing left out: the file goes, and a missing file holds nothing.
  ASSERT_TRUE(save_skipped_files(file, {}));
  EXPECT_FALSE(std::filesystem::exists(file));
  loaded.load(file);
  EXPECT_TRUE(loaded.empty());
}

TEST(SkippedFiles, ALineCutShortOrMalformedIsPassedOver) {
  TempDir dir;
  const std::string file = (dir / "list.tzc.skipped").string();
  ASSERT_TRUE(testing::write_file(file, "/a.jpg\t1\t2\tr\n"
                                        "/b.jpg\t1\t2\n"            // a field short
                                        "/c.jpg\t+1\t2\tr\n"        // not as we write numbers
                                        "/d.jpg\t1\t2x\tr\n"
                                        "/e.jpg\t1\t2\tr\tmore\n"   // a field too many
                                        "\t1\t2\tr\n"
                                        "/f.jpg\t1\t2\tr"));        // no line end: cut short
  SkippedFiles loaded;
  loaded.load(file);
  EXPECT_NE(loaded.unchanged("/a.jpg", {1, 2}), nullptr);
  for (const char* path : {"/b.jpg", "/c.jpg", "/d.jpg", "/e.jpg", "", "/f.jpg"})
    EXPECT_EQ(loaded.unchanged(path, {1, 2}), nullptr) << path;
}

}  // namespace
}  // namespace tess
