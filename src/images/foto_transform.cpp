// Geometry, greyscale and composition of a Foto: flips, quarter turns, the
// padded canvas, the three paste modes and the shape mask.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "images/foto.hpp"

namespace tess {

namespace {

/// The rectangle of a paste, clipped to the target, in target and source
/// coordinates. Empty when source and target do not overlap.
struct PasteSpan {
  int target_x = 0;
  int target_y = 0;
  int source_x = 0;
  int source_y = 0;
  int width = 0;
  int height = 0;
};

PasteSpan clip_paste(int x, int y, const Foto& target, const Foto& source) {
  // 64 bits, so that an offset near the int limits cannot wrap into range.
  std::int64_t left = std::max<std::int64_t>(x, 0);
  std::int64_t top = std::max<std::int64_t>(y, 0);
  std::int64_t right = std::min<std::int64_t>(std::int64_t{x} + source.width(), target.width());
  std::int64_t bottom = std::min<std::int64_t>(std::int64_t{y} + source.height(), target.height());
  PasteSpan span;
  if (right <= left || bottom <= top) return span;
  span.target_x = static_cast<int>(left);
  span.target_y = static_cast<int>(top);
  span.source_x = static_cast<int>(left - x);
  span.source_y = static_cast<int>(top - y);
  span.width = static_cast<int>(right - left);
  span.height = static_cast<int>(bottom - top);
  return span;
}

std::uint32_t blend_pixel(std::uint32_t source, std::uint32_t target) {
  if (pixel_transparency(source) == 255) return target;
  if (pixel_transparency(target) == 255) return source;
  return make_pixel((pixel_red(source) + pixel_red(target)) / 2, (pixel_green(source) + pixel_green(target)) / 2,
                    (pixel_blue(source) + pixel_blue(target)) / 2, pixel_transparency(source));
}

}  // namespace

void Foto::mirror() {
  for (int y = 0; y < m_height; ++y) std::reverse(row(y), row(y) + m_width);
}

void Foto::flip() {
  for (int top = 0, bottom = m_height - 1; top < bottom; ++top, --bottom)
    std::swap_ranges(row(top), row(top) + m_width, row(bottom));
}

Status Foto::rotate(int angle, Foto& out) const {
  const bool quarter = angle == 90 || angle == -90 || angle == 270;
  const bool half = angle == 180 || angle == -180;
  if (empty() || (angle != 0 && !quarter && !half)) {
    out.clear();
    return Status::refused();
  }
  // Built aside and moved in last, so that `out` may be this very image.
  Foto turned;
  if (angle == 0) {
    if (Status status = turned.allocate(m_width, m_height); !status) {
      out.clear();
      return status;
    }
    std::copy_n(m_pixels, pixel_count(), turned.m_pixels);
    out = std::move(turned);
    return {};
  }
  const int w = m_width;
  const int h = m_height;
  if (Status status = quarter ? turned.allocate(h, w) : turned.allocate(w, h); !status) {
    out.clear();
    return status;
  }
  if (angle == 90) {
    // (x, y) goes to (h - 1 - y, x): source row y becomes result column h - 1 - y.
    for (int y = 0; y < h; ++y) {
      const std::uint32_t* src = row(y);
      std::uint32_t* dst = turned.m_pixels + (h - 1 - y);
      for (int x = 0; x < w; ++x) dst[static_cast<std::size_t>(x) * h] = src[x];
    }
  } else if (quarter) {
    // (x, y) goes to (y, w - 1 - x).
    for (int y = 0; y < h; ++y) {
      const std::uint32_t* src = row(y);
      std::uint32_t* dst = turned.m_pixels + y;
      for (int x = 0; x < w; ++x) dst[static_cast<std::size_t>(w - 1 - x) * h] = src[x];
    }
  } else {
    // (x, y) goes to (w - 1 - x, h - 1 - y): the pixel sequence reversed.
    std::reverse_copy(m_pixels, m_pixels + pixel_count(), turned.m_pixels);
  }
  out = std::move(turned);
  return {};
}

Status Foto::rotate(int angle) {
  // A turn that cannot be made keeps the picture as it was.
  Foto turned;
  Status status = rotate(angle, turned);
  if (status) *this = std::move(turned);
  return status;
}

void Foto::to_greyscale() {
  std::uint32_t* p = m_pixels;
  for (std::size_t i = 0, n = pixel_count(); i < n; ++i) {
    const std::uint32_t luma = 30 * pixel_red(p[i]) + 59 * pixel_green(p[i]) + 11 * pixel_blue(p[i]);
    const std::uint32_t grey = luma / 100 + (luma % 100 >= 50 ? 1 : 0);
    p[i] = make_pixel(grey, grey, grey, pixel_transparency(p[i]));
  }
}

Status Foto::pad(int canvas_w, int canvas_h, int x, int y, Foto& out) const {
  // The whole image has to land on the canvas; a negative offset would cut it.
  if (empty() || x < 0 || y < 0 || std::int64_t{x} + m_width > canvas_w || std::int64_t{y} + m_height > canvas_h) {
    out.clear();
    return Status::refused();
  }
  Foto canvas;
  if (Status status = canvas.allocate_fill(canvas_w, canvas_h, kEmptyPixel); !status) {
    out.clear();
    return status;
  }
  canvas.paste(x, y, *this, PasteMode::blend);
  out = std::move(canvas);
  return {};
}

bool Foto::paste(int x, int y, const Foto& source, PasteMode mode) {
  if (empty() || source.empty()) return false;
  if (&source == this) {
    // Pasting an image into itself would read pixels it has already written.
    Foto copy = source.clone();
    return !copy.empty() && paste(x, y, copy, mode);
  }
  const PasteSpan span = clip_paste(x, y, *this, source);
  if (span.width == 0) return false;
  for (int r = 0; r < span.height; ++r) {
    const std::uint32_t* src = source.row(span.source_y + r) + span.source_x;
    std::uint32_t* dst = row(span.target_y + r) + span.target_x;
    switch (mode) {
      case PasteMode::copy:
        std::memcpy(dst, src, static_cast<std::size_t>(span.width) * sizeof(std::uint32_t));
        break;
      case PasteMode::masked:
        for (int i = 0; i < span.width; ++i)
          if (pixel_transparency(src[i]) < kMaskedTransparency) dst[i] = src[i];
        break;
      case PasteMode::blend:
        for (int i = 0; i < span.width; ++i) dst[i] = blend_pixel(src[i], dst[i]);
        break;
    }
  }
  return true;
}

bool Foto::apply_mask(const Foto& mask) {
  if (empty() || mask.m_width != m_width || mask.m_height != m_height) return false;
  const std::uint32_t* m = mask.m_pixels;
  std::uint32_t* p = m_pixels;
  for (std::size_t i = 0, n = pixel_count(); i < n; ++i) {
    const bool inside = pixel_transparency(m[i]) < 255;
    p[i] = (p[i] & 0x00FFFFFFu) | (inside ? 0u : 0xFF000000u);
  }
  return true;
}

}  // namespace tess
