// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the user asks of an extraction (the mode, the part of the frame, the
// frame range, the names) and the checks the parameters window makes on it
// before anything is read.

#include <cstdint>
#include <string>

#include "video/avi_stream.hpp"

namespace tess {

/// What the extraction writes.
enum class ExtractMode { clips, jpeg, bmp };

/// The choices of the parameters window.
struct ExtractParameters {
  FrameRect crop;           ///< part of the frame to keep, in video pixels
  std::int64_t first = 0;   ///< first frame of the range, from 0
  std::int64_t last = 0;    ///< last frame of the range, from 0
  std::int64_t count = 1;   ///< images to take in the image modes
  ExtractMode mode = ExtractMode::clips;
  int quality = 90;         ///< JPEG quality, 1..100
  std::string prefix = "FR";
};

/// The window's parameters for `defaults` of a video (see extraction_defaults).
ExtractParameters extract_parameters(const ExtractionDefaults& defaults, ExtractMode mode);

/// The checks of the parameters window, in its order: Left + Width against
/// the video width ("The value Left+Width (%ld+%ld pixels) must not exceed the
/// Video Width of %ld pixels"), Top + Height against the height, then First
/// and Last against the last frame ("The First/Last Frame values must be
/// between 0 and %ld"). Each returns the translated message, empty when the
/// values are accepted.
std::string check_crop_width(const FrameRect& crop, std::int64_t video_width);
std::string check_crop_height(const FrameRect& crop, std::int64_t video_height);
std::string check_frame_range(std::int64_t first, std::int64_t last, std::int64_t frame_count);
/// The three checks together: the first message, empty when all pass.
std::string check_extract_parameters(const ExtractParameters& params, std::int64_t video_width,
                                     std::int64_t video_height, std::int64_t frame_count);

}  // namespace tess
