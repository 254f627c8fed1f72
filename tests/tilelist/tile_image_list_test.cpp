#include "tilelist/tile_image_list.hpp"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tess {
namespace {

FotoInfo entry(const std::string& path, bool portrait = false, std::uint16_t rate_code = 0) {
  FotoInfo e(path);
  e.signature.portrait = portrait ? 1 : 0;
  e.rate_code = rate_code;
  return e;
}

std::vector<int> groups(const TileImageList& list) {
  std::vector<int> out;
  for (const auto& [path, e] : list.entries()) out.push_back(e.variant_group);
  return out;
}

TEST(TileImageList, EntriesAreUniqueByPathAndKeptInByteOrder) {
  TileImageList list;
  EXPECT_TRUE(list.insert(entry("/b/x.jpg")));
  EXPECT_TRUE(list.insert(entry("/a/Z.jpg")));
  EXPECT_TRUE(list.insert(entry("/a/z.jpg")));
  FotoInfo duplicate = entry("/a/z.jpg", true);
  EXPECT_FALSE(list.insert(duplicate));
  EXPECT_FALSE(list.find("/a/z.jpg")->is_portrait());  // the first one stays
  std::vector<std::string> order;
  for (const auto& [path, e] : list.entries()) order.emplace_back(path);
  EXPECT_EQ(order, (std::vector<std::string>{"/a/Z.jpg", "/a/z.jpg", "/b/x.jpg"}));
  EXPECT_TRUE(list.erase("/a/Z.jpg"));
  EXPECT_FALSE(list.erase("/a/Z.jpg"));
  EXPECT_EQ(list.find("/a/Z.jpg"), nullptr);
}

/// Every key must view its own entry's path: a key left viewing a copied-from
/// or moved-from entry dangles once that one goes.
void expect_keys_own_paths(const TileImageList& list, std::size_t count) {
  ASSERT_EQ(list.entry_count(), count);
  for (const auto& [path, e] : list.entries()) {
    EXPECT_EQ(path, e.path);
    EXPECT_EQ(static_cast<const void*>(path.data()), static_cast<const void*>(e.path.data())) << e.path;
  }
}

TEST(TileImageList, KeysFollowTheirEntriesThroughInsertsCopiesAndMoves) {
  // Short paths live inside the string itself, long ones on the heap.
  const std::vector<std::string> paths = {"/s.jpg", "/a/" + std::string(100, 'x') + ".jpg", "/b.jpg",
                                          "/a/" + std::string(100, 'y') + ".jpg"};
  auto original = std::make_unique<TileImageList>();
  for (const auto& path : paths) ASSERT_TRUE(original->insert(entry(path)));
  expect_keys_own_paths(*original, paths.size());

  TileImageList copied(*original);
  TileImageList assigned;
  assigned.insert(entry("/old.jpg"));
  assigned = *original;
  original.reset();
  expect_keys_own_paths(copied, paths.size());
  expect_keys_own_paths(assigned, paths.size());
  for (const auto& path : paths) EXPECT_NE(assigned.find(path), nullptr) << path;
  EXPECT_EQ(assigned.find("/old.jpg"), nullptr);

  TileImageList moved(std::move(copied));
  expect_keys_own_paths(moved, paths.size());
  EXPECT_TRUE(moved.insert(entry("/c.jpg")));
  EXPECT_FALSE(moved.insert(entry("/b.jpg")));
  EXPECT_FALSE(moved.insert(entry("/s.jpg")));  // the last one, where in-order inserts go
  expect_keys_own_paths(moved, paths.size() + 1);
}

TEST(TileImageList, DefaultGroupingNumbersVideoFramesAndCounts) {
  TileImageList list;
  list.insert(entry("/v/Frames002/b.jpg"));
  list.insert(entry("/v/FRAMES001/a.jpg", true));
  list.insert(entry("/p/landscape.jpg"));
  list.insert(entry("/p/portrait.jpg", true));
  list.insert(entry("/c/clip.avi", true, 12500));
  list.insert(entry("/c/wide.avi", false, 1));
  list.group_variants(kGroupingFrameNumbers);
  // Path order: /c/clip, /c/wide, /p/landscape, /p/portrait, /v/FRAMES001, /v/Frames002.
  EXPECT_EQ(groups(list), (std::vector<int>{0, 0, 0, 0, 1, 2}));
  EXPECT_EQ(list.group_count(), 0);
  EXPECT_EQ(list.landscape_images(), 2);
  EXPECT_EQ(list.portrait_images(), 2);
  EXPECT_EQ(list.landscape_clips(), 1);
  EXPECT_EQ(list.portrait_clips(), 1);
  EXPECT_EQ(list.portrait_entries(), 3);

  // Removing an entry regroups on the next request even in the same mode.
  list.erase("/v/FRAMES001/a.jpg");
  list.group_variants(kGroupingFrameNumbers);
  EXPECT_EQ(groups(list), (std::vector<int>{0, 0, 0, 0, 1}));
  EXPECT_EQ(list.portrait_entries(), 2);
}

TEST(TileImageList, VariantGroupingByNameAndByFolder) {
  TileImageList list;
  list.insert(entry("/a/sun___1.jpg"));
  list.insert(entry("/a/sun___2.jpg"));
  list.insert(entry("/a/tree.jpg"));
  list.insert(entry("/b/sun___1.jpg"));
  list.group_variants(kGroupingCustomVariants);
  EXPECT_EQ(groups(list), (std::vector<int>{2, 2, 3, 4}));
  EXPECT_EQ(list.group_count(), 3);
  list.group_variants(kGroupingFolderVariants);
  EXPECT_EQ(groups(list), (std::vector<int>{2, 2, 2, 3}));
  EXPECT_EQ(list.group_count(), 2);
}

TEST(TileImageList, ClearEmptiesEntriesFoldersAndCounts) {
  TileImageList list;
  EXPECT_TRUE(list.add_folder(FolderKind::include, "/a/"));
  EXPECT_FALSE(list.add_folder(FolderKind::include, "/a/"));
  list.add_folder(FolderKind::video, "/v/");
  list.insert(entry("/a/x.jpg"));
  list.group_variants(kGroupingFrameNumbers);
  list.clear();
  EXPECT_EQ(list.entry_count(), 0u);
  EXPECT_TRUE(list.folders(FolderKind::include).empty());
  EXPECT_TRUE(list.folders(FolderKind::video).empty());
  EXPECT_EQ(list.landscape_images(), 0);
}

}  // namespace
}  // namespace tess
