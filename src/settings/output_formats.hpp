#pragma once
// The output formats, each described once: the code and keyword a settings
// file stores, the label the format boxes show, the file extension, the size
// limits, the file-size estimate, and which writer writes it. Everything else
// that needs to know about a format asks this table.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tess {

/// An output format. The numbers 100..113 are what settings files store and
/// what the format boxes carry; they are converted only where they cross
/// such a boundary (format_number, format_of_number).
enum class OutputFormatCode : std::int32_t {
  jpg = 100,
  bmp = 101,
  tiff = 102,
  ppm = 103,
  raw = 104,
  avi_uncompressed = 105,
  avi_compressed = 106,
  mosaic = 107,
  video_jpg = 108,
  psd = 109,
  psb = 110,
  tiff_jpg = 111,
  web = 112,
  png = 113,
};

/// The stored number of `format`.
constexpr std::int32_t format_number(OutputFormatCode format) { return static_cast<std::int32_t>(format); }
/// The format a stored number stands for; nullopt for a number no format has.
std::optional<OutputFormatCode> format_of_number(std::int64_t number);

inline constexpr std::int64_t kNoPixelLimit = -1;

/// What one file of a format can hold.
struct FormatLimits {
  std::int64_t pixels = kNoPixelLimit;  ///< most pixels, or kNoPixelLimit
  std::int64_t soft_side = 0;           ///< a longer side makes the user decide
  std::int64_t hard_side = 0;           ///< a longer side is refused
  const char* text = nullptr;           ///< message id saying why
};

/// How the file size of a format is estimated before a run.
enum class SizeRule {
  unknown,              ///< no estimate (the video formats)
  jpeg_quality,         ///< bytes a pixel from the JPEG quality
  per_pixel,            ///< `flat`, or `transparent` with background transparency
  per_pixel_or_layers,  ///< as per_pixel, or the layered costs with tile layers
};

/// Bytes ≈ width × height × factor + base.
struct PixelCost {
  double factor = 0;
  double base = 0;
};

struct SizeEstimate {
  SizeRule rule = SizeRule::unknown;
  PixelCost flat;
  PixelCost transparent;
  PixelCost layered;              ///< with tile layers
  PixelCost layered_transparent;  ///< with tile layers and background transparency
  double base_per_layer = 0;      ///< added for each layer
};

/// Which writer makes the file; the output module maps each to its functions.
enum class FormatWriter {
  none,  ///< no writer in this program
  jpeg,
  bmp,
  ppm,  ///< pixmap with its header
  raw,  ///< pixmap without header
  psd,
  psb,
  tiff,
  tiff_jpeg,  ///< TIFF with JPEG compression
  png,
  web_pyramid,
  avi_uncompressed,
  avi_compressed,  ///< with the codec of the "FourCC" option
  jpeg_frames,     ///< one JPEG file a video frame
};

/// One output format.
struct OutputFormat {
  OutputFormatCode code;
  const char* keyword;       ///< its stored form: "jpg", "tiff_jpg", ...
  const char* label;         ///< message id of its name in the format boxes; nullptr: not offered
  const char* label_suffix;  ///< message id appended to the label (" (.JPG)"), or nullptr
  const char* extension;     ///< appended to the mosaic's file name
  std::optional<FormatLimits> limits;
  bool limits_lifted_by_tiff64;  ///< the 64-bit option removes the limits
  SizeEstimate size;
  bool video;
  FormatWriter writer;
  /// The format individual tiles of such a mosaic are saved in; none for the
  /// formats that save no tiles.
  std::optional<OutputFormatCode> tile_format;
};

/// Every format, in the order the format boxes offer them, those not offered last.
const std::vector<OutputFormat>& output_formats();
/// The row of `format`; nullptr for a code outside the table.
const OutputFormat* find_output_format(OutputFormatCode format);

/// The formats the format boxes offer, in their order.
const std::vector<OutputFormatCode>& offered_formats();
/// A format as the boxes show it: "JPEG Format (.JPG)", "TIFF with JPG
/// Compression", ...; a format not offered shows its keyword.
std::string format_label(OutputFormatCode format);
/// What is appended to the file name for `format`: ".jpg", ".bmp", ...;
/// ".error" for a code outside the table.
std::string format_extension(OutputFormatCode format);
/// The extension of a still mosaic named `file_name`: the name's own when it
/// stands for `format` (".tif" or ".TIFF" for a TIFF, ".jpeg" for a JPEG),
/// so the files are called as the user named them; else format_extension().
std::string mosaic_extension(OutputFormatCode format, const std::string& file_name);
/// The limits a file of `format` has with the 64-bit TIFF option `tiff64`;
/// nullopt when it has none.
std::optional<FormatLimits> format_limits(OutputFormatCode format, bool tiff64);
/// Whether `format` makes a video mosaic (an AVI file or one picture a frame).
bool is_video_format(OutputFormatCode format);
/// The writer of `format`; none for a code outside the table.
FormatWriter format_writer(OutputFormatCode format);
/// The packed stored form of a format with its JPEG quality (and the 64-bit
/// TIFF flag): format × 256 + quality, + 65536 for 64 bit.
constexpr std::int32_t packed_format_number(OutputFormatCode format, std::int32_t quality, bool tiff64) {
  return format_number(format) * 256 + quality + (tiff64 ? 65536 : 0);
}

}  // namespace tess
