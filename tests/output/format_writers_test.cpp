// SPDX-License-Identifier: GPL-3.0-or-later
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/scripted_prompt.hpp"
#include "output/format_writers.hpp"
#include "output/row_source.hpp"
#include "settings/output_formats.hpp"
#include "size_only_source.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::SizeOnlySource;
using testing::TempDir;

TEST(FormatWriters, EveryFormatOfTheTableHasAWriterOfItsKind) {
  for (const OutputFormat& row : output_formats()) {
    SCOPED_TRACE(row.keyword);
    const FormatWriterEntry& entry = format_writer_entry(row.writer);
    const WriterKind kind = row.writer == FormatWriter::none ? WriterKind::none
                            : row.video                      ? WriterKind::video
                                                             : WriterKind::picture;
    EXPECT_EQ(entry.kind, kind);
    EXPECT_EQ(entry.picture != nullptr, kind == WriterKind::picture);
    EXPECT_EQ(entry.video != nullptr, kind == WriterKind::video);
  }
}

// The largest picture of each writer is checked once, before the writer
// runs: over it nothing is written and the user learns why.
TEST(FormatWriters, ASizeOverTheWritersLimitIsRefusedBeforeAFileIsStarted) {
  const std::string too_big = "Unable to save file 'Image is too big'";
  const std::string psd_to_psb =
      "Unable to save the mosaic into the Photoshop PSD file format because the maximum width/height is 30000 "
      "pixels. Use the Photoshop PSB file format for a width/height up to 300,000 pixels";
  const std::string psd_to_raw =
      "Unable to save the mosaic into the Photoshop PSD file format because the maximum width/height is 30000 "
      "pixels. Use RAW/PPM file format for a width/height over 300,000 pixels";
  const std::string psb_to_raw =
      "Unable to save the mosaic into the Photoshop PSB file format because the maximum width/height is 300000 "
      "pixels. Use RAW/PPM file format for a width/height over 300,000 pixels";
  struct Case {
    FormatWriter writer;
    int width, height;
    std::string refusal;  // empty: it fits
  };
  const std::vector<Case> cases = {
      {FormatWriter::bmp, 40'000, 25'001, too_big},  // a thousand megapixels and one row
      {FormatWriter::bmp, 40'000, 25'000, ""},
      {FormatWriter::png, 1'000'001, 2, too_big},
      {FormatWriter::png, 2, 1'000'001, too_big},
      {FormatWriter::png, 1'000'000, 1'000'000, ""},
      {FormatWriter::psd, 30'001, 10, psd_to_psb},
      {FormatWriter::psd, 10, 299'999, psd_to_psb},
      {FormatWriter::psd, 10, 300'000, psd_to_raw},
      {FormatWriter::psd, 30'000, 30'000, ""},
      {FormatWriter::psb, 300'001, 10, psb_to_raw},
      {FormatWriter::psb, 300'000, 300'000, ""},
      {FormatWriter::jpeg, 2'000'000, 2'000'000, ""},
      {FormatWriter::tiff, 2'000'000, 2'000'000, ""},
      {FormatWriter::ppm, 2'000'000, 2'000'000, ""},
  };
  const TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << static_cast<int>(c.writer) << " " << c.width << "x" << c.height);
    ScriptedPrompt prompt;
    const bool fits = fits_writer(format_writer_entry(c.writer), c.width, c.height, prompt);
    EXPECT_EQ(fits, c.refusal.empty());
    if (fits) {
      EXPECT_TRUE(prompt.messages().empty());
      continue;
    }
    EXPECT_EQ(prompt.messages(), std::vector<std::string>{c.refusal});
    ScriptedPrompt write_prompt;
    SizeOnlySource source(c.width, c.height);
    const fs::path path = dir / "refused";
    EXPECT_FALSE(write_picture(c.writer, source, path, {}, write_prompt));
    EXPECT_EQ(write_prompt.messages(), std::vector<std::string>{c.refusal});
    EXPECT_EQ(write_prompt.calls().front().icon, Icon::error);
    EXPECT_FALSE(fs::exists(path));
  }
}

TEST(FormatWriters, OnlyAPictureWriterWritesAPicture) {
  for (const FormatWriter writer : {FormatWriter::none, FormatWriter::avi_uncompressed, FormatWriter::jpeg_frames}) {
    ScriptedPrompt prompt;
    SizeOnlySource source(4, 4);
    EXPECT_FALSE(write_picture(writer, source, "/nowhere/m", {}, prompt));
    EXPECT_EQ(prompt.messages(), std::vector<std::string>{"Unable to save file '/nowhere/m'"});
  }
}

}  // namespace
}  // namespace tess
