#include "settings/output_formats.hpp"

#include "base/text.hpp"

namespace tess {
namespace {

using C = OutputFormatCode;
using W = FormatWriter;

// libpng's limit, which its readers keep too.
constexpr std::int64_t kPngSideLimit = 1'000'000;

constexpr SizeEstimate kNoEstimate{};
constexpr SizeEstimate kJpegEstimate{SizeRule::jpeg_quality, {}, {}, {}, {}, 0};

constexpr SizeEstimate per_pixel(PixelCost flat, PixelCost transparent) {
  return {SizeRule::per_pixel, flat, transparent, {}, {}, 0};
}

// Photoshop files: flat, or one layer a tile on top of the flattened image.
constexpr SizeEstimate kPhotoshopEstimate{
    SizeRule::per_pixel_or_layers, {3.0, 100}, {11.0, 300}, {11.0, 200}, {7.0, 100}, 100};

const std::vector<OutputFormat>& table() {
  static const std::vector<OutputFormat> rows = {
      {C::jpg, "jpg", N_("JPEG Format"), N_(" (.JPG)"), ".jpg",
       FormatLimits{4'294'967'296, 30'000, 65'500,
                    N_("Not all applications are able to read JPEG files with a width/height over 30,000 pixels "
                       "and the maximum width/height is 65,500 pixels. ")},
       false, kJpegEstimate, false, W::jpeg, C::jpg},
      {C::psd, "psd", N_("Photoshop's Standard"), N_(" (.PSD)"), ".psd",
       FormatLimits{2'000'000'000, 30'000, 30'000,
                    N_("The Photoshop PSD format doesn't support width/height over 30,000 pixels. ")},
       false, kPhotoshopEstimate, false, W::psd, C::psd},
      {C::psb, "psb", N_("Photoshop's Large Document"), N_(" (.PSB)"), ".psb",
       FormatLimits{kNoPixelLimit, 300'000, 300'000,
                    N_("The Photoshop PSB format doesn't support width/height over 300,000 pixels. ")},
       false, kPhotoshopEstimate, false, W::psb, C::psd},
      // The mosaic is the largest layer of the pyramid, written as JPEG tiles.
      {C::web, "web", N_("RezIroriz for Web Publishing"), nullptr, " RezIroriz/index.html", std::nullopt, false,
       per_pixel({4.0, 0}, {4.0, 0}), false, W::web_pyramid, C::jpg},
      {C::ppm, "ppm", N_("Portable PixMap"), N_(" (.PPM)"), ".ppm", std::nullopt, false,
       per_pixel({3.0, 100}, {3.0, 100}), false, W::ppm, C::psd},
      // Three bytes a pixel in at most 4 GiB, unless the file is 64-bit TIFF.
      {C::tiff, "tiff", N_("TIFF Uncompressed"), N_(" (.TIFF)"), ".tiff",
       FormatLimits{1'431'655'766, 32'767, 32'767,
                    N_("The TIFF 32bit file format has a maximum file size of 4 Gigabytes.")},
       true, per_pixel({3.0, 27676}, {4.0, 27676}), false, W::tiff, C::psd},
      {C::tiff_jpg, "tiff_jpg", N_("TIFF with JPG Compression"), nullptr, ".tiff",
       FormatLimits{kNoPixelLimit, 65'500, 65'500,
                    N_("TIFF with JPG compression has a maximum width/height of 65,500 pixels. ")},
       false, kJpegEstimate, false, W::tiff_jpeg, C::psd},
      {C::raw, "raw", N_("RAW (Portable PixMap without Header)"), N_(" (.RAW)"), ".raw", std::nullopt, false,
       per_pixel({3.0, 0}, {3.0, 0}), false, W::raw, C::psd},
      {C::bmp, "bmp", N_("Windows Bitmap"), N_(" (.BMP)"), ".bmp",
       FormatLimits{500'000'000, 32'767, 32'767,
                    N_("The BMP format doesn't support files over 2 Gigabytes (over 500 megapixels). ")},
       false, per_pixel({3.0, 9966}, {3.0, 9966}), false, W::bmp, C::bmp},
      // Deflate rarely saves much on photographs: the estimate is the
      // uncompressed samples, so that it errs on the side of disk space.
      {C::png, "png", N_("PNG Format"), N_(" (.PNG)"), ".png",
       FormatLimits{kNoPixelLimit, kPngSideLimit, kPngSideLimit,
                    N_("Most applications are unable to read PNG files with a width/height over 1,000,000 pixels. ")},
       false, per_pixel({3.0, 100}, {4.0, 100}), false, W::png, C::png},
      {C::avi_uncompressed, "avi_uncompressed", N_("DivarAdadir (Uncompressed)"), N_(" (.AVI)"), ".avi", std::nullopt,
       false, kNoEstimate, true, W::avi_uncompressed, std::nullopt},
      {C::avi_compressed, "avi_compressed", N_("DivarAdadir (Compressed)"), N_(" (.AVI)"), ".avi", std::nullopt, false,
       kNoEstimate, true, W::avi_compressed, std::nullopt},
      // Every frame adds its number before the extension.
      {C::video_jpg, "video_jpg", N_("DivarAdadir Individual Frames"), nullptr, ".jpg", std::nullopt, false,
       kNoEstimate, true, W::jpeg_frames, std::nullopt},
      // Read from settings files but never offered, and not written by this program.
      {C::mosaic, "mosaic", nullptr, nullptr, ".mosaic", std::nullopt, false, per_pixel({6.6, 0}, {6.6, 0}), false,
       W::none, std::nullopt},
  };
  return rows;
}

}  // namespace

const std::vector<OutputFormat>& output_formats() { return table(); }

const OutputFormat* find_output_format(OutputFormatCode format) {
  for (const OutputFormat& row : table())
    if (row.code == format) return &row;
  return nullptr;
}

std::optional<OutputFormatCode> format_of_number(std::int64_t number) {
  for (const OutputFormat& row : table())
    if (format_number(row.code) == number) return row.code;
  return std::nullopt;
}

const std::vector<OutputFormatCode>& offered_formats() {
  static const std::vector<OutputFormatCode> offered = [] {
    std::vector<OutputFormatCode> codes;
    for (const OutputFormat& row : table())
      if (row.label != nullptr) codes.push_back(row.code);
    return codes;
  }();
  return offered;
}

std::string format_label(OutputFormatCode format) {
  const OutputFormat* row = find_output_format(format);
  if (row == nullptr) return std::to_string(format_number(format));
  if (row->label == nullptr) return row->keyword;
  return row->label_suffix != nullptr ? tr(row->label) + tr(row->label_suffix) : tr(row->label);
}

std::string format_extension(OutputFormatCode format) {
  const OutputFormat* row = find_output_format(format);
  return row != nullptr ? row->extension : ".error";
}

std::string mosaic_extension(OutputFormatCode format, const std::string& file_name) {
  const std::string own = format_extension(format);
  const OutputFormat* row = find_output_format(format);
  if (row == nullptr || row->video || format == OutputFormatCode::web) return own;
  const auto slash = file_name.rfind('/');
  const auto dot = file_name.rfind('.');
  const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  // A name that only starts with a point has no extension.
  if (dot == std::string::npos || dot <= name_start) return own;
  const std::string given = file_name.substr(dot);
  const bool same = iequals(given, own) || (own == ".tiff" && iequals(given, ".tif")) ||
                    (own == ".jpg" && iequals(given, ".jpeg"));
  return same ? given : own;
}

std::optional<FormatLimits> format_limits(OutputFormatCode format, bool tiff64) {
  const OutputFormat* row = find_output_format(format);
  if (row == nullptr || (tiff64 && row->limits_lifted_by_tiff64)) return std::nullopt;
  return row->limits;
}

bool is_video_format(OutputFormatCode format) {
  const OutputFormat* row = find_output_format(format);
  return row != nullptr && row->video;
}

FormatWriter format_writer(OutputFormatCode format) {
  const OutputFormat* row = find_output_format(format);
  return row != nullptr ? row->writer : FormatWriter::none;
}

}  // namespace tess
