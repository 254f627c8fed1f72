#include "tilelist/list_file.hpp"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/scripted_prompt.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

using testing::read_file;
using testing::TempDir;
using testing::write_file;

const char* const kDifferentVersion = "This file was created using a different version of Tessellarium";

/// Builds list files byte by byte, little-endian, the way the format says.
class Bytes {
 public:
  Bytes& u8(std::uint8_t v) {
    m_data.push_back(static_cast<char>(v));
    return *this;
  }
  Bytes& u16(std::uint16_t v) { return u8(static_cast<std::uint8_t>(v)).u8(static_cast<std::uint8_t>(v >> 8)); }
  Bytes& u32(std::uint32_t v) { return u16(static_cast<std::uint16_t>(v)).u16(static_cast<std::uint16_t>(v >> 16)); }
  Bytes& i16(std::int16_t v) { return u16(static_cast<std::uint16_t>(v)); }
  Bytes& i32(std::int32_t v) { return u32(static_cast<std::uint32_t>(v)); }
  Bytes& i64(std::int64_t v) {
    const auto raw = static_cast<std::uint64_t>(v);
    return u32(static_cast<std::uint32_t>(raw)).u32(static_cast<std::uint32_t>(raw >> 32));
  }
  Bytes& raw(const std::string& bytes) {
    m_data += bytes;
    return *this;
  }
  /// A string with the shortest length prefix.
  Bytes& str(const std::string& text) {
    if (text.size() < 255)
      u8(static_cast<std::uint8_t>(text.size()));
    else if (text.size() < 0xFFFE)
      u8(0xFF).u16(static_cast<std::uint16_t>(text.size()));
    else
      u8(0xFF).u16(0xFFFF).u32(static_cast<std::uint32_t>(text.size()));
    return raw(text);
  }
  Bytes& words(const std::vector<std::uint32_t>& values) {
    for (const auto v : values) u32(v);
    return *this;
  }
  /// Header up to the grid.
  Bytes& head(std::int32_t version) { return i32(version).i32(12).i32(9); }
  const std::string& data() const { return m_data; }

 private:
  std::string m_data;
};

std::vector<std::uint32_t> fine_samples(std::uint32_t colour) { return std::vector<std::uint32_t>(108, colour); }

/// A whole signature: the colour at every level.
std::vector<std::uint32_t> all_samples(std::uint32_t colour) { return std::vector<std::uint32_t>(121, colour); }

constexpr std::uint32_t kColour = make_pixel(10, 20, 30);
constexpr std::uint32_t kOther = make_pixel(200, 100, 50);

struct Loaded {
  bool ok = false;
  ListLoadResult result = ListLoadResult::loaded;
  std::vector<std::string> messages;
};

Loaded load(TileImageList& list, const std::filesystem::path& file) {
  ScriptedPrompt prompt;
  Loaded out;
  out.ok = load_list_file(list, file, &out.result).ok_or_show(prompt);
  out.messages = prompt.messages();
  return out;
}

void expect_empty(const TileImageList& list) {
  EXPECT_EQ(list.entry_count(), 0u);
  for (int k = 0; k < kFolderKindCount; ++k) EXPECT_TRUE(list.folders(static_cast<FolderKind>(k)).empty()) << k;
  EXPECT_FALSE(list.black_and_white());
}

FotoInfo make_entry(const std::string& path, std::uint32_t colour, bool portrait = false) {
  FotoInfo e(path);
  e.signature.samples.fill(colour);
  e.signature.portrait = portrait ? 1 : 0;
  e.signature.opaque = 1;
  e.modification_time = 1700000000;
  e.file_size = 12345;
  return e;
}

/// A version-119 list of two entries, one of them a clip, with all four folder sets.
TileImageList sample_list() {
  TileImageList list;
  list.add_folder(FolderKind::include, "/pics/");
  list.add_folder(FolderKind::include, "/more/one.jpg");
  list.add_folder(FolderKind::exclude, "/pics/bad/");
  list.add_folder(FolderKind::required, "/must/");
  list.add_folder(FolderKind::video, "/clips/");
  list.set_black_and_white(true);
  FotoInfo a = make_entry("/pics/a.jpg", kColour);
  a.required = 1;
  list.insert(a);
  FotoInfo clip = make_entry("/clips/c.avi", kOther, true);
  clip.frame_count = 250;
  clip.rate_code = 12500;
  list.insert(clip);
  return list;
}

TEST(ListFileSave, EmptyListIsHeaderFourEmptySetsAndNoEntries) {
  TempDir dir;
  const auto file = dir / "empty.tzc";
  TileImageList list;
  list.set_version(115);
  list.set_changed(true);
  ASSERT_TRUE(save_list_file(list, file));
  EXPECT_EQ(read_file(file), Bytes().head(119).u8(0).str(file.string()).i32(0).i32(0).i32(0).i32(0).i32(0).data());
  EXPECT_EQ(list.version(), 119);
  EXPECT_FALSE(list.changed());
  EXPECT_EQ(list.path(), file.string());
}

TEST(ListFileSave, EntriesAreWrittenByteExactInPathOrder) {
  TempDir dir;
  const auto file = dir / "list.tzc";
  TileImageList list = sample_list();
  ASSERT_TRUE(save_list_file(list, file));
  Bytes expected;
  expected.head(119).u8(1).str(file.string());
  expected.i32(2).str("/more/one.jpg").str("/pics/");
  expected.i32(1).str("/pics/bad/");
  expected.i32(1).str("/must/");
  expected.i32(1).str("/clips/");
  expected.i32(2);
  // "/clips/c.avi" sorts before "/pics/a.jpg".
  expected.str("/clips/c.avi").i64(1700000000).i32(12345).i16(0).u16(250).u16(12500).u8(1);
  expected.words(all_samples(kOther)).u8(1).u8(1);
  expected.str("/pics/a.jpg").i64(1700000000).i32(12345).i16(1).u16(0).u16(0).u8(1);
  expected.words(all_samples(kColour)).u8(0).u8(1);
  EXPECT_EQ(read_file(file), expected.data());
}

TEST(ListFileSave, SaveLoadSaveGivesIdenticalBytes) {
  TempDir dir;
  const auto file = dir / "list.tzc";
  TileImageList list = sample_list();
  list.insert(make_entry(std::string(300, 'p'), kOther));
  list.insert(make_entry("/pics/B.jpg", kColour));
  ASSERT_TRUE(save_list_file(list, file));
  const std::string first = read_file(file);

  TileImageList again;
  const Loaded loaded = load(again, file);
  ASSERT_TRUE(loaded.ok);
  EXPECT_TRUE(loaded.messages.empty());
  EXPECT_EQ(again.entry_count(), 4u);
  EXPECT_TRUE(again.black_and_white());
  EXPECT_FALSE(again.changed());
  ASSERT_TRUE(save_list_file(again, file));
  EXPECT_EQ(read_file(file), first);
}

TEST(ListFileSave, LongPathsTakeTheExtendedLengthPrefixes) {
  TempDir dir;
  const auto file = dir / "list.tzc";
  const std::vector<std::pair<std::size_t, std::string>> cases = {
      {254, std::string("\xFE", 1)},
      {255, std::string("\xFF\xFF\x00", 3)},
      {300, std::string("\xFF\x2C\x01", 3)},
      {0xFFFD, std::string("\xFF\xFD\xFF", 3)},
      {0xFFFE, std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7)},
      {70000, std::string("\xFF\xFF\xFF\x70\x11\x01\x00", 7)},
  };
  for (const auto& [length, prefix] : cases) {
    TileImageList list;
    const std::string path = "/" + std::string(length - 1, 'x');
    list.insert(make_entry(path, kColour));
    ASSERT_TRUE(save_list_file(list, file));
    const std::string bytes = read_file(file);
    const std::string header = Bytes().head(119).u8(0).str(file.string()).i32(0).i32(0).i32(0).i32(0).i32(1).data();
    ASSERT_GT(bytes.size(), header.size() + prefix.size());
    EXPECT_EQ(bytes.substr(header.size(), prefix.size()), prefix) << length;
    EXPECT_EQ(bytes.substr(header.size() + prefix.size(), length), path) << length;

    TileImageList back;
    ASSERT_TRUE(load(back, file).ok) << length;
    ASSERT_NE(back.find(path), nullptr) << length;
  }
}

TEST(ListFileSave, FailureIsReportedWithThePath) {
  TempDir dir;
  const auto file = dir / "missing folder" / "list.tzc";
  TileImageList list = sample_list();
  list.set_changed(true);
  ScriptedPrompt prompt;
  EXPECT_FALSE(save_list_file(list, file).ok_or_show(prompt));
  ASSERT_EQ(prompt.messages().size(), 1u);
  EXPECT_EQ(prompt.messages()[0], "Unable to save file '" + file.string() + "'");
  EXPECT_TRUE(list.changed());
}

TEST(ListFileSave, FullDiskIsAFailure) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TileImageList list = sample_list();
  EXPECT_FALSE(save_list_file(list, "/dev/full"));
}

// --- older versions ----------------------------------------------------------

TEST(ListFileLoad, Version119ReadsEveryField) {
  TempDir dir;
  const auto file = dir / "v119.tzc";
  Bytes b;
  b.head(119).u8(0).str("/old/place.tzc");
  b.i32(1).str("/pics/").i32(1).str("/pics/no/").i32(1).str("/req/").i32(1).str("/vid/");
  b.i32(2);
  b.str("/vid/FRAMES001/x.avi").i64(-5).i32(77).i16(0).u16(30).u16(12500).u8(1).words(all_samples(kColour)).u8(1).u8(0);
  b.str("/pics/a.png").i64(1234567890123).i32(-2).i16(1).u16(0).u16(0).u8(1).words(all_samples(kOther)).u8(0).u8(1);
  ASSERT_TRUE(write_file(file, b.data()));

  TileImageList list;
  ASSERT_TRUE(load(list, file).ok);
  EXPECT_EQ(list.path(), file.string());  // the stored path is ignored
  EXPECT_EQ(list.version(), 119);
  EXPECT_FALSE(list.changed());
  EXPECT_FALSE(list.needs_upgrade());
  EXPECT_EQ(list.folders(FolderKind::video), TileImageList::FolderSet{"/vid/"});
  EXPECT_EQ(list.folders(FolderKind::required), TileImageList::FolderSet{"/req/"});
  const FotoInfo* clip = list.find("/vid/FRAMES001/x.avi");
  ASSERT_NE(clip, nullptr);
  EXPECT_EQ(clip->modification_time, -5);
  EXPECT_EQ(clip->file_size, 77);
  EXPECT_EQ(clip->frame_count, 30);
  EXPECT_EQ(clip->rate_code, 12500);
  EXPECT_TRUE(clip->is_portrait());
  EXPECT_EQ(clip->signature.opaque, 0);
  EXPECT_EQ(clip->usable, 1);
  EXPECT_EQ(clip->variant_group, 1);  // a frame of an extracted video
  const FotoInfo* picture = list.find("/pics/a.png");
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->modification_time, 1234567890123);
  EXPECT_EQ(picture->required, 1);
  std::array<std::uint32_t, kSignatureSampleCount> expected{};
  expected.fill(kOther);
  EXPECT_EQ(picture->signature.samples, expected);
  EXPECT_EQ(picture->signature.opaque, 1);
  EXPECT_EQ(picture->variant_group, 0);
  EXPECT_EQ(list.landscape_images(), 1);
  EXPECT_EQ(list.portrait_clips(), 1);
  EXPECT_EQ(list.portrait_entries(), 1);
}

Bytes whole_signature_entry(int version, const std::string& path, std::int16_t required, std::uint32_t colour) {
  Bytes b;
  b.str(path).i64(100).i32(200).i16(required);
  if (version >= 119) b.u16(0).u16(0);
  b.u8(1).words(all_samples(colour)).u8(0).u8(1);
  return b;
}

TEST(ListFileLoad, Version117IsMarkedForUpgradeAnd118IsNot) {
  TempDir dir;
  for (const int version : {117, 118}) {
    const auto file = dir / ("v" + std::to_string(version) + ".tzc");
    Bytes b;
    b.head(version).u8(1).str("x").i32(1).str("/inc/").i32(0).i32(0);
    b.i32(1).raw(whole_signature_entry(version, "/inc/a.jpg", 1, kColour).data());
    ASSERT_TRUE(write_file(file, b.data()));
    TileImageList list;
    ASSERT_TRUE(load(list, file).ok) << version;
    EXPECT_EQ(list.version(), version);
    EXPECT_EQ(list.changed(), version == 117);
    EXPECT_EQ(list.needs_upgrade(), version == 117);
    EXPECT_TRUE(list.black_and_white());
    ASSERT_EQ(list.entry_count(), 1u);
    const FotoInfo& e = list.entries().begin()->second;
    EXPECT_EQ(e.required, 1);
    EXPECT_EQ(e.frame_count, 0);
    EXPECT_EQ(e.rate_code, 0);
    EXPECT_EQ(e.signature.overall(), kColour);
  }
}

TEST(ListFileLoad, Version115RecomputesLevelsFromTheFineSamples) {
  TempDir dir;
  const auto file = dir / "v115.tzc";
  Bytes b;
  b.head(115).u8(0).str("x").i32(1).str("/inc/").i32(1).str("/inc/ex/").i32(0);
  b.i32(1).str("/inc/p.jpg").i64(5).i32(6).i16(0).u8(1);
  b.u32(0xDEADBEEF).words(fine_samples(kColour)).u8(1).u32(0xDEADBEEF).u8(0);  // a wrong opaque byte
  ASSERT_TRUE(write_file(file, b.data()));
  TileImageList list;
  ASSERT_TRUE(load(list, file).ok);
  EXPECT_TRUE(list.changed());
  EXPECT_EQ(list.folders(FolderKind::exclude).size(), 1u);
  const FotoInfo* e = list.find("/inc/p.jpg");
  ASSERT_NE(e, nullptr);
  EXPECT_TRUE(e->is_portrait());
  EXPECT_EQ(e->signature.opaque, 1);
  EXPECT_EQ(e->signature.overall(), kColour);
  EXPECT_EQ(e->signature.coarse(3, 2), kColour);
  EXPECT_EQ(list.portrait_images(), 1);
}

TEST(ListFileLoad, Version114HasPortraitThenRequired) {
  TempDir dir;
  const auto file = dir / "v114.tzc";
  Bytes b;
  b.head(114).u8(0).str("x").i32(1).str("/inc/").i32(0).i32(1).str("/req/");
  b.i32(2);
  b.str("/inc/a.jpg").i64(5).i32(6).u8(1).i16(0).u8(1).u32(0).words(fine_samples(kColour));
  b.str("/req/b.jpg").i64(5).i32(6).u8(0).i16(1).u8(1).u32(0).words(fine_samples(kOther));
  ASSERT_TRUE(write_file(file, b.data()));
  TileImageList list;
  ASSERT_TRUE(load(list, file).ok);
  ASSERT_EQ(list.entry_count(), 2u);
  EXPECT_TRUE(list.find("/inc/a.jpg")->is_portrait());
  EXPECT_EQ(list.find("/inc/a.jpg")->required, 0);
  EXPECT_FALSE(list.find("/req/b.jpg")->is_portrait());
  EXPECT_EQ(list.find("/req/b.jpg")->required, 1);
  EXPECT_EQ(list.find("/req/b.jpg")->signature.overall(), kOther);
}

TEST(ListFileLoad, Version111MovesEntriesFromTheOldBaseFolderToTheListsFolder) {
  TempDir dir;
  std::filesystem::create_directories(dir / "Lists");
  const auto file = dir / "Lists" / "x.tzc";
  Bytes b;
  b.head(111).u8(1).str("D:\\Pics\\").str("x.tzc");
  b.i32(2);
  b.str("D:\\Pics\\a\\b.jpg").i64(5).i32(6).u8(1).u8(1).u32(0).words(fine_samples(kColour));
  b.str("C:\\Elsewhere\\c.jpg").i64(5).i32(6).u8(0).u8(1).u32(0).words(fine_samples(kOther));
  ASSERT_TRUE(write_file(file, b.data()));
  TileImageList list;
  ASSERT_TRUE(load(list, file).ok);
  const std::string folder = (dir / "Lists").string() + "/";
  EXPECT_EQ(list.folders(FolderKind::include), TileImageList::FolderSet{folder});
  EXPECT_TRUE(list.black_and_white());
  EXPECT_TRUE(list.needs_upgrade());
  ASSERT_EQ(list.entry_count(), 2u);
  const FotoInfo* moved = list.find(folder + "a/b.jpg");
  ASSERT_NE(moved, nullptr);
  EXPECT_TRUE(moved->is_portrait());
  EXPECT_EQ(moved->signature.overall(), kColour);
  // A path outside the old base folder is kept as it was.
  EXPECT_NE(list.find("C:\\Elsewhere\\c.jpg"), nullptr);
}

TEST(ListFileLoad, Version108ReadsLatin1NamesAndTheThirdIntegerAsPortrait) {
  TempDir dir;
  const auto file = dir / "v108.tzc";
  Bytes b;
  b.head(108).str("C:\\Bilder\\").str("alt.tzc");  // no black-and-white byte before 110
  b.i32(2);
  b.str("C:\\Bilder\\M\xFCller.jpg").i64(5).i32(6).i32(0).i32(0).i32(7).u8(1).u32(0).words(fine_samples(kColour));
  b.str("C:\\Bilder\\\xC9t\xE9\\z.jpg").i64(5).i32(6).i32(9).i32(9).i32(0).u8(1).u32(0).words(fine_samples(kOther));
  ASSERT_TRUE(write_file(file, b.data()));
  TileImageList list;
  ASSERT_TRUE(load(list, file).ok);
  EXPECT_FALSE(list.black_and_white());
  const std::string folder = dir.path().string() + "/";
  const FotoInfo* muller = list.find(folder + "M\xC3\xBCller.jpg");
  ASSERT_NE(muller, nullptr);
  EXPECT_TRUE(muller->is_portrait());
  const FotoInfo* ete = list.find(folder + "\xC3\x89t\xC3\xA9/z.jpg");
  ASSERT_NE(ete, nullptr);
  EXPECT_FALSE(ete->is_portrait());
  EXPECT_EQ(ete->signature.overall(), kOther);
}

TEST(ListFileLoad, PathsDifferingInCaseAreTwoEntriesInByteOrder) {
  TempDir dir;
  const auto file = dir / "case.tzc";
  TileImageList list;
  list.insert(make_entry("/p/a.jpg", kColour));
  list.insert(make_entry("/p/A.jpg", kOther));
  list.insert(make_entry("/p/\xC3\xA4.jpg", kOther));  // UTF-8 sorts after ASCII
  ASSERT_TRUE(save_list_file(list, file));
  TileImageList back;
  ASSERT_TRUE(load(back, file).ok);
  std::vector<std::string> order;
  for (const auto& [path, entry] : back.entries()) order.emplace_back(path);
  EXPECT_EQ(order, (std::vector<std::string>{"/p/A.jpg", "/p/a.jpg", "/p/\xC3\xA4.jpg"}));
}

// --- refused and hostile files ---------------------------------------------

TEST(ListFileLoad, OtherVersionsAndGridsAreRefusedWithTheMessage) {
  TempDir dir;
  const auto file = dir / "other.tzc";
  struct Case {
    Bytes bytes;
    int version;
  };
  std::vector<Case> cases;
  cases.push_back({Bytes().head(120).u8(0).str("x").i32(0).i32(0).i32(0).i32(0).i32(0), 120});
  cases.push_back({Bytes().head(107).str("x").str("y").i32(0), 107});
  cases.push_back({Bytes().i32(119).i32(9).i32(12).u8(0).str("x").i32(0).i32(0).i32(0).i32(0).i32(0), 119});
  cases.push_back({Bytes().i32(119).i32(12).i32(12), 119});
  for (const auto& c : cases) {
    ASSERT_TRUE(write_file(file, c.bytes.data()));
    TileImageList list = sample_list();
    const Loaded loaded = load(list, file);
    EXPECT_FALSE(loaded.ok);
    EXPECT_EQ(loaded.result, ListLoadResult::refused);
    EXPECT_EQ(loaded.messages, std::vector<std::string>{kDifferentVersion});
    EXPECT_EQ(list.version(), c.version);  // the caller can tell what it was
    expect_empty(list);
  }
}

// What the user is told comes back with the failure, with its icon: a list
// of another version is a warning, one that cannot be read at all an error.
TEST(ListFileLoad, OpeningTellsARefusedFileFromAnUnreadableOne) {
  TempDir dir;
  const auto newer = dir / "newer.tzc";
  ASSERT_TRUE(write_file(newer, Bytes().head(120).u8(0).str("x").i32(0).i32(0).i32(0).i32(0).i32(0).data()));
  const auto broken = dir / "broken.tzc";
  ASSERT_TRUE(write_file(broken, "ju"));  // too short for a version
  TileImageList list;
  const Status refused = open_list_file(list, newer.string());
  EXPECT_EQ(refused.message(), kDifferentVersion);
  EXPECT_EQ(refused.icon(), Icon::warning);
  const Status unreadable = open_list_file(list, broken.string());
  EXPECT_EQ(unreadable.message(), "Error while reading the Images List!");
  EXPECT_EQ(unreadable.icon(), Icon::error);
  EXPECT_TRUE(load_list_file(list, broken).message().empty());

  const Status unsaved = save_list_file(list, dir / "no" / "such" / "l.tzc");
  EXPECT_EQ(unsaved.message(), "Unable to save file '" + (dir / "no" / "such" / "l.tzc").string() + "'");
  EXPECT_EQ(unsaved.icon(), Icon::error);
}

TEST(ListFileLoad, EveryTruncationFailsCleanly) {
  TempDir dir;
  const auto file = dir / "whole.tzc";
  TileImageList list = sample_list();
  ASSERT_TRUE(save_list_file(list, file));
  const std::string whole = read_file(file);
  const auto cut = dir / "cut.tzc";
  for (std::size_t keep = 0; keep < whole.size(); ++keep) {
    ASSERT_TRUE(write_file(cut, whole.substr(0, keep)));
    TileImageList target = sample_list();
    const Loaded loaded = load(target, cut);
    ASSERT_FALSE(loaded.ok) << keep;
    ASSERT_EQ(loaded.result, ListLoadResult::unreadable) << keep;
    ASSERT_TRUE(loaded.messages.empty()) << keep;
    ASSERT_EQ(target.entry_count(), 0u) << keep;
    for (int k = 0; k < kFolderKindCount; ++k) ASSERT_TRUE(target.folders(static_cast<FolderKind>(k)).empty()) << keep;
  }
  TileImageList target;
  ASSERT_TRUE(load(target, file).ok);
  EXPECT_EQ(target.entry_count(), 2u);
}

TEST(ListFileLoad, CountsAndLengthsBeyondTheFileAreRefusedBeforeAllocating) {
  TempDir dir;
  const auto file = dir / "hostile.tzc";
  const auto header = [] { return Bytes().head(119).u8(0).str("x"); };
  std::vector<std::pair<const char*, Bytes>> cases;
  cases.push_back({"huge entry count", header().i32(0).i32(0).i32(0).i32(0).i32(0x7FFFFFFF)});
  cases.push_back({"negative entry count", header().i32(0).i32(0).i32(0).i32(0).i32(-1)});
  cases.push_back({"count one above the entries", header().i32(0).i32(0).i32(0).i32(0).i32(2).raw(
                                                      whole_signature_entry(119, "/a.jpg", 0, kColour).data())});
  cases.push_back({"huge folder count", header().i32(0x7FFFFFFF)});
  cases.push_back({"negative folder count", header().i32(0).i32(-7)});
  cases.push_back({"32-bit string length", header().i32(1).u8(0xFF).u16(0xFFFF).u32(0xFFFFFFFF).raw("abc")});
  cases.push_back({"16-bit string length", header().i32(1).u8(0xFF).u16(0xFFFD).raw("abc")});
  cases.push_back({"long list path", Bytes().head(119).u8(0).u8(200).raw("short")});
  cases.push_back({"long entry path", header().i32(0).i32(0).i32(0).i32(0).i32(1).u8(0xFF).u16(0x2000).raw(
                                          std::string(600, 'x'))});
  for (const auto& [name, bytes] : cases) {
    ASSERT_TRUE(write_file(file, bytes.data()));
    TileImageList list = sample_list();
    const Loaded loaded = load(list, file);
    EXPECT_FALSE(loaded.ok) << name;
    EXPECT_EQ(loaded.result, ListLoadResult::unreadable) << name;
    EXPECT_TRUE(loaded.messages.empty()) << name;
    expect_empty(list);
  }
}

TEST(ListFileLoad, MissingFilesAndFoldersAreUnreadable) {
  TempDir dir;
  for (const auto& path : {dir / "none.tzc", dir.path()}) {
    TileImageList list = sample_list();
    const Loaded loaded = load(list, path);
    EXPECT_FALSE(loaded.ok);
    EXPECT_EQ(loaded.result, ListLoadResult::unreadable);
    expect_empty(list);
    EXPECT_EQ(list.path(), path.string());
  }
}

}  // namespace
}  // namespace tess

namespace tess {
namespace {

// Two programs read the same list; the second to save finds the first's
// save there and keeps it: each side's added and removed folders, the
// pictures the merged folders hold, and the colour mode the side that
// switched it chose.
TEST(ListFileSave, ASaveOverAnotherProgramsSaveKeepsBothChanges) {
  struct Case {
    const char* name;
    bool theirs_black_and_white;
    std::vector<std::string> folders;
    std::vector<std::string> entries;
  };
  const Case cases[] = {
      {"folders", false, {"/c/", "/d/"}, {"/c/c1.jpg", "/d/d1.jpg"}},
      // Our colour signatures would compare wrongly in their grey list.
      {"colour mode", true, {"/c/", "/d/"}, {"/c/c1.jpg"}},
  };
  const auto picture = [](const std::string& path) {
    FotoInfo entry(path);
    entry.usable = 1;
    entry.file_size = 1234;
    return entry;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const auto file = dir / "shared.tzc";
    TileImageList first;
    for (const char* folder : {"/a/", "/b/"}) (void)first.add_folder(FolderKind::include, folder);
    for (const char* path : {"/a/a1.jpg", "/b/b1.jpg"}) (void)first.insert(picture(path));
    ASSERT_TRUE(save_list_file(first, file));

    TileImageList ours;
    TileImageList theirs;
    ASSERT_TRUE(load_list_file(ours, file));
    ASSERT_TRUE(load_list_file(theirs, file));
    (void)theirs.remove_folder(FolderKind::include, "/b/");
    (void)theirs.add_folder(FolderKind::include, "/c/");
    (void)theirs.erase("/b/b1.jpg");
    (void)theirs.insert(picture("/c/c1.jpg"));
    theirs.set_black_and_white(c.theirs_black_and_white);
    ASSERT_TRUE(save_list_file(theirs, file));
    (void)ours.remove_folder(FolderKind::include, "/a/");
    (void)ours.add_folder(FolderKind::include, "/d/");
    (void)ours.erase("/a/a1.jpg");
    (void)ours.insert(picture("/d/d1.jpg"));
    ASSERT_TRUE(save_list_file(ours, file));

    TileImageList saved;
    ASSERT_TRUE(load_list_file(saved, file));
    const auto& folders = saved.folders(FolderKind::include);
    EXPECT_EQ(std::vector<std::string>(folders.begin(), folders.end()), c.folders);
    std::vector<std::string> entries;
    for (const auto& [path, entry] : saved.entries()) entries.emplace_back(path);
    EXPECT_EQ(entries, c.entries);
    EXPECT_EQ(saved.black_and_white(), c.theirs_black_and_white);
    EXPECT_EQ(ours.entry_count(), saved.entry_count());  // the saving program holds what it saved
  }
}

}  // namespace
}  // namespace tess
