// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the decoders' tests share: one decoder called directly, so that what
// it hands back (the colour description the loader would convert) can be
// looked at, and a colour compared within a tolerance.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include <gtest/gtest.h>

#include "images/foto.hpp"
#include "images/picture_decoders.hpp"

namespace tess::testing {

/// The decoder of `format` on the file at `path`, asked for max_w × max_h.
inline Status decode_with(PictureFormat format, const std::filesystem::path& path, Foto& picture,
                          PictureColour& colour, int max_w = 0, int max_h = 0) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  return decoder_for(format)->decode(file.get(), path, max_w, max_h, picture, colour);
}

/// An opaque pixel within `tolerance` of red, green and blue.
inline bool near_colour(std::uint32_t pixel, int r, int g, int b, int tolerance) {
  return std::abs(static_cast<int>(pixel_red(pixel)) - r) <= tolerance &&
         std::abs(static_cast<int>(pixel_green(pixel)) - g) <= tolerance &&
         std::abs(static_cast<int>(pixel_blue(pixel)) - b) <= tolerance && pixel_transparency(pixel) == 0;
}

/// A picture of width × height asked for at 500 × 400 loads shrunk by the
/// factor load_scale() promises, never below the request, and asked for
/// whole it is not shrunk. The shrunk picture, for its colours.
inline Foto expect_reduced_load(const std::filesystem::path& path, int width, int height) {
  const int factor = Foto::load_scale(path, 500, 400);
  EXPECT_GT(factor, 1);
  Foto picture;
  EXPECT_TRUE(picture.load(path, 500, 400).ok());
  if (factor > 0) {
    EXPECT_EQ(picture.width(), (width + factor - 1) / factor);
    EXPECT_EQ(picture.height(), (height + factor - 1) / factor);
  }
  EXPECT_GE(picture.width(), 500);
  EXPECT_GE(picture.height(), 400);
  EXPECT_EQ(Foto::load_scale(path, 0, 0), 1);
  return picture;
}

}  // namespace tess::testing
