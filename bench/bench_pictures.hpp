#pragma once
// Pictures the benchmarks work on: smooth, photograph-like content written
// as JPEG through the program's own writer.

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "base/scripted_prompt.hpp"
#include "images/foto.hpp"
#include "output/jpeg_writer.hpp"

namespace tess::bench {

/// A smooth, photograph-like picture: gradients with a ripple.
inline Foto photo_like(int width, int height) {
  Foto picture;
  picture.try_allocate(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const double ripple = 40 * std::sin(x * 0.05) * std::cos(y * 0.07);
      const auto channel = [](double v) { return static_cast<std::uint32_t>(std::clamp(v, 0.0, 255.0)); };
      picture.at(x, y) = make_pixel(channel(255.0 * x / width + ripple), channel(255.0 * y / height - ripple),
                                    channel(128 + ripple));
    }
  return picture;
}

/// Writes `picture` as a colour JPEG of quality 90.
inline bool write_jpeg(const std::filesystem::path& path, const Foto& picture) {
  ScriptedPrompt silent;
  return write_jpeg_image(picture, path.string(), true, 90, 0, silent);
}

}  // namespace tess::bench
