// The format table walked row by row: each format is stored and read back in
// its settings-file form, and the size checks hold it to its limits.

#include "settings/output_formats.hpp"

#include <map>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "base/ini_file.hpp"
#include "base/text.hpp"
#include "settings/settings_file.hpp"
#include "settings/size_checks.hpp"

namespace tess {
namespace {

// The stored forms settings files already hold; they must never change.
const std::map<std::int32_t, std::string> kStoredForms = {
    {100, "jpg"},           {101, "bmp"},      {102, "tiff"}, {103, "ppm"}, {104, "raw"},
    {105, "avi_uncompressed"}, {106, "avi_compressed"}, {107, "mosaic"}, {108, "video_jpg"},
    {109, "psd"},           {110, "psb"},      {111, "tiff_jpg"}, {112, "web"},
    {113, "png"},
};

TEST(OutputFormats, EveryFormatIsStoredReadBackAndHeldToItsLimits) {
  std::set<std::int32_t> seen;
  std::set<std::string> labels;
  for (const OutputFormat& row : output_formats()) {
    const std::int32_t number = format_number(row.code);
    SCOPED_TRACE(number);
    EXPECT_TRUE(seen.insert(number).second) << "one row a format";

    // The settings file: its stored form, and back into a record that held another format.
    MosaicParameters p;
    p.output_format = row.code;
    IniFile ini;
    write_settings_section(ini, "S", p, "", false);
    ASSERT_EQ(kStoredForms.count(number), 1u);
    EXPECT_EQ(ini.get("S", "FileFormat"), kStoredForms.at(number));
    MosaicParameters back;
    back.output_format = row.code == OutputFormatCode::bmp ? OutputFormatCode::jpg : OutputFormatCode::bmp;
    read_settings_section(ini, "S", back, IniFile());
    EXPECT_EQ(back.output_format, row.code);
    MosaicParameters set;
    EXPECT_EQ(apply_setting(set, "FileFormat", kStoredForms.at(number)), SettingChange::applied);
    EXPECT_EQ(set.output_format, row.code);
    EXPECT_EQ(format_of_number(number), row.code);

    // Offered formats are told apart by their labels.
    if (row.label != nullptr) {
      EXPECT_TRUE(labels.insert(format_label(row.code)).second) << format_label(row.code);
    }

    // The size checks: up to the first side limit it fits, past it the user
    // decides or is refused, past the second it is refused; 64-bit TIFF lifts
    // the limits only where the format says so.
    if (!row.limits) {
      EXPECT_EQ(check_mosaic_size(row.code, false, 2'000'000, 2'000'000).verdict, SizeVerdict::fits);
      continue;
    }
    const FormatLimits& limits = *row.limits;
    ASSERT_NE(limits.text, nullptr);
    EXPECT_LE(limits.soft_side, limits.hard_side);
    EXPECT_EQ(check_mosaic_size(row.code, false, limits.soft_side, 1).verdict, SizeVerdict::fits);
    EXPECT_EQ(check_mosaic_size(row.code, false, 1, limits.soft_side + 1).verdict,
              limits.soft_side < limits.hard_side ? SizeVerdict::ask : SizeVerdict::refuse);
    const SizeCheck over = check_mosaic_size(row.code, false, limits.hard_side + 1, 1);
    EXPECT_EQ(over.verdict, SizeVerdict::refuse);
    EXPECT_EQ(over.text.rfind(tr(limits.text), 0), 0u) << over.text;
    // Pieces longer than any split piece are refused by the split check itself.
    EXPECT_EQ(check_split_size(row.code, false, limits.soft_side + 1, 11).verdict,
              limits.soft_side < kMaxSplitPieceSide ? SizeVerdict::ask : SizeVerdict::refuse);
    if (limits.pixels != kNoPixelLimit && limits.pixels / limits.soft_side < limits.soft_side) {
      EXPECT_EQ(check_mosaic_size(row.code, false, limits.soft_side, limits.pixels / limits.soft_side + 1).verdict,
                SizeVerdict::refuse);
    }
    EXPECT_EQ(check_mosaic_size(row.code, true, limits.hard_side + 1, 1).verdict,
              row.limits_lifted_by_tiff64 ? SizeVerdict::fits : SizeVerdict::refuse);
  }
  EXPECT_EQ(seen.size(), kStoredForms.size());
  // A number no format has is no format, and shows as that number.
  EXPECT_FALSE(format_of_number(114));
  EXPECT_EQ(format_label(static_cast<OutputFormatCode>(99)), "99");
}

}  // namespace
}  // namespace tess
