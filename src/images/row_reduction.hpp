// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shrinking a picture while its rows are read (internal to the images
// module). A picture asked for at a small size whose decoded pixels would
// take more than an ordinary photo's is never held whole: each pixel of the
// result is the mean of a factor × factor block of the picture, colours
// weighted by opacity, summed as the rows arrive.

#include <cstdint>

namespace tess {

/// Pixels of this many bytes load whole, exactly as they always have; a
/// larger picture asked for at a smaller size is shrunk while it is read.
inline constexpr std::uint64_t kWholePictureBytes = std::uint64_t{4096} * 4096 * 4;

/// One running sum of a reduced pixel: red, green and blue weighted by
/// opacity, and the opacity.
struct PixelSum {
  std::uint64_t red = 0;
  std::uint64_t green = 0;
  std::uint64_t blue = 0;
  std::uint64_t opacity = 0;
};

/// A side of `side` pixels shrunk by `factor`: the last block may be partial.
constexpr std::uint64_t reduced_side(std::uint64_t side, int factor) {
  return (side + static_cast<std::uint64_t>(factor) - 1) / static_cast<std::uint64_t>(factor);
}

/// The factor a width × height picture is shrunk by while it is read when
/// asked for max_w × max_h (0, 0: whole). A picture within kWholePictureBytes
/// is read whole (1); a larger one by the smallest factor that brings it (and,
/// where `sums_per_pixel`, a sum for every reduced pixel) within that size,
/// but never below the size asked for.
int row_reduction_factor(std::uint64_t width, std::uint64_t height, bool sums_per_pixel, int max_w, int max_h);

/// Adds `count` pixels of one row to the sums of the reduced pixels they fall
/// in: pixel i is column first + (i << shift) of the picture.
void add_to_sums(PixelSum* sums, const std::uint32_t* row, std::uint64_t count, std::uint64_t first, int shift,
                 int factor);

/// Turns the sums of one reduced row into its `reduced_w` pixels (colours
/// weighted by opacity, the mean opacity; an empty pixel where nothing was
/// opaque) and clears them for the next. `rows` is how many rows of the
/// `width`-pixel picture the reduced row covers.
void finish_reduced_row(PixelSum* sums, std::uint32_t* out, int reduced_w, std::uint64_t width, int factor,
                        std::uint64_t rows);

}  // namespace tess
