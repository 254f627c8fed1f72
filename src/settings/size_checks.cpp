#include "settings/size_checks.hpp"

#include <algorithm>
#include <optional>

#include "base/prompt.hpp"
#include "base/text.hpp"

namespace tess {
namespace {

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
  const std::optional<FormatLimits> limits = format_limits(format, tiff64);
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
  const std::optional<FormatLimits> limits = format_limits(format, tiff64);
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
