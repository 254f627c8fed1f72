#include "tilelist/list_scan.hpp"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::write_file;

std::vector<std::string> paths(const TileImageList& list) {
  std::vector<std::string> out;
  for (const auto& [path, entry] : list.entries()) out.emplace_back(path);
  return out;
}

std::string folder(const fs::path& path) { return path.string() + "/"; }

TEST(ExtensionAccepted, PicturesAndClipsByTheirKindsList) {
  EXPECT_TRUE(extension_accepted("/pics/a.Jpe", FolderKind::include));
  EXPECT_TRUE(extension_accepted("/pics/a.jpeg", FolderKind::required));
  EXPECT_TRUE(extension_accepted("/pics/a.b.PNG", FolderKind::exclude));
  EXPECT_FALSE(extension_accepted("/pics/a.jp", FolderKind::include));
  EXPECT_FALSE(extension_accepted("/pics/README", FolderKind::include));
  EXPECT_FALSE(extension_accepted("/pics/a.", FolderKind::include));
  // The dot belongs to a folder name, not to the file.
  EXPECT_FALSE(extension_accepted("/pics/x.jpg/noext", FolderKind::include));
  // "|" inside the name must not match across two extensions of the list.
  EXPECT_FALSE(extension_accepted("/pics/a.JPG|PNG", FolderKind::include));

  EXPECT_TRUE(extension_accepted("/clips/a.Avi", FolderKind::video));
  EXPECT_TRUE(extension_accepted("/clips/a.mpg", FolderKind::video));
  EXPECT_FALSE(extension_accepted("/clips/a.jpg", FolderKind::video));
  EXPECT_FALSE(extension_accepted("/clips/a.avi", FolderKind::include));
}

TEST(FolderScan, TakesRegularPicturesOfTheWholeTreeOnly) {
  TempDir dir;
  fs::create_directories(dir / "pics/sub/deeper");
  write_file(dir / "pics/a.jpg", "x");
  write_file(dir / "pics/b.Jpe", "x");
  write_file(dir / "pics/c.jp", "x");
  write_file(dir / "pics/noext", "x");
  write_file(dir / "pics/sub/d.png", "x");
  write_file(dir / "pics/sub/deeper/e.JPEG", "x");
  fs::create_directories(dir / "pics/folder.jpg");  // a folder is never a picture
  // A pipe named like a picture must never be opened.
  ASSERT_EQ(::mkfifo((dir / "pics/pipe.jpg").c_str(), 0600), 0);
  // Links: to a picture (taken), dangling (skipped), back up the tree (a loop).
  write_file(dir / "outside.png", "x");
  fs::create_symlink(dir / "outside.png", dir / "pics/link.png");
  fs::create_symlink(dir / "nowhere.jpg", dir / "pics/dangling.jpg");
  fs::create_directory_symlink(dir / "pics", dir / "pics/sub/loop");

  TileImageList list;
  scan_folder_item(list, folder(dir / "pics"), FolderKind::include);
  const std::string base = folder(dir / "pics");
  std::vector<std::string> expected = {base + "a.jpg", base + "b.Jpe", base + "link.png", base + "sub/d.png",
                                       base + "sub/deeper/e.JPEG"};
  std::sort(expected.begin(), expected.end());
  // The loop was not followed back into pics/: each file is found once, by its
  // shortest path.
  EXPECT_EQ(paths(list), expected);
  for (const auto& [path, entry] : list.entries()) {
    EXPECT_EQ(entry.usable, 1) << path;
    EXPECT_EQ(entry.required, 0) << path;
    EXPECT_EQ(entry.rate_code, 0) << path;
    EXPECT_EQ(entry.file_size, kNewEntryFileSize) << path;
  }
}

TEST(FolderScan, ItemsThatAreFilesOrMissingOrNamedWithoutTheSlash) {
  TempDir dir;
  fs::create_directories(dir / "pics");
  write_file(dir / "pics/one.jpg", "x");
  write_file(dir / "pics/two.jpg", "x");
  write_file(dir / "pics/note.txt", "x");

  TileImageList list;
  EXPECT_EQ(scan_folder_item(list, (dir / "pics/one.jpg").string(), FolderKind::include), 1);
  EXPECT_EQ(paths(list), std::vector<std::string>{(dir / "pics/one.jpg").string()});
  // A single file of a kind that does not take it, and items naming nothing.
  EXPECT_EQ(scan_folder_item(list, (dir / "pics/note.txt").string(), FolderKind::include), 0);
  EXPECT_EQ(scan_folder_item(list, (dir / "pics/one.jpg").string(), FolderKind::video), 0);
  EXPECT_EQ(scan_folder_item(list, folder(dir / "gone"), FolderKind::include), 0);
  EXPECT_EQ(scan_folder_item(list, "", FolderKind::include), 0);
  EXPECT_EQ(list.entry_count(), 1u);
  // A folder typed without its trailing "/" is still scanned as a folder.
  EXPECT_EQ(scan_folder_item(list, (dir / "pics").string(), FolderKind::include), 2);
  EXPECT_NE(list.find((dir / "pics/two.jpg").string()), nullptr);
}

TEST(BuildEntries, ExcludeWinsRequiredMarksAndVanishedEntriesGo) {
  TempDir dir;
  fs::create_directories(dir / "pics/private");
  fs::create_directories(dir / "must");
  fs::create_directories(dir / "clips");
  write_file(dir / "pics/a.jpg", "x");
  write_file(dir / "pics/b.jpg", "x");
  write_file(dir / "pics/private/secret.jpg", "x");
  write_file(dir / "pics/private/also.png", "x");
  write_file(dir / "must/m.jpg", "x");
  write_file(dir / "clips/c.avi", "x");
  write_file(dir / "clips/still.jpg", "x");

  TileImageList list;
  list.add_item(FolderKind::include, (dir / "pics").string(), true);
  list.add_item(FolderKind::include, (dir / "must").string(), true);
  list.add_item(FolderKind::required, (dir / "must/m.jpg").string(), false);
  list.add_item(FolderKind::required, (dir / "pics/private/also.png").string(), false);
  list.add_item(FolderKind::exclude, (dir / "pics/private").string(), true);
  list.add_item(FolderKind::exclude, (dir / "pics/b.jpg").string(), false);
  list.add_item(FolderKind::video, (dir / "clips").string(), true);
  EXPECT_EQ(list.folders(FolderKind::include).count(folder(dir / "pics")), 1u);

  // An entry from an earlier analysis whose file has gone since.
  FotoInfo vanished((dir / "pics/old.jpg").string());
  vanished.usable = 1;
  list.insert(vanished);
  // An entry found again keeps what the analysis stored.
  FotoInfo kept((dir / "pics/a.jpg").string());
  kept.file_size = 1;
  kept.required = 1;  // cleared: nothing Required names it now
  kept.signature.samples[0] = make_pixel(1, 2, 3);
  list.insert(kept);

  build_entries(list);
  std::vector<std::string> expected = {(dir / "clips/c.avi").string(), (dir / "must/m.jpg").string(),
                                       (dir / "pics/a.jpg").string()};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(paths(list), expected);

  const FotoInfo* a = list.find((dir / "pics/a.jpg").string());
  EXPECT_EQ(a->file_size, 1);
  EXPECT_EQ(a->signature.samples[0], make_pixel(1, 2, 3));
  EXPECT_EQ(a->required, 0);
  // Found through Include and Required: one entry, required.
  EXPECT_EQ(list.find((dir / "must/m.jpg").string())->required, 1);
  // Clips are found only by their own kind, as clips not yet opened.
  EXPECT_EQ(list.find((dir / "clips/c.avi").string())->rate_code, kUnknownRateCode);
  // Excluded and vanished entries go to the unusable paths.
  std::vector<std::string> unusable = {(dir / "pics/b.jpg").string(), (dir / "pics/old.jpg").string(),
                                       (dir / "pics/private/also.png").string(),
                                       (dir / "pics/private/secret.jpg").string()};
  std::sort(unusable.begin(), unusable.end());
  EXPECT_EQ(list.unusable_paths(), unusable);
}

}  // namespace
}  // namespace tess
