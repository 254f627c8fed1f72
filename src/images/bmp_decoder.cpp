// SPDX-License-Identifier: GPL-3.0-or-later
// Windows and OS/2 bitmaps, read by hand: the old core header and the info
// header with its later forms (colour masks, alpha mask, colour space and
// embedded profile); palette pictures of 1, 4 and 8 bits, 16-bit (5-5-5 or
// masks), 24-bit and 32-bit pixels. Every size and offset the header gives is
// checked against the file before anything is read or allocated, and rows
// are read one at a time at their own offsets, so a bottom-up file is read
// top to bottom and a large one shrinks while it is read.

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "base/text.hpp"
#include "images/bounded_input.hpp"
#include "images/foto_budget.hpp"
#include "images/load_failure.hpp"
#include "images/picture_decoders.hpp"
#include "images/row_reduction.hpp"

namespace tess {
namespace {

constexpr const char* kWhat = "BMP";
constexpr std::uint64_t kFileHeaderSize = 14;
constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kV5HeaderSize = 124;
// Later headers only add fields we do not use; no writer makes them this long.
constexpr std::uint32_t kMostHeaderSize = 4096;
constexpr std::uint32_t kOs2HeaderSize = 64;
// Longer sides than this are no bitmap anyone wrote, and keep every product
// of sides and bits far inside 64 bits.
constexpr std::int64_t kMostSide = 1 << 24;
constexpr std::uint64_t kMostProfileBytes = 16 << 20;

enum Compression : std::uint32_t {
  kRgb = 0,
  kRle8 = 1,
  kRle4 = 2,
  kBitfields = 3,
  kJpeg = 4,
  kPng = 5,
  kAlphaBitfields = 6,
};

constexpr std::uint32_t kSpaceSrgb = 0x73524742;     // 'sRGB'
constexpr std::uint32_t kSpaceWindows = 0x57696E20;  // 'Win '
constexpr std::uint32_t kSpaceEmbedded = 0x4D424544; // 'MBED'

std::uint32_t u16_at(const std::uint8_t* p) { return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8); }
std::uint32_t u32_at(const std::uint8_t* p) { return u16_at(p) | (u16_at(p + 2) << 16); }

std::uint64_t size_of(std::FILE* file) {
  struct stat info {};
  if (::fstat(::fileno(file), &info) != 0 || info.st_size < 0) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

// Exactly `size` bytes at `offset`, or false.
bool read_at(int fd, std::uint64_t offset, std::uint64_t limit, void* data, std::size_t size) {
  BoundedInput input{fd, offset, limit};
  auto* bytes = static_cast<std::uint8_t*>(data);
  std::size_t done = 0;
  while (done < size) {
    const std::size_t got = input.read(bytes + done, size - done);
    if (got == 0) return false;
    done += got;
  }
  return true;
}

// One colour channel of a masked pixel, widened or narrowed to 8 bits.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  std::uint64_t most = 0;  // the largest value the mask holds

  explicit Channel(std::uint32_t m = 0) : mask(m) {
    if (mask == 0) return;
    shift = std::countr_zero(mask);
    most = (std::uint64_t{1} << std::bit_width(mask >> shift)) - 1;
  }
  std::uint32_t operator()(std::uint32_t pixel, std::uint32_t absent) const {
    if (mask == 0) return absent;
    const std::uint64_t value = (pixel & mask) >> shift;
    return static_cast<std::uint32_t>((value * 255 + most / 2) / most);
  }
};

struct BmpHeader {
  std::uint64_t file_size = 0;
  std::uint64_t data_offset = 0;
  std::uint32_t header_size = 0;
  int width = 0;
  int height = 0;
  bool top_down = false;
  int bits = 0;
  std::uint32_t compression = kRgb;
  std::uint32_t masks[4] = {};  // red, green, blue, alpha
  std::uint64_t palette_offset = 0;
  std::uint32_t palette_entries = 0;
  std::uint32_t palette_entry_size = 4;
  std::uint32_t colour_space = 0;
  std::uint64_t profile_offset = 0;
  std::uint64_t profile_size = 0;

  std::uint64_t row_stride() const {
    return (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bits) + 31) / 32 * 4;
  }
  std::uint64_t row_bytes() const {
    return (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bits) + 7) / 8;
  }
};

enum class HeaderResult { ok, not_bmp, damaged, unsupported };

struct HeaderOutcome {
  HeaderResult result = HeaderResult::ok;
  std::string detail;
};

HeaderOutcome fail(HeaderResult result, std::string detail) { return {result, std::move(detail)}; }

HeaderOutcome read_header(std::FILE* file, BmpHeader& header) {
  header = BmpHeader{};
  const int fd = ::fileno(file);
  header.file_size = size_of(file);
  const std::uint64_t limit = header.file_size;
  std::uint8_t head[kFileHeaderSize + 4];
  if (!read_at(fd, 0, limit, head, sizeof head) || head[0] != 'B' || head[1] != 'M')
    return fail(HeaderResult::not_bmp, "no bitmap header");
  header.data_offset = u32_at(head + 10);
  header.header_size = u32_at(head + 14);
  const std::uint32_t header_size = header.header_size;
  if (header_size != kCoreHeaderSize && (header_size < kInfoHeaderSize || header_size > kMostHeaderSize))
    return fail(HeaderResult::damaged, "unknown header size");
  std::uint8_t info[kV5HeaderSize] = {};
  const std::size_t wanted = std::min(header_size, kV5HeaderSize);
  if (!read_at(fd, kFileHeaderSize, limit, info, wanted)) return fail(HeaderResult::damaged, "the file ends early");

  std::int64_t width = 0, height = 0;
  std::uint64_t masks_after_header = 0;
  if (header_size == kCoreHeaderSize) {
    width = u16_at(info + 4);
    height = u16_at(info + 6);
    header.bits = static_cast<int>(u16_at(info + 10));
    header.palette_entry_size = 3;
  } else {
    width = static_cast<std::int32_t>(u32_at(info + 4));
    height = static_cast<std::int32_t>(u32_at(info + 8));
    header.bits = static_cast<int>(u16_at(info + 14));
    header.compression = u32_at(info + 16);
    header.palette_entries = u32_at(info + 32);
    const bool masked = header.compression == kBitfields || header.compression == kAlphaBitfields;
    if (header_size == kOs2HeaderSize && header.compression >= kBitfields)
      return fail(HeaderResult::unsupported, "OS/2 compressed bitmap");
    if (header_size >= 52) {
      for (int i = 0; i < 3; ++i) header.masks[i] = u32_at(info + 40 + 4 * i);
    } else if (masked) {
      // The masks follow a plain info header.
      masks_after_header = header.compression == kAlphaBitfields ? 16 : 12;
      std::uint8_t masks[16] = {};
      if (!read_at(fd, kFileHeaderSize + header_size, limit, masks, masks_after_header))
        return fail(HeaderResult::damaged, "the file ends early");
      for (std::uint64_t i = 0; i < masks_after_header / 4; ++i) header.masks[i] = u32_at(masks + 4 * i);
    }
    if (header_size >= 56) header.masks[3] = u32_at(info + 52);
    if (!masked) std::fill(std::begin(header.masks), std::end(header.masks), 0u);
    if (header_size >= 108) header.colour_space = u32_at(info + 56);
    if (header_size >= kV5HeaderSize) {
      header.profile_offset = kFileHeaderSize + std::uint64_t{u32_at(info + 112)};
      header.profile_size = u32_at(info + 116);
    }
  }
  if (height < 0) {
    header.top_down = true;
    height = -height;
  }
  if (width <= 0 || height <= 0) return fail(HeaderResult::damaged, "no pixels");
  if (width > kMostSide || height > kMostSide) return fail(HeaderResult::damaged, "impossible size");
  header.width = static_cast<int>(width);
  header.height = static_cast<int>(height);

  switch (header.compression) {
    case kRgb:
      if (header.bits != 1 && header.bits != 4 && header.bits != 8 && header.bits != 16 && header.bits != 24 &&
          header.bits != 32)
        return fail(HeaderResult::damaged, "unknown bit depth");
      break;
    case kBitfields:
    case kAlphaBitfields:
      if (header.bits != 16 && header.bits != 32) return fail(HeaderResult::damaged, "masks at an unknown bit depth");
      break;
    case kRle8:
    case kRle4:
      return fail(HeaderResult::unsupported, "run-length compressed bitmap");
    case kJpeg:
      return fail(HeaderResult::unsupported, "JPEG inside a bitmap");
    case kPng:
      return fail(HeaderResult::unsupported, "PNG inside a bitmap");
    default:
      return fail(HeaderResult::unsupported, "unknown bitmap compression");
  }

  if (header.bits <= 8) {
    const std::uint32_t full = 1u << header.bits;
    if (header.palette_entries == 0 || header.palette_entries > full) header.palette_entries = full;
    header.palette_offset = kFileHeaderSize + header_size + masks_after_header;
  } else {
    header.palette_entries = 0;
  }
  // The rows must lie inside the file; the last one may lack its padding.
  const std::uint64_t rows_end = header.data_offset + header.row_stride() * (static_cast<std::uint64_t>(height) - 1) +
                                 header.row_bytes();
  if (header.data_offset < kFileHeaderSize + kCoreHeaderSize || rows_end > header.file_size)
    return fail(HeaderResult::damaged, "the file ends early");
  return {};
}

// The colours of a palette picture. The table may be shorter than its
// declared count where it runs into the pixels; missing entries are black.
bool read_palette(int fd, const BmpHeader& header, std::uint32_t (&palette)[256]) {
  std::fill(std::begin(palette), std::end(palette), make_pixel(0, 0, 0));
  if (header.palette_entries == 0) return true;
  const std::uint64_t end = std::min(header.data_offset, header.file_size);
  if (end <= header.palette_offset) return true;
  const std::uint64_t room = (end - header.palette_offset) / header.palette_entry_size;
  const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(header.palette_entries, room));
  std::uint8_t table[256 * 4];
  if (!read_at(fd, header.palette_offset, header.file_size, table,
               static_cast<std::size_t>(count) * header.palette_entry_size))
    return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t* entry = table + static_cast<std::size_t>(i) * header.palette_entry_size;
    palette[i] = make_pixel(entry[2], entry[1], entry[0]);
  }
  return true;
}

// Turns one row as the file stores it into pixels.
class RowConverter {
 public:
  RowConverter(const BmpHeader& header, const std::uint32_t (&palette)[256]) : m_bits(header.bits), m_palette(palette) {
    std::uint32_t masks[4] = {header.masks[0], header.masks[1], header.masks[2], header.masks[3]};
    if (header.compression == kRgb && header.bits == 16) {
      masks[0] = 0x7C00;
      masks[1] = 0x03E0;
      masks[2] = 0x001F;
    } else if (header.compression == kRgb && header.bits == 32) {
      // The fourth byte of plain 32-bit pixels is not alpha.
      masks[0] = 0x00FF0000;
      masks[1] = 0x0000FF00;
      masks[2] = 0x000000FF;
    }
    for (int i = 0; i < 4; ++i) m_channels[i] = Channel(masks[i]);
  }

  void convert(const std::uint8_t* row, std::uint32_t* out, int width) const {
    switch (m_bits) {
      case 1:
      case 4:
      case 8: {
        const int per_byte = 8 / m_bits;
        const unsigned mask = (1u << m_bits) - 1;
        for (int x = 0; x < width; ++x) {
          const int shift = 8 - m_bits * (x % per_byte + 1);
          out[x] = m_palette[(row[x / per_byte] >> shift) & mask];
        }
        break;
      }
      case 24:
        for (int x = 0; x < width; ++x) {
          const std::uint8_t* p = row + 3 * static_cast<std::size_t>(x);
          out[x] = make_pixel(p[2], p[1], p[0]);
        }
        break;
      case 16:
        for (int x = 0; x < width; ++x) out[x] = masked(u16_at(row + 2 * static_cast<std::size_t>(x)));
        break;
      case 32:
        for (int x = 0; x < width; ++x) out[x] = masked(u32_at(row + 4 * static_cast<std::size_t>(x)));
        break;
      default:
        break;
    }
  }

 private:
  std::uint32_t masked(std::uint32_t pixel) const {
    return make_pixel(m_channels[0](pixel, 0), m_channels[1](pixel, 0), m_channels[2](pixel, 0),
                      255 - m_channels[3](pixel, 255));
  }

  int m_bits;
  const std::uint32_t (&m_palette)[256];
  Channel m_channels[4];
};

struct SumsRelease {
  void operator()(PixelSum* sums) const { std::free(sums); }
};

void read_colour(int fd, const BmpHeader& header, PictureColour& colour) {
  if (header.colour_space == kSpaceSrgb || header.colour_space == kSpaceWindows) colour.srgb = true;
  if (header.colour_space != kSpaceEmbedded || header.profile_size == 0 || header.profile_size > kMostProfileBytes ||
      header.profile_offset + header.profile_size > header.file_size)
    return;
  std::vector<std::uint8_t> profile(static_cast<std::size_t>(header.profile_size));
  // A profile that cannot be read leaves the colours undeclared.
  if (read_at(fd, header.profile_offset, header.file_size, profile.data(), profile.size()))
    colour.icc = std::move(profile);
}

Status decode_steps(std::FILE* file, const std::filesystem::path& path, int max_w, int max_h, Foto& out,
                    PictureColour& colour) {
  BmpHeader header;
  const HeaderOutcome outcome = read_header(file, header);
  if (outcome.result == HeaderResult::unsupported) return unsupported_picture(path, outcome.detail);
  if (outcome.result != HeaderResult::ok) return damaged_picture(kWhat, path, outcome.detail);
  const int fd = ::fileno(file);
  std::uint32_t palette[256];
  if (!read_palette(fd, header, palette)) return damaged_picture(kWhat, path, "the file ends early");

  const auto width = static_cast<std::uint64_t>(header.width);
  const auto height = static_cast<std::uint64_t>(header.height);
  const int factor = row_reduction_factor(width, height, false, max_w, max_h);
  const auto out_w = static_cast<int>(reduced_side(width, factor));
  const auto out_h = static_cast<int>(reduced_side(height, factor));
  const std::uint64_t row_bytes = header.row_bytes();
  DecodeCharge charge;
  if (!charge.take(static_cast<std::uint64_t>(out_w) * static_cast<std::uint64_t>(out_h) * 4 + row_bytes +
                   width * 4 + static_cast<std::uint64_t>(out_w) * sizeof(PixelSum)))
    return picture_too_large(kWhat, path, header.width, header.height);
  if (!out.try_allocate(out_w, out_h)) return out_of_memory(out_w, out_h);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(row_bytes));
  std::vector<std::uint32_t> words;
  std::unique_ptr<PixelSum, SumsRelease> sums;
  if (factor > 1) {
    words.resize(static_cast<std::size_t>(width));
    sums.reset(static_cast<PixelSum*>(std::calloc(static_cast<std::size_t>(out_w), sizeof(PixelSum))));
    if (!sums) return out_of_memory(out_w, out_h);
  }
  const RowConverter converter(header, palette);
  for (std::uint64_t y = 0; y < height; ++y) {
    const std::uint64_t stored = header.top_down ? y : height - 1 - y;
    if (!read_at(fd, header.data_offset + stored * header.row_stride(), header.file_size, row.data(), row.size()))
      return damaged_picture(kWhat, path, "the file ends early");
    if (factor == 1) {
      converter.convert(row.data(), out.row(static_cast<int>(y)), header.width);
      continue;
    }
    converter.convert(row.data(), words.data(), header.width);
    add_to_sums(sums.get(), words.data(), width, 0, 0, factor);
    const auto f = static_cast<std::uint64_t>(factor);
    if ((y + 1) % f == 0 || y + 1 == height)
      finish_reduced_row(sums.get(), out.row(static_cast<int>(y / f)), out_w, width, factor, y % f + 1);
  }
  read_colour(fd, header, colour);
  return {};
}

Status decode_bmp(std::FILE* file, const std::filesystem::path& path, int max_w, int max_h, Foto& out,
                  PictureColour& colour) {
  if (file == nullptr) return Status::failure(format(tr("Unable to open file '%s'"), path.string()));
  try {
    return decode_steps(file, path, max_w, max_h, out, colour);
  } catch (const std::bad_alloc&) {
    return picture_too_large(kWhat, path, out.width(), out.height());
  }
}

bool read_bmp_size(std::FILE* file, const std::filesystem::path&, int& width, int& height) {
  width = height = 0;
  BmpHeader header;
  if (file == nullptr || read_header(file, header).result != HeaderResult::ok) return false;
  width = header.width;
  height = header.height;
  return true;
}

int bmp_load_factor(std::FILE* file, const std::filesystem::path&, int max_w, int max_h) {
  BmpHeader header;
  if (file == nullptr || read_header(file, header).result != HeaderResult::ok) return 0;
  return row_reduction_factor(static_cast<std::uint64_t>(header.width), static_cast<std::uint64_t>(header.height),
                              false, max_w, max_h);
}

}  // namespace

const PictureDecoder& bmp_picture_decoder() {
  static constexpr PictureDecoder decoder{decode_bmp, read_bmp_size, bmp_load_factor};
  return decoder;
}

}  // namespace tess
