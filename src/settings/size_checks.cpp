#include "settings/size_checks.hpp"

#include <algorithm>
#include <optional>

#include "base/prompt.hpp"
#include "base/text.hpp"

namespace tess {
namespace {

constexpr std::int64_t kNoPixelLimit = -1;


struct FormatLimits {
  std::int64_t pixels;  ///< kNoPixelLimit for none
  std::int64_t soft_side;
  std::int64_t hard_side;
  const char* text;
};

std::optional<FormatLimits> limits_of(OutputFormatCode format, bool tiff64) {
  switch (format) {
    case kFormatJpg:
      return FormatLimits{4'294'967'296, 30'000, 65'500,
                          N_("Not all applications are able to read JPEG files with a width/height over 30,000 pixels "
                          "and the maximum width/height is 65,500 pixels. ")};
    case kFormatBmp:
      return FormatLimits{500'000'000, 32'767, 32'767,
                          N_("The BMP format doesn't support files over 2 Gigabytes (over 500 megapixels). ")};
    case kFormatTiff:
      if (tiff64) return std::nullopt;
      // Three bytes a pixel in at most 4 GiB.
      return FormatLimits{1'431'655'766, 32'767, 32'767,
                          N_("The TIFF 32bit file format has a maximum file size of 4 Gigabytes.")};
    case kFormatPsd:
      return FormatLimits{2'000'000'000, 30'000, 30'000,
                          N_("The Photoshop PSD format doesn't support width/height over 30,000 pixels. ")};
    case kFormatPsb:
      return FormatLimits{kNoPixelLimit, 300'000, 300'000,
                          N_("The Photoshop PSB format doesn't support width/height over 300,000 pixels. ")};
    case kFormatTiffJpg:
      return FormatLimits{kNoPixelLimit, 65'500, 65'500,
                          N_("TIFF with JPG compression has a maximum width/height of 65,500 pixels. ")};
    default:
      return std::nullopt;
  }
}

// A refusal is shown with the error icon; a question is asked with Yes/No,
// No being the default. True when the user may go on.
bool confirm(const SizeCheck& check, Prompt& prompt) {
  switch (check.verdict) {
    case SizeVerdict::fits:
      return true;
    case SizeVerdict::refuse:
      prompt.message(check.text, Icon::error);
      return false;
    case SizeVerdict::ask:
      return prompt.ask(check.text, Buttons::yes_no, Answer::no, Icon::question) == Answer::yes;
  }
  return false;
}

}  // namespace

SizeCheck check_mosaic_size(OutputFormatCode format, bool tiff64, std::int64_t width, std::int64_t height) {
  const std::optional<FormatLimits> limits = limits_of(format, tiff64);
  if (!limits) return {};
  const std::int64_t side = std::max(width, height);
  const bool too_many_pixels = limits->pixels != kNoPixelLimit && width * height > limits->pixels;
  // The texts run on without a separator of their own.
  const std::string refusal =
      tr(limits->text) +
      tr("Please enable the Split Mosaic feature or Save the Mosaic in TIFF(64bit)/PSB/PPM/RAW format to avoid this "
         "limit.");
  if (too_many_pixels || side > limits->hard_side) return {SizeVerdict::refuse, refusal};
  if (side > limits->soft_side) return {SizeVerdict::ask, refusal + tr("Do you want to continue?")};
  return {};
}

SizeCheck check_split_size(OutputFormatCode format, bool tiff64, std::int64_t width, std::int64_t height) {
  if (width < kMinSplitPieceSide || height < kMinSplitPieceSide || width > kMaxSplitPieceSide ||
      height > kMaxSplitPieceSide)
    return {SizeVerdict::refuse,
            tr("Please insert valid values for the Split Size in Pixels. Valid values between 10 and 1,000,000 pixel.")};
  const std::optional<FormatLimits> limits = limits_of(format, tiff64);
  if (!limits) return {};
  // Pieces are meant to suit the format, so its first side limit already counts.
  const bool too_many_pixels = limits->pixels != kNoPixelLimit && width * height > limits->pixels;
  if (too_many_pixels || std::max(width, height) > limits->soft_side)
    return {SizeVerdict::ask,
            tr(limits->text) + tr("Are you sure that you want to create split pieces with such a size?")};
  return {};
}

bool confirm_split_size(const MosaicParameters& parameters, std::int64_t width, std::int64_t height,
                        Prompt& prompt) {
  return confirm(check_split_size(parameters.output_format, parameters.output_tiff64, width, height), prompt);
}

bool confirm_mosaic_size(const MosaicParameters& parameters, std::int64_t width, std::int64_t height,
                         Prompt& prompt) {
  if (parameters.split_mosaic) return true;
  return confirm(check_mosaic_size(parameters.output_format, parameters.output_tiff64, width, height), prompt);
}

}  // namespace tess
