#pragma once
// Test pictures written straight with libjpeg, libpng and libexif (never
// with the loaders under test), and helpers that damage files the way disks,
// downloads and hostile senders do.

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "images/foto.hpp"

namespace tess::testing {

/// Fills the samples of row y: width × components bytes.
using SampleRow = std::function<void(int y, std::uint8_t* samples)>;

struct JpegSpec {
  JpegSpec() = default;
  JpegSpec(int w, int h, int c = 3) : width(w), height(h), components(c) {}
  JpegSpec& with_quality(int q) {
    quality = q;
    return *this;
  }
  JpegSpec& with_progressive(bool on = true) {
    progressive = on;
    return *this;
  }
  JpegSpec& with_arithmetic() {
    arithmetic = true;
    return *this;
  }
  JpegSpec& with_subsampled_chroma() {
    subsample_chroma = true;
    return *this;
  }
  JpegSpec& with_scan_per_coefficient() {
    scan_per_coefficient = true;
    return *this;
  }
  JpegSpec& with_orientation(int o) {
    orientation = o;
    return *this;
  }
  JpegSpec& with_date_time(std::string text) {
    date_time = std::move(text);
    return *this;
  }
  JpegSpec& with_icc_profile(std::vector<std::uint8_t> profile) {
    icc_profile = std::move(profile);
    return *this;
  }
  JpegSpec& with_density(int unit, int x, int y) {
    density_unit = unit;
    x_density = x;
    y_density = y;
    return *this;
  }

  int width = 0;
  int height = 0;
  /// 1 grey, 3 RGB, 4 CMYK (written as given, that is as the inverted CMYK
  /// of Adobe files); any other count is written as an unknown colour space.
  int components = 3;
  int quality = 95;
  bool progressive = false;
  bool arithmetic = false;
  /// Progressive with every coefficient of every component in its own scans,
  /// refined in three steps: a valid file of 1 + 9 × 63 scans.
  bool scan_per_coefficient = false;
  bool subsample_chroma = false;  ///< 4:2:0 instead of full-resolution colour
  int orientation = 0;            ///< EXIF orientation; 0 writes none
  std::string date_time;          ///< EXIF DateTime; empty writes none
  int density_unit = 0;           ///< JFIF: 0 none, 1 dots per inch, 2 dots per centimetre
  int x_density = 1;
  int y_density = 1;
  std::vector<std::uint8_t> icc_profile;  ///< APP2 colour profile; empty writes none
};

bool write_jpeg(const std::filesystem::path& path, const JpegSpec& spec, const SampleRow& fill);
/// The Foto's colours as an RGB JPEG of its size.
bool write_jpeg(const std::filesystem::path& path, const Foto& picture, JpegSpec spec);

/// A JPEG decoded by libjpeg with its default output colour space and no
/// further conversion: the samples the loader starts from.
struct RawJpeg {
  int width = 0;
  int height = 0;
  int components = 0;
  std::vector<std::uint8_t> samples;
};
bool read_jpeg_samples(const std::filesystem::path& path, RawJpeg& raw);

/// A row of a smooth, photograph-like colour field (gradients and ripples):
/// width × 3 bytes of RGB.
void photo_like_row(int width, int y, std::uint8_t* rgb);

/// A picture of a red left half and a blue right half, so cells over it differ.
Foto two_tone(int width, int height);

/// A smooth photo-like RGB JPEG of width × height (photo_like_row), the main
/// image of most whole-run tests.
bool write_photo(const std::filesystem::path& path, int width = 400, int height = 300);
/// `count` uniform 64 × 48 JPEG tiles of many colours (quality 95), named
/// t0.jpg, t1.jpg, ... in `folder`, which is made when missing: a small
/// library of whole-run tests.
bool write_tile_library(const std::filesystem::path& folder, int count);

struct PngSpec {
  PngSpec() = default;
  PngSpec(int w, int h, int type = 2, int depth = 8) : width(w), height(h), color_type(type), bit_depth(depth) {}
  PngSpec& with_interlace() {
    interlaced = true;
    return *this;
  }
  PngSpec& with_palette(std::vector<std::array<std::uint8_t, 3>> entries) {
    palette = std::move(entries);
    return *this;
  }
  PngSpec& with_palette_alpha(std::vector<std::uint8_t> alpha) {
    palette_alpha = std::move(alpha);
    return *this;
  }
  PngSpec& with_icc_profile(std::vector<std::uint8_t> profile) {
    icc_profile = std::move(profile);
    return *this;
  }
  /// gAMA (the file's gamma, 0.45455 for 2.2) and, when given, cHRM (white,
  /// red, green, blue as x, y).
  PngSpec& with_gamma(double gamma, std::optional<std::array<double, 8>> chromaticities = std::nullopt) {
    file_gamma = gamma;
    this->chromaticities = chromaticities;
    return *this;
  }
  PngSpec& with_orientation(int o) {
    orientation = o;
    return *this;
  }
  PngSpec& with_colour_key(std::uint16_t a, std::uint16_t b = 0, std::uint16_t c = 0) {
    colour_key = std::array<std::uint16_t, 3>{a, b, c};
    return *this;
  }

  int width = 0;
  int height = 0;
  int color_type = 2;  ///< libpng's PNG_COLOR_TYPE_* values
  int bit_depth = 8;
  bool interlaced = false;
  std::vector<std::array<std::uint8_t, 3>> palette;
  std::vector<std::uint8_t> palette_alpha;                 ///< tRNS of a palette picture
  std::optional<std::array<std::uint16_t, 3>> colour_key;  ///< tRNS of grey (first value) or RGB
  std::vector<std::uint8_t> icc_profile;                   ///< iCCP; empty writes none
  double file_gamma = 0;                                   ///< gAMA; 0 writes none
  std::optional<std::array<double, 8>> chromaticities;     ///< cHRM
  int orientation = 0;                                     ///< eXIf orientation; 0 writes none
  std::optional<std::array<std::uint8_t, 4>> cicp;         ///< cICP: primaries, transfer, matrix, full range
};
/// `rows` hold the samples as the file stores them: packed below 8 bits,
/// big-endian at 16 bits.
bool write_png(const std::filesystem::path& path, const PngSpec& spec,
               const std::vector<std::vector<std::uint8_t>>& rows);

// --- damage ---------------------------------------------------------------
bool truncate_file(const std::filesystem::path& path, std::size_t keep);
bool overwrite_bytes(const std::filesystem::path& path, std::size_t offset, const std::string& bytes);
bool append_bytes(const std::filesystem::path& path, const std::string& bytes);
bool write_random_bytes(const std::filesystem::path& path, std::size_t count, unsigned seed);
/// Rewrites the frame size in the SOFn segment of a JPEG; the data is kept.
bool set_jpeg_frame_size(const std::filesystem::path& path, int width, int height);
/// Offset of the first JPEG marker 0xFF `code` found by walking the segments; npos if none.
std::size_t find_jpeg_marker(const std::string& jpeg, std::uint8_t code);
/// An arithmetic-coded JPEG of about 120 bytes whose frame header claims
/// side × side and whose scan holds no data: an arithmetic decoder reads
/// zeros past a marker, and zeros from the start decode without a fault, so
/// it is a valid mid-grey picture of that size.
bool write_arithmetic_liar(const std::filesystem::path& path, int side);
/// Rewrites the IHDR size of a PNG, with a CRC that matches.
bool set_png_header_size(const std::filesystem::path& path, std::uint32_t width, std::uint32_t height);
/// Offset of the length field of the first chunk of that type; npos if none.
std::size_t find_png_chunk(const std::string& png, const std::string& type);

}  // namespace tess::testing
