// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/extract_parameters.hpp"

#include <algorithm>

#include "base/text.hpp"

namespace tess {

ExtractParameters extract_parameters(const ExtractionDefaults& defaults, ExtractMode mode) {
  ExtractParameters params;
  params.crop = defaults.crop;
  params.first = defaults.first;
  params.last = defaults.last;
  params.count = defaults.count;
  params.mode = mode;
  params.quality = defaults.quality;
  params.prefix = defaults.prefix;
  return params;
}

std::string check_crop_width(const FrameRect& crop, std::int64_t video_width) {
  if (crop.left + crop.width <= video_width) return {};
  return format(tr("The value Left+Width (%ld+%ld pixels) must not exceed the Video Width of %ld pixels"), crop.left,
                crop.width, video_width);
}

std::string check_crop_height(const FrameRect& crop, std::int64_t video_height) {
  if (crop.top + crop.height <= video_height) return {};
  return format(tr("The value Top+Height (%ld+%ld pixels) must not exceed the Video Height of %ld pixels"), crop.top,
                crop.height, video_height);
}

std::string check_frame_range(std::int64_t first, std::int64_t last, std::int64_t frame_count) {
  const std::int64_t last_frame = std::max<std::int64_t>(frame_count - 1, 0);
  if (first >= 0 && first <= last_frame && last >= 0 && last <= last_frame) return {};
  return format(tr("The First/Last Frame values must be between 0 and %ld"), last_frame);
}

std::string check_extract_parameters(const ExtractParameters& params, std::int64_t video_width,
                                     std::int64_t video_height, std::int64_t frame_count) {
  std::string message = check_crop_width(params.crop, video_width);
  if (message.empty()) message = check_crop_height(params.crop, video_height);
  if (message.empty()) message = check_frame_range(params.first, params.last, frame_count);
  return message;
}

}  // namespace tess
