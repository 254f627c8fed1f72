// Video frames arrive as packed device-independent bitmaps: a
// BITMAPINFOHEADER, the colour table of 8-bit bitmaps, then the rows bottom
// up, each padded to 4 bytes. Every field is little-endian and every read is
// bounded by the size the caller gives.

#include <cstdint>

#include "images/foto.hpp"

namespace tess {
namespace {

constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::uint32_t kUncompressed = 0;  // BI_RGB
constexpr std::uint32_t kFullColourTable = 256;

std::uint32_t read_u32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::int32_t read_i32(const std::uint8_t* p) { return static_cast<std::int32_t>(read_u32(p)); }
std::uint16_t read_u16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

struct BitmapLayout {
  int width = 0;
  int height = 0;
  int bits = 0;
  std::uint64_t table_offset = 0;
  std::uint64_t table_entries = 0;  // of an 8-bit bitmap
  std::uint64_t pixel_offset = 0;
  std::uint64_t stride = 0;
};

// The layout of an uncompressed 24-bit or 8-bit bottom-up bitmap whose rows
// all lie inside `size` bytes; false for anything else.
bool read_layout(const std::uint8_t* bitmap, std::size_t size, BitmapLayout& layout) {
  if (bitmap == nullptr || size < kInfoHeaderSize) return false;
  const std::uint32_t header_size = read_u32(bitmap);
  const std::int32_t width = read_i32(bitmap + 4);
  const std::int32_t height = read_i32(bitmap + 8);
  const std::uint16_t bits = read_u16(bitmap + 14);
  const std::uint32_t compression = read_u32(bitmap + 16);
  const std::uint32_t colours_used = read_u32(bitmap + 32);
  if (header_size < kInfoHeaderSize || header_size > size) return false;
  if (width <= 0 || height <= 0 || compression != kUncompressed) return false;
  if (bits != 24 && bits != 8) return false;

  layout.width = width;
  layout.height = height;
  layout.bits = bits;
  layout.table_offset = header_size;
  layout.table_entries = bits == 8 && colours_used == 0 ? kFullColourTable : colours_used;
  layout.pixel_offset = layout.table_offset + 4 * layout.table_entries;
  layout.stride = (static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4;
  if (layout.pixel_offset > size) return false;
  // stride < 2^35 and height < 2^31: the product cannot overflow.
  return layout.stride * static_cast<std::uint64_t>(height) <= size - layout.pixel_offset;
}

}  // namespace

bool Foto::load_frame(const std::uint8_t* bitmap, std::size_t size) {
  clear();
  BitmapLayout layout;
  if (!read_layout(bitmap, size, layout)) return false;
  // A frame that cannot be held fails like an unreadable one: the callers
  // count failed frames rather than show each.
  if (!try_allocate(layout.width, layout.height)) return false;

  const std::uint8_t* table = bitmap + layout.table_offset;
  for (int i = 0; i < layout.height; ++i) {
    const std::uint8_t* source = bitmap + layout.pixel_offset + layout.stride * static_cast<std::uint64_t>(i);
    std::uint32_t* target = row(layout.height - 1 - i);
    if (layout.bits == 24) {
      for (int x = 0; x < layout.width; ++x, source += 3) target[x] = make_pixel(source[2], source[1], source[0]);
    } else {
      for (int x = 0; x < layout.width; ++x) {
        const std::uint32_t index = source[x];
        const std::uint8_t* entry = table + 4 * static_cast<std::size_t>(index);
        target[x] = index < layout.table_entries ? make_pixel(entry[2], entry[1], entry[0]) : make_pixel(0, 0, 0);
      }
    }
  }
  return true;
}

}  // namespace tess
