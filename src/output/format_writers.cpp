// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/format_writers.hpp"

#include <algorithm>
#include <vector>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "output/bmp_writer.hpp"
#include "output/jpeg_writer.hpp"
#include "output/output_file.hpp"
#include "output/png_writer.hpp"
#include "output/ppm_writer.hpp"
#include "output/psd_writer.hpp"
#include "output/row_source.hpp"
#include "output/tiff_writer.hpp"

namespace tess {
namespace {

using W = FormatWriter;

// A web mosaic has no file of its own: every row is pulled so that every
// band is rendered, and the pyramid watching the bands gets all of them.
bool pull_every_row(RowSource& source, const std::filesystem::path&, const WriteOptions&, Prompt&) {
  int rows = 0;
  while (rows < source.height() && source.next_row() != nullptr) ++rows;
  return rows == source.height() && !source.stop_requested();
}

// The longest side the format table allows a format.
std::int64_t side_limit(OutputFormatCode format) { return format_limits(format, false)->hard_side; }

std::string too_big(int, int) { return format(tr("Unable to save file '%s'"), tr("Image is too big")); }

constexpr FormatWriterEntry picture(W writer, PictureWrite write, WriteLimit limit = {}) {
  return {writer, WriterKind::picture, write, nullptr, limit};
}

constexpr FormatWriterEntry video(W writer, VideoWrite write) {
  return {writer, WriterKind::video, nullptr, write, {}};
}

const std::vector<FormatWriterEntry>& table() {
  static const std::vector<FormatWriterEntry> rows = {
      picture(W::jpeg, write_jpeg_rows),
      picture(W::bmp, write_bmp_rows, {kMaxBmpPixels, 0, too_big}),
      picture(W::png, write_png_rows, {0, side_limit(OutputFormatCode::png), too_big}),
      picture(W::ppm, write_ppm_rows),
      picture(W::raw, write_raw_rows),
      picture(W::psd, write_psd_rows,
              {0, max_photoshop_side(false), [](int w, int h) { return photoshop_side_refusal(w, h, false); }}),
      picture(W::psb, write_psb_rows,
              {0, max_photoshop_side(true), [](int w, int h) { return photoshop_side_refusal(w, h, true); }}),
      picture(W::tiff, write_tiff_rows),
      picture(W::tiff_jpeg, write_tiff_jpeg_rows),
      picture(W::web_pyramid, pull_every_row),
      video(W::avi_uncompressed, write_uncompressed_avi),
      video(W::avi_compressed, write_compressed_avi),
      video(W::jpeg_frames, write_frame_pictures),
  };
  return rows;
}

}  // namespace

const FormatWriterEntry& format_writer_entry(FormatWriter writer) {
  static const FormatWriterEntry none{};
  const auto& rows = table();
  const auto row = std::find_if(rows.begin(), rows.end(), [writer](const auto& entry) { return entry.writer == writer; });
  return row != rows.end() ? *row : none;
}

bool fits_writer(const FormatWriterEntry& entry, int width, int height, Prompt& prompt) {
  const WriteLimit& limit = entry.limit;
  const bool too_many_pixels = limit.pixels > 0 && static_cast<std::int64_t>(width) * height > limit.pixels;
  const bool side_too_long = limit.side > 0 && std::max(width, height) > limit.side;
  if (!too_many_pixels && !side_too_long) return true;
  prompt.message(limit.refusal(width, height), Icon::error);
  return false;
}

bool write_picture(FormatWriter writer, RowSource& source, const std::filesystem::path& path,
                   const WriteOptions& options, Prompt& prompt) {
  const FormatWriterEntry& entry = format_writer_entry(writer);
  if (entry.kind != WriterKind::picture) {
    report_unable_to_save(path.string(), prompt);
    return false;
  }
  // Refused before a file is created, so a picture that cannot fit leaves nothing behind.
  if (!fits_writer(entry, source.width(), source.height(), prompt)) return false;
  return entry.picture(source, path, options, prompt);
}

}  // namespace tess
