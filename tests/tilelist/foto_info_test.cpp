#include "tilelist/foto_info.hpp"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "images/image_files.hpp"
#include "support/test_support.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {
namespace {

using testing::JpegSpec;
using testing::PngSpec;
using testing::TempDir;

constexpr std::uint32_t kSentinel = make_pixel(1, 2, 3, 4);

bool write_uniform_png(const std::filesystem::path& path, int w, int h, std::uint8_t r, std::uint8_t g,
                       std::uint8_t b) {
  std::vector<std::vector<std::uint8_t>> rows(static_cast<std::size_t>(h));
  for (auto& row : rows)
    for (int x = 0; x < w; ++x) row.insert(row.end(), {r, g, b});
  return testing::write_png(path, PngSpec(w, h), rows);
}

bool write_uniform_jpeg(const std::filesystem::path& path, int w, int h, std::uint32_t colour, int orientation = 0) {
  Foto picture;
  if (!picture.try_allocate_fill(w, h, colour)) return false;
  return testing::write_jpeg(path, picture, JpegSpec().with_orientation(orientation));
}

/// Replaces the file's bytes by garbage of the same length and puts its
/// modification time back: to the list it is the same file, but it can no
/// longer be decoded.
void spoil_keeping_state(const std::filesystem::path& path) {
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  ASSERT_TRUE(testing::write_file(path, std::string(static_cast<std::size_t>(before.st_size), '\x5A')));
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

/// An entry that looks analysed for the file as it is now, holding a
/// signature no analysis would produce.
FotoInfo stored_entry(const std::filesystem::path& path) {
  FotoInfo entry(path.string());
  EXPECT_TRUE(read_file_state(path, entry.modification_time, entry.file_size));
  entry.signature.samples.fill(kSentinel);
  return entry;
}

bool kept_sentinel(const FotoInfo& entry) { return entry.signature.overall() == kSentinel; }

TEST(AnalyseEntry, NewPictureIsLoadedAnalysedAndStamped) {
  TempDir dir;
  const auto path = dir / "tile.png";
  ASSERT_TRUE(write_uniform_png(path, 64, 48, 30, 60, 90));
  FotoInfo entry(path.string());
  AnalysisCounters counters;
  ASSERT_TRUE(analyse_entry(entry, false, kListFileVersion, counters));
  EXPECT_EQ(entry.usable, 1);
  EXPECT_EQ(counters.load_failures, 0);
  for (const auto sample : entry.signature.samples) ASSERT_EQ(sample, make_pixel(30, 60, 90));
  EXPECT_EQ(entry.signature.opaque, 1);
  std::int64_t time = 0;
  std::int32_t size = 0;
  ASSERT_TRUE(read_file_state(path, time, size));
  EXPECT_EQ(entry.modification_time, time);
  EXPECT_EQ(entry.file_size, size);
  EXPECT_EQ(size, static_cast<std::int32_t>(std::filesystem::file_size(path)));
}

TEST(AnalyseEntry, BlackAndWhiteListStoresGreySignatures) {
  TempDir dir;
  const auto path = dir / "tile.png";
  ASSERT_TRUE(write_uniform_png(path, 40, 40, 100, 150, 200));
  FotoInfo entry(path.string());
  AnalysisCounters counters;
  ASSERT_TRUE(analyse_entry(entry, true, kListFileVersion, counters));
  EXPECT_EQ(entry.signature.overall(), make_pixel(141, 141, 141));
  EXPECT_EQ(entry.signature.fine(11, 8), make_pixel(141, 141, 141));
}

TEST(AnalyseEntry, ExifTurnedPhotographIsPortrait) {
  TempDir dir;
  const auto path = dir / "turned.jpg";
  ASSERT_TRUE(write_uniform_jpeg(path, 96, 64, make_pixel(128, 128, 128), 6));  // shown as 64 × 96
  FotoInfo entry(path.string());
  AnalysisCounters counters;
  ASSERT_TRUE(analyse_entry(entry, false, kListFileVersion, counters));
  EXPECT_TRUE(entry.is_portrait());
}

TEST(AnalyseEntry, UnchangedFileOfACurrentListIsNotDecodedAgain) {
  TempDir dir;
  const auto path = dir / "tile.png";
  ASSERT_TRUE(write_uniform_png(path, 64, 48, 30, 60, 90));
  FotoInfo entry(path.string());
  AnalysisCounters counters;
  ASSERT_TRUE(analyse_entry(entry, false, kListFileVersion, counters));
  const TileSignature analysed = entry.signature;

  // The picture can no longer be decoded, yet size and time say it is unchanged.
  spoil_keeping_state(path);
  for (const int version : {116, 118, 119}) {
    for (const bool black_and_white : {false, true}) {
      EXPECT_TRUE(analyse_entry(entry, black_and_white, version, counters)) << version;
      EXPECT_EQ(entry.usable, 1);
      EXPECT_EQ(entry.signature.samples, analysed.samples);
    }
  }
  EXPECT_EQ(counters.load_failures, 0);

  // An old list trusts it only through a readable JPEG header: this one is
  // decoded, fails and leaves an entry that can never pass as analysed.
  EXPECT_FALSE(analyse_entry(entry, false, 115, counters));
  EXPECT_EQ(entry.usable, 0);
  EXPECT_EQ(counters.load_failures, 1);
  EXPECT_EQ(entry.modification_time, 0);
  EXPECT_EQ(entry.file_size, kNewEntryFileSize);
  EXPECT_FALSE(analyse_entry(entry, false, kListFileVersion, counters));
  EXPECT_EQ(counters.load_failures, 2);
}

TEST(AnalyseEntry, OldListsKeepOnlySmallColourJpegs) {
  TempDir dir;
  const auto small = dir / "small.jpg";
  const auto large = dir / "large.jpg";
  const auto png = dir / "small.png";
  ASSERT_TRUE(write_uniform_jpeg(small, 100, 80, make_pixel(200, 0, 0)));
  ASSERT_TRUE(write_uniform_jpeg(large, 2001, 1500, make_pixel(200, 0, 0)));  // 3,001,500 pixels
  ASSERT_TRUE(write_uniform_png(png, 100, 80, 200, 0, 0));
  AnalysisCounters counters;

  FotoInfo entry = stored_entry(small);
  EXPECT_TRUE(analyse_entry(entry, false, 115, counters));
  EXPECT_TRUE(kept_sentinel(entry)) << "small JPEG in a colour list is kept";

  entry = stored_entry(small);
  EXPECT_TRUE(analyse_entry(entry, true, 115, counters));
  EXPECT_FALSE(kept_sentinel(entry)) << "an old black-and-white list always analyses again";
  EXPECT_EQ(pixel_red(entry.signature.overall()), pixel_green(entry.signature.overall()));

  entry = stored_entry(large);
  EXPECT_TRUE(analyse_entry(entry, false, 108, counters));
  EXPECT_FALSE(kept_sentinel(entry)) << "over 3,000,000 pixels";

  entry = stored_entry(png);
  EXPECT_TRUE(analyse_entry(entry, false, 112, counters));
  EXPECT_FALSE(kept_sentinel(entry)) << "no JPEG header";

  entry = stored_entry(large);
  EXPECT_TRUE(analyse_entry(entry, true, 116, counters));
  EXPECT_TRUE(kept_sentinel(entry)) << "newer lists trust any unchanged file";
  EXPECT_EQ(counters.load_failures, 0);
}

TEST(AnalyseEntry, ChangedFileIsAnalysedAgain) {
  TempDir dir;
  const auto path = dir / "tile.png";
  ASSERT_TRUE(write_uniform_png(path, 40, 30, 10, 10, 10));
  AnalysisCounters counters;
  FotoInfo entry = stored_entry(path);
  entry.file_size += 1;
  EXPECT_TRUE(analyse_entry(entry, false, kListFileVersion, counters));
  EXPECT_EQ(entry.signature.overall(), make_pixel(10, 10, 10));

  entry = stored_entry(path);
  entry.modification_time -= 1;
  EXPECT_TRUE(analyse_entry(entry, false, kListFileVersion, counters));
  EXPECT_FALSE(kept_sentinel(entry));
}

TEST(AnalyseEntry, MissingFilesAndFoldersAreUnusableWithoutCountingAsLoadFailures) {
  TempDir dir;
  AnalysisCounters counters;
  for (const auto& path : {dir / "gone.jpg", dir.path()}) {
    FotoInfo entry(path.string());
    entry.usable = 1;
    EXPECT_FALSE(analyse_entry(entry, false, kListFileVersion, counters));
    EXPECT_EQ(entry.usable, 0);
  }
  EXPECT_EQ(counters.load_failures, 0);

  const auto broken = dir / "broken.jpg";
  ASSERT_TRUE(testing::write_file(broken, "not a picture"));
  FotoInfo entry(broken.string());
  EXPECT_FALSE(analyse_entry(entry, false, kListFileVersion, counters));
  EXPECT_EQ(counters.load_failures, 1);
}

TEST(AnalyseEntry, ClipsNeedingAnalysisAreReportedUnusableButKept) {
  TempDir dir;
  const auto path = dir / "clip.avi";
  ASSERT_TRUE(testing::write_file(path, std::string(1000, 'v')));
  TileImageList list;
  FotoInfo clip(path.string());
  clip.rate_code = kUnknownRateCode;
  list.insert(clip);
  AnalysisCounters counters;
  FotoInfo* entry = list.find(path.string());
  ASSERT_NE(entry, nullptr);
  EXPECT_FALSE(analyse_entry(*entry, false, kListFileVersion, counters));
  EXPECT_EQ(entry->usable, 0);
  EXPECT_EQ(counters.load_failures, 1);
  EXPECT_EQ(list.entry_count(), 1u);
  EXPECT_EQ(entry->rate_code, kUnknownRateCode);

  // A clip analysed before (its state stored by an earlier run) keeps its signature.
  FotoInfo analysed = stored_entry(path);
  analysed.rate_code = 12500;
  analysed.frame_count = 100;
  EXPECT_TRUE(analyse_entry(analysed, false, kListFileVersion, counters));
  EXPECT_TRUE(kept_sentinel(analysed));
}

// Registers a clip reader for one test and takes it away again.
class ScopedClipReader {
 public:
  explicit ScopedClipReader(ClipReader reader) { set_clip_reader(std::move(reader)); }
  ~ScopedClipReader() { set_clip_reader({}); }
  ScopedClipReader(const ScopedClipReader&) = delete;
  ScopedClipReader& operator=(const ScopedClipReader&) = delete;
};

TEST(AnalyseEntry, ClipsTakeTheirLengthRateAndSignatureFromTheClipReader) {
  TempDir dir;
  const auto path = dir / "clip.avi";
  ASSERT_TRUE(testing::write_file(path, std::string(1000, 'v')));
  std::int64_t frames = 2701;
  int calls = 0;
  ScopedClipReader reader([&](const std::string& clip, int max_side, ClipSample& sample) {
    ++calls;
    EXPECT_EQ(clip, path.string());
    EXPECT_EQ(max_side, kAnalysisLoadSize);
    sample.frame_count = frames;
    sample.frames_per_second = 29.97;
    return sample.frame.try_allocate_fill(64, 48, make_pixel(200, 40, 20));
  });
  FotoInfo clip(path.string());
  clip.rate_code = kUnknownRateCode;
  AnalysisCounters counters;
  ASSERT_TRUE(analyse_entry(clip, false, kListFileVersion, counters));
  EXPECT_EQ(clip.usable, 1);
  EXPECT_EQ(clip.frame_count, 2701);
  EXPECT_EQ(clip.rate_code, 14'985);
  EXPECT_EQ(counters.long_clips, 1);
  EXPECT_EQ(pixel_red(clip.signature.overall()), 200u);
  EXPECT_FALSE(clip.is_portrait());

  // Exactly 2700 frames is not long; a known length is not asked again.
  frames = 2700;
  FotoInfo second(path.string());
  second.rate_code = kUnknownRateCode;
  ASSERT_TRUE(analyse_entry(second, false, kListFileVersion, counters));
  EXPECT_EQ(counters.long_clips, 1);
  FotoInfo known(path.string());
  known.rate_code = 12'500;
  known.frame_count = 40;
  ASSERT_TRUE(analyse_entry(known, false, kListFileVersion, counters));
  EXPECT_EQ(known.frame_count, 40);
  EXPECT_EQ(known.rate_code, 12'500);
  EXPECT_EQ(calls, 3);
}

TEST(AnalyseEntry, StoredClipLengthAndRateStayInsideTheirFields) {
  EXPECT_EQ(stored_frame_count(0), 1);
  EXPECT_EQ(stored_frame_count(70'000), 65'000);
  EXPECT_EQ(stored_rate_code(25.0), 12'500);
  EXPECT_EQ(stored_rate_code(0.0), 1);
  EXPECT_EQ(stored_rate_code(1000.0), 65'000);
  EXPECT_EQ(stored_rate_code(std::nan("")), 1);
}

TEST(FotoInfo, NamesComeFromThePath) {
  FotoInfo entry("/pics/holiday.2023/beach.photo.jpg");
  EXPECT_EQ(entry.file_name(), "beach.photo.jpg");
  EXPECT_EQ(entry.file_name_without_extension(), "beach.photo");
  EXPECT_EQ(FotoInfo("plain").file_name_without_extension(), "plain");
  EXPECT_EQ(FotoInfo("/dir.d/noext").file_name_without_extension(), "noext");
  EXPECT_FALSE(entry.is_video());
  EXPECT_EQ(entry.file_size, kNewEntryFileSize);
}

}  // namespace
}  // namespace tess
