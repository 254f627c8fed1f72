// SPDX-License-Identifier: GPL-3.0-or-later
// TIFF pictures through libtiff: the first page, whatever its layout. Most
// layouts go through libtiff's RGBA reader, one strip or one row of tiles at
// a time; CMYK is read sample by sample, so that a file's CMYK profile can
// turn its inks into colours. Rows arrive a band at a time, so a large
// picture asked for at a small size is shrunk as it is read and never held
// whole.

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <new>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include <tiffio.h>

#include "base/text.hpp"
#include "images/bounded_input.hpp"
#include "images/foto_budget.hpp"
#include "images/load_failure.hpp"
#include "images/picture_colour.hpp"
#include "images/picture_decoders.hpp"
#include "images/row_reduction.hpp"

namespace tess {
namespace {

constexpr const char* kWhat = "TIFF";
// No codec libtiff reads turns one byte into more than this many (deflate
// stops near 1032, LZW near 2730, a fax line of one colour costs a few bits
// for thousands of pixels); a header that declares more samples than its
// file could hold at this ratio is lying.
constexpr std::uint64_t kMaxCompressionRatio = 16384;
// No single allocation of the library's own (a strip, a tag's array) may
// exceed this: a header that asks for more is refused instead of obeyed.
constexpr tmsize_t kMaxLibraryAllocation = tmsize_t{1} << 30;
constexpr std::size_t kMaxLibraryMessage = 1000;

// The first error libtiff reports for one file: later ones mostly follow from it.
struct LibraryError {
  bool seen = false;
  std::string message;
};

// Handlers belong to each file through its open options, so two files read
// on different threads keep their messages apart; warnings are dropped.
int on_library_error(TIFF*, void* user_data, const char*, const char* fmt, va_list args) {
  auto* error = static_cast<LibraryError*>(user_data);
  if (error->seen) return 1;
  char text[kMaxLibraryMessage + 1];
  std::vsnprintf(text, sizeof text, fmt, args);
  error->seen = true;
  error->message = text;
  return 1;
}
int on_library_warning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// A few of libtiff's paths still report through the process-wide handlers,
// which print to standard error; those are silenced once.
void silence_global_handlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
  });
}

// The file as libtiff sees it: read with pread() from a position of its own,
// never past the end and never into a hole.
struct Source {
  int fd = -1;
  std::uint64_t size = 0;
  std::uint64_t position = 0;
};

tmsize_t read_source(thandle_t handle, void* data, tmsize_t size) {
  auto* source = static_cast<Source*>(handle);
  if (size <= 0) return 0;
  BoundedInput input{source->fd, source->position, source->size};
  auto* bytes = static_cast<std::uint8_t*>(data);
  std::size_t done = 0;
  while (done < static_cast<std::size_t>(size)) {
    const std::size_t got = input.read(bytes + done, static_cast<std::size_t>(size) - done);
    if (got == 0) break;
    done += got;
  }
  source->position = input.offset;
  return static_cast<tmsize_t>(done);
}
tmsize_t write_source(thandle_t, void*, tmsize_t) { return -1; }
toff_t seek_source(thandle_t handle, toff_t offset, int whence) {
  auto* source = static_cast<Source*>(handle);
  std::uint64_t base = 0;
  if (whence == SEEK_CUR) base = source->position;
  if (whence == SEEK_END) base = source->size;
  if (offset > std::numeric_limits<std::uint64_t>::max() - base) return static_cast<toff_t>(-1);
  source->position = base + offset;
  return source->position;
}
int close_source(thandle_t) { return 0; }
toff_t size_of_source(thandle_t handle) { return static_cast<Source*>(handle)->size; }
int map_source(thandle_t, void**, toff_t*) { return 0; }
void unmap_source(thandle_t, void*, toff_t) {}

std::uint64_t size_of(std::FILE* file) {
  struct stat info {};
  if (::fstat(::fileno(file), &info) != 0 || info.st_size < 0) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

// One open file with its error record and options; closed on the way out.
class TiffFile {
 public:
  explicit TiffFile(std::FILE* file) {
    silence_global_handlers();
    m_source.fd = ::fileno(file);
    m_source.size = size_of(file);
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) return;
    TIFFOpenOptionsSetErrorHandlerExtR(options, on_library_error, &m_error);
    TIFFOpenOptionsSetWarningHandlerExtR(options, on_library_warning, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxLibraryAllocation);
    // "m": never map the file; every byte goes through the bounded reads.
    m_tif = TIFFClientOpenExt("picture", "rm", &m_source, read_source, write_source, seek_source, close_source,
                              size_of_source, map_source, unmap_source, options);
    TIFFOpenOptionsFree(options);
  }
  ~TiffFile() {
    if (m_tif != nullptr) TIFFClose(m_tif);
  }
  TiffFile(const TiffFile&) = delete;
  TiffFile& operator=(const TiffFile&) = delete;

  TIFF* get() const { return m_tif; }
  std::uint64_t file_size() const { return m_source.size; }
  std::string error() const { return m_error.seen ? m_error.message : std::string(); }

 private:
  Source m_source;
  LibraryError m_error;
  TIFF* m_tif = nullptr;
};

enum class AlphaKind { none, associated, unassociated };
// How the samples of a picture read sample by sample make its colours.
enum class Colours { rgb, grey, palette, cmyk };

// What the first directory says about the picture.
struct Layout {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint16_t photometric = 0;
  std::uint16_t bits = 0;
  std::uint16_t samples = 0;
  std::uint16_t planar = PLANARCONFIG_CONTIG;
  std::uint16_t compression = COMPRESSION_NONE;
  int orientation = 1;
  bool tiled = false;
  std::uint32_t tile_w = 0;  // a strip is a tile as wide as the picture
  std::uint32_t tile_h = 0;
  // Read sample by sample (the common layouts), or else through libtiff's
  // RGBA reader (packed bits, YCbCr without JPEG, LogLuv, ...).
  bool by_samples = false;
  Colours colours = Colours::rgb;
  int colour_samples = 3;
  bool min_is_white = false;
  AlphaKind alpha = AlphaKind::none;  // the sample after the colours
  const std::uint16_t* palette[3] = {};
  int palette_shift = 8;  // 16-bit palette entries, or 8-bit ones in old files
  std::span<const std::uint8_t> icc;
};

// Alpha as the first extra sample after `colour_samples` says it.
AlphaKind alpha_of(TIFF* tif, int samples, int colour_samples) {
  std::uint16_t extra_count = 0;
  std::uint16_t* extra = nullptr;
  if (samples <= colour_samples || TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extra_count, &extra) != 1 ||
      extra == nullptr || extra_count != samples - colour_samples)
    return AlphaKind::none;
  if (extra[0] == EXTRASAMPLE_ASSOCALPHA) return AlphaKind::associated;
  if (extra[0] == EXTRASAMPLE_UNASSALPHA) return AlphaKind::unassociated;
  return AlphaKind::none;
}

// Which layouts are read sample by sample, with how many colour samples.
void choose_reading(TIFF* tif, Layout& layout) {
  if (layout.bits != 8 && layout.bits != 16) return;
  std::uint16_t inkset = INKSET_CMYK;
  TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inkset);
  switch (layout.photometric) {
    case PHOTOMETRIC_RGB:
      layout.colours = Colours::rgb;
      layout.colour_samples = 3;
      break;
    case PHOTOMETRIC_YCBCR:
      // JPEG hands over red, green and blue when asked; nothing else does.
      if (layout.compression != COMPRESSION_JPEG || layout.bits != 8 || layout.planar != PLANARCONFIG_CONTIG) return;
      layout.colours = Colours::rgb;
      layout.colour_samples = 3;
      break;
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
      layout.colours = Colours::grey;
      layout.colour_samples = 1;
      layout.min_is_white = layout.photometric == PHOTOMETRIC_MINISWHITE;
      break;
    case PHOTOMETRIC_PALETTE: {
      std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
      if (layout.bits != 8 || TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) != 1 || red == nullptr ||
          green == nullptr || blue == nullptr)
        return;
      layout.palette[0] = red;
      layout.palette[1] = green;
      layout.palette[2] = blue;
      // Some writers stored 8-bit entries: no entry above 255 means those.
      bool wide = false;
      for (int i = 0; i < 256; ++i) wide = wide || red[i] > 255 || green[i] > 255 || blue[i] > 255;
      layout.palette_shift = wide ? 8 : 0;
      layout.colours = Colours::palette;
      layout.colour_samples = 1;
      break;
    }
    case PHOTOMETRIC_SEPARATED:
      if (inkset != INKSET_CMYK) return;
      layout.colours = Colours::cmyk;
      layout.colour_samples = 4;
      break;
    default:
      return;
  }
  if (layout.samples < layout.colour_samples) return;
  layout.alpha = alpha_of(tif, layout.samples, layout.colour_samples);
  layout.by_samples = true;
}

bool read_layout(TIFF* tif, Layout& layout) {
  if (TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &layout.width) != 1 ||
      TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &layout.height) != 1 || layout.width == 0 || layout.height == 0)
    return false;
  std::uint16_t orientation = ORIENTATION_TOPLEFT;
  TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
  layout.orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &layout.bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &layout.samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &layout.planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &layout.compression);
  if (TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &layout.photometric) != 1)
    layout.photometric = layout.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
  if (layout.samples == 0 || layout.bits == 0) return false;
  layout.tiled = TIFFIsTiled(tif) != 0;
  if (layout.tiled) {
    if (TIFFGetField(tif, TIFFTAG_TILEWIDTH, &layout.tile_w) != 1 ||
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &layout.tile_h) != 1 || layout.tile_w == 0 || layout.tile_h == 0)
      return false;
  } else {
    std::uint32_t rows = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows);
    layout.tile_w = layout.width;
    layout.tile_h = rows == 0 ? layout.height : std::min(rows, layout.height);
  }
  choose_reading(tif, layout);
  std::uint32_t icc_size = 0;
  void* icc = nullptr;
  if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &icc_size, &icc) == 1 && icc != nullptr && icc_size > 0)
    layout.icc = {static_cast<const std::uint8_t*>(icc), icc_size};
  return true;
}

bool profile_is_cmyk(std::span<const std::uint8_t> icc) {
  return icc.size() >= 20 && std::memcmp(icc.data() + 16, "CMYK", 4) == 0;
}

// The sides as seen: orientations 5 to 8 turn the picture by a quarter.
void seen_size(const Layout& layout, int& width, int& height) {
  width = static_cast<int>(std::min<std::uint32_t>(layout.width, std::numeric_limits<int>::max()));
  height = static_cast<int>(std::min<std::uint32_t>(layout.height, std::numeric_limits<int>::max()));
  if (layout.orientation >= 5) std::swap(width, height);
}

int reduction_factor(const Layout& layout, int max_w, int max_h) {
  // The maxima bound the picture as seen; it is read as stored.
  if (layout.orientation >= 5) std::swap(max_w, max_h);
  return row_reduction_factor(layout.width, layout.height, false, max_w, max_h);
}

// The samples the header declares against what the file could hold: all of
// them for uncompressed data, and at the best ratio of any codec otherwise.
bool file_can_hold(const Layout& layout, std::uint64_t file_size) {
  const std::uint64_t row_bits = std::uint64_t{layout.width} * layout.samples * layout.bits;
  const std::uint64_t declared = std::uint64_t{layout.height} * ((row_bits + 7) / 8);
  if (layout.compression == COMPRESSION_NONE) return declared <= file_size;
  return declared / kMaxCompressionRatio <= file_size;
}

// Up to this many samples of a pixel are kept: four inks and an alpha.
constexpr std::size_t kKeptSamples = 5;

// Bands are read top to bottom, each a strip or a row of tiles, into pixels
// of the picture's own width.
struct BandReader {
  TIFF* tif;
  const Layout& layout;
  std::vector<std::uint32_t> band;        // width × tile_h pixels, top-down
  std::vector<std::uint32_t> raster;      // one strip or tile from the RGBA reader
  std::vector<std::uint8_t> piece;        // one strip or tile as stored
  std::vector<std::uint8_t> values;       // width × tile_h × kKeptSamples, 8-bit
  std::vector<std::uint8_t> inks;         // width × tile_h × 4 (CMYK)
  std::span<const std::uint8_t> profile;  // a CMYK profile, or empty
};

// 8-bit RGBA from libtiff (red in the low byte, alpha in the high one, the
// colours multiplied by alpha) into the picture's pixels.
std::uint32_t from_rgba(std::uint32_t abgr) {
  const std::uint32_t alpha = abgr >> 24;
  if (alpha == 255) return abgr & 0x00FFFFFFu;
  if (alpha == 0) return kEmptyPixel;
  auto unmultiply = [alpha](std::uint32_t c) { return std::min<std::uint32_t>(255, (c * 255 + alpha / 2) / alpha); };
  return make_pixel(unmultiply(abgr & 0xFFu), unmultiply((abgr >> 8) & 0xFFu), unmultiply((abgr >> 16) & 0xFFu),
                    255 - alpha);
}

bool read_rgba_band(BandReader& reader, std::uint32_t top, std::uint32_t rows) {
  const Layout& layout = reader.layout;
  const std::size_t width = layout.width;
  if (!layout.tiled) {
    // The reader hands the strip over bottom row first.
    if (TIFFReadRGBAStripExt(reader.tif, top, reader.raster.data(), 1) != 1) return false;
    for (std::uint32_t y = 0; y < rows; ++y) {
      const std::uint32_t* from = reader.raster.data() + (rows - 1 - y) * width;
      std::uint32_t* to = reader.band.data() + y * width;
      for (std::size_t x = 0; x < width; ++x) to[x] = from_rgba(from[x]);
    }
    return true;
  }
  // A tile comes bottom row first too, laid out at its full size even at
  // the picture's right and bottom edges.
  const std::size_t tile_w = layout.tile_w;
  const std::size_t tile_h = layout.tile_h;
  for (std::uint32_t left = 0; left < layout.width; left += layout.tile_w) {
    if (TIFFReadRGBATileExt(reader.tif, left, top, reader.raster.data(), 1) != 1) return false;
    const std::size_t columns = std::min<std::size_t>(tile_w, width - left);
    for (std::uint32_t y = 0; y < rows; ++y) {
      const std::uint32_t* from = reader.raster.data() + (tile_h - 1 - y) * tile_w;
      std::uint32_t* to = reader.band.data() + y * width + left;
      for (std::size_t x = 0; x < columns; ++x) to[x] = from_rgba(from[x]);
    }
  }
  return true;
}

// The kept samples of one strip or tile (one plane of it, for separate
// planes) into the band's values, 16-bit samples rounded to 8 bits.
bool read_piece(BandReader& reader, std::uint32_t left, std::uint32_t top, std::uint32_t rows, int plane) {
  const Layout& layout = reader.layout;
  const bool contig = layout.planar == PLANARCONFIG_CONTIG;
  const auto plane_index = static_cast<std::uint16_t>(contig ? 0 : plane);
  tmsize_t got;
  if (layout.tiled) {
    const std::uint32_t tile = TIFFComputeTile(reader.tif, left, top, 0, plane_index);
    got = TIFFReadEncodedTile(reader.tif, tile, reader.piece.data(), static_cast<tmsize_t>(reader.piece.size()));
  } else {
    const std::uint32_t strip = TIFFComputeStrip(reader.tif, top, plane_index);
    got = TIFFReadEncodedStrip(reader.tif, strip, reader.piece.data(), static_cast<tmsize_t>(reader.piece.size()));
  }
  if (got < 0) return false;
  const std::size_t per_pixel = contig ? layout.samples : 1;
  const std::size_t bytes = layout.bits / 8;
  const std::size_t stride = std::size_t{layout.tile_w} * per_pixel * bytes;
  if (static_cast<std::uint64_t>(got) < stride * rows) return false;  // a short piece is a damaged file
  const std::size_t columns = std::min<std::size_t>(layout.tile_w, layout.width - left);
  const int kept = std::min<int>(layout.colour_samples + (layout.alpha != AlphaKind::none ? 1 : 0), kKeptSamples);
  const int first = contig ? 0 : plane;
  const int last = contig ? kept - 1 : plane;
  for (std::uint32_t y = 0; y < rows; ++y) {
    const std::uint8_t* from = reader.piece.data() + y * stride;
    std::uint8_t* to = reader.values.data() + (std::size_t{y} * layout.width + left) * kKeptSamples;
    for (std::size_t x = 0; x < columns; ++x) {
      for (int s = first; s <= last; ++s) {
        const std::size_t offset = (x * per_pixel + static_cast<std::size_t>(s - first)) * bytes;
        std::uint8_t value;
        if (bytes == 1) {
          value = from[offset];
        } else {
          std::uint16_t wide;
          std::memcpy(&wide, from + offset, 2);  // libtiff hands samples over in the machine's order
          value = static_cast<std::uint8_t>((wide * 255u + 32767u) / 65535u);
        }
        to[x * kKeptSamples + static_cast<std::size_t>(s)] = value;
      }
    }
  }
  return true;
}

std::uint8_t unmultiply(std::uint32_t value, std::uint32_t alpha) {
  return alpha == 0 ? 0 : static_cast<std::uint8_t>(std::min<std::uint32_t>(255, (value * 255 + alpha / 2) / alpha));
}

// The band's samples into pixels. Inks become colours through the file's
// CMYK profile, or else as if each ink took away its share of white.
void samples_to_pixels(BandReader& reader, std::uint32_t rows) {
  const Layout& layout = reader.layout;
  const std::size_t count = std::size_t{layout.width} * rows;
  std::uint8_t* values = reader.values.data();
  std::uint32_t* out = reader.band.data();
  const int colour_samples = layout.colour_samples;
  if (layout.alpha == AlphaKind::associated && layout.colours != Colours::palette) {
    // Colours stored multiplied by alpha are divided back first.
    for (std::size_t i = 0; i < count; ++i) {
      std::uint8_t* v = values + i * kKeptSamples;
      for (int s = 0; s < colour_samples; ++s) v[s] = unmultiply(v[s], v[colour_samples]);
    }
  }
  switch (layout.colours) {
    case Colours::rgb:
      for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* v = values + i * kKeptSamples;
        out[i] = make_pixel(v[0], v[1], v[2]);
      }
      break;
    case Colours::grey:
      for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t grey = layout.min_is_white ? 255u - values[i * kKeptSamples] : values[i * kKeptSamples];
        out[i] = make_pixel(grey, grey, grey);
      }
      break;
    case Colours::palette:
      for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t index = values[i * kKeptSamples];
        out[i] = make_pixel(layout.palette[0][index] >> layout.palette_shift,
                            layout.palette[1][index] >> layout.palette_shift,
                            layout.palette[2][index] >> layout.palette_shift);
      }
      break;
    case Colours::cmyk: {
      std::uint8_t* inks = reader.inks.data();
      for (std::size_t i = 0; i < count; ++i) std::memcpy(inks + i * 4, values + i * kKeptSamples, 4);
      if (reader.profile.empty() || !cmyk_to_srgb(reader.profile, inks, out, count, false)) {
        for (std::size_t i = 0; i < count; ++i) {
          const std::uint32_t white = 255u - inks[i * 4 + 3];
          auto channel = [white](std::uint32_t ink) { return ((255 - ink) * white + 127) / 255; };
          out[i] = make_pixel(channel(inks[i * 4]), channel(inks[i * 4 + 1]), channel(inks[i * 4 + 2]));
        }
      }
      break;
    }
  }
  if (layout.alpha == AlphaKind::none) return;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t alpha = values[i * kKeptSamples + static_cast<std::size_t>(colour_samples)];
    out[i] = alpha == 0 ? kEmptyPixel : (out[i] & 0x00FFFFFFu) | ((255u - alpha) << 24);
  }
}

bool read_sample_band(BandReader& reader, std::uint32_t top, std::uint32_t rows) {
  const Layout& layout = reader.layout;
  const int kept = std::min<int>(layout.colour_samples + (layout.alpha != AlphaKind::none ? 1 : 0), kKeptSamples);
  const int planes = layout.planar == PLANARCONFIG_CONTIG ? 1 : kept;
  for (std::uint32_t left = 0; left < layout.width; left += layout.tile_w)
    for (int plane = 0; plane < planes; ++plane)
      if (!read_piece(reader, left, top, rows, plane)) return false;
  samples_to_pixels(reader, rows);
  return true;
}

// What a load by `factor` holds at its peak: the picture, the band, the
// tile or strip buffers (libtiff's decoded and raw ones, and the RGBA
// reader's), and for a shrunk picture one row of sums.
std::uint64_t load_cost(const Layout& layout, std::uint64_t piece_bytes, int factor) {
  const std::uint64_t w = reduced_side(layout.width, factor);
  const std::uint64_t h = reduced_side(layout.height, factor);
  const std::uint64_t band = std::uint64_t{layout.width} * layout.tile_h;
  const std::uint64_t tile = std::uint64_t{layout.tile_w} * layout.tile_h;
  std::uint64_t cost = w * h * 4 + band * 4 + tile * 4 + 2 * piece_bytes;
  if (layout.by_samples) cost += band * (kKeptSamples + 4);
  if (factor > 1) cost += w * sizeof(PixelSum);
  return cost;
}

enum class Outcome { decoded, not_tiff, unsupported, too_large, out_of_memory, damaged };

struct DecodeJob {
  int max_w;
  int max_h;
  Foto* out;
  PictureColour* colour;
  DecodeCharge* charge;
  std::string detail;
  int orientation = 1;
  std::uint32_t width = 0;  // the picture as stored, for the too-large report
  std::uint32_t height = 0;
  int decoded_w = 0;
  int decoded_h = 0;
};

Outcome read_bands(BandReader& reader, Foto& out, int factor) {
  const Layout& layout = reader.layout;
  std::vector<PixelSum> sums;
  if (factor > 1) sums.resize(static_cast<std::size_t>(out.width()));
  const auto f = static_cast<std::uint64_t>(factor);
  for (std::uint32_t top = 0; top < layout.height; top += layout.tile_h) {
    const std::uint32_t rows = std::min(layout.tile_h, layout.height - top);
    const bool read = layout.by_samples ? read_sample_band(reader, top, rows) : read_rgba_band(reader, top, rows);
    if (!read) return Outcome::damaged;
    for (std::uint32_t r = 0; r < rows; ++r) {
      const std::uint64_t y = std::uint64_t{top} + r;
      const std::uint32_t* row = reader.band.data() + std::size_t{r} * layout.width;
      if (factor == 1) {
        std::memcpy(out.row(static_cast<int>(y)), row, std::size_t{layout.width} * 4);
        continue;
      }
      add_to_sums(sums.data(), row, layout.width, 0, 0, factor);
      if ((y + 1) % f == 0 || y + 1 == layout.height)
        finish_reduced_row(sums.data(), out.row(static_cast<int>(y / f)), out.width(), layout.width, factor,
                           y % f + 1);
    }
  }
  return Outcome::decoded;
}

Outcome decode_steps(const TiffFile& file, DecodeJob& job) {
  TIFF* tif = file.get();
  if (tif == nullptr) return Outcome::not_tiff;
  Layout layout;
  if (!read_layout(tif, layout)) return Outcome::damaged;
  job.orientation = layout.orientation;
  job.width = layout.width;
  job.height = layout.height;
  char reason[1024] = {};
  // JPEG data of YCbCr pictures is turned into red, green and blue by the codec.
  if (layout.by_samples && layout.photometric == PHOTOMETRIC_YCBCR &&
      TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB) != 1)
    return Outcome::damaged;
  if (!layout.by_samples && TIFFRGBAImageOK(tif, reason) != 1) {
    job.detail = reason;
    return Outcome::unsupported;
  }
  if (!file_can_hold(layout, file.file_size())) return Outcome::damaged;
  const int factor = reduction_factor(layout, job.max_w, job.max_h);
  const std::uint64_t out_w = reduced_side(layout.width, factor);
  const std::uint64_t out_h = reduced_side(layout.height, factor);
  if (out_w > static_cast<std::uint64_t>(std::numeric_limits<int>::max()) ||
      out_h > static_cast<std::uint64_t>(std::numeric_limits<int>::max()))
    return Outcome::too_large;
  job.decoded_w = static_cast<int>(out_w);
  job.decoded_h = static_cast<int>(out_h);
  const std::uint64_t piece_bytes = layout.tiled ? TIFFTileSize64(tif) : TIFFStripSize64(tif);
  if (piece_bytes == 0) return Outcome::damaged;
  if (!job.charge->take(load_cost(layout, piece_bytes, factor))) return Outcome::too_large;

  // The reader's own turning is switched off: the picture is read as
  // stored and turned once, whole, at the end.
  TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  const bool cmyk = layout.by_samples && layout.colours == Colours::cmyk;
  const bool cmyk_profile = cmyk && profile_is_cmyk(layout.icc);
  // A CMYK profile has done its work once the inks are colours; any other
  // profile describes the colours as read.
  if (!cmyk && !layout.icc.empty()) job.colour->icc.assign(layout.icc.begin(), layout.icc.end());
  BandReader reader{tif, layout, {}, {}, {}, {}, {}, cmyk_profile ? layout.icc : std::span<const std::uint8_t>()};
  try {
    const std::size_t band = std::size_t{layout.width} * layout.tile_h;
    reader.band.resize(band);
    if (layout.by_samples) {
      reader.piece.resize(static_cast<std::size_t>(piece_bytes));
      reader.values.resize(band * kKeptSamples);
      if (cmyk) reader.inks.resize(band * 4);
    } else {
      reader.raster.resize(std::size_t{layout.tile_w} * layout.tile_h);
    }
  } catch (const std::bad_alloc&) {
    return Outcome::out_of_memory;
  }
  if (!job.out->try_allocate(job.decoded_w, job.decoded_h)) return Outcome::out_of_memory;
  return read_bands(reader, *job.out, factor);
}

}  // namespace

namespace {

Status decode_tiff_picture(std::FILE* file, const std::filesystem::path& path, int max_w, int max_h, Foto& out,
                           PictureColour& colour) {
  try {
    if (file == nullptr) return Status::failure(format(tr("Unable to open file '%s'"), path.string()));
    DecodeCharge charge;
    DecodeJob job{max_w, max_h, &out, &colour, &charge, {}};
    Outcome outcome;
    std::string library_error;
    {
      TiffFile tiff(file);
      outcome = decode_steps(tiff, job);
      library_error = tiff.error();
    }
    switch (outcome) {
      case Outcome::decoded:
        return apply_orientation(out, job.orientation);
      case Outcome::unsupported:
        return unsupported_picture(path, job.detail);
      case Outcome::too_large:
        return picture_too_large(kWhat, path, job.width, job.height);
      case Outcome::out_of_memory:
        return out_of_memory(job.decoded_w, job.decoded_h);
      case Outcome::not_tiff:
      case Outcome::damaged:
        break;
    }
    return damaged_picture(kWhat, path, library_error);
  } catch (const std::exception&) {
    return damaged_picture(kWhat, path, "internal error");
  }
}

bool read_tiff_picture_size(std::FILE* file, const std::filesystem::path&, int& width, int& height) {
  width = height = 0;
  if (file == nullptr) return false;
  TiffFile tiff(file);
  Layout layout;
  if (tiff.get() == nullptr || !read_layout(tiff.get(), layout)) return false;
  seen_size(layout, width, height);
  return true;
}

int tiff_picture_load_factor(std::FILE* file, const std::filesystem::path&, int max_w, int max_h) {
  if (file == nullptr) return 0;
  TiffFile tiff(file);
  Layout layout;
  if (tiff.get() == nullptr || !read_layout(tiff.get(), layout)) return 0;
  return reduction_factor(layout, max_w, max_h);
}

}  // namespace

const PictureDecoder& tiff_picture_decoder() {
  static constexpr PictureDecoder decoder{decode_tiff_picture, read_tiff_picture_size, tiff_picture_load_factor};
  return decoder;
}

}  // namespace tess
