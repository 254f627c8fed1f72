// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/part_writer.hpp"

#include <algorithm>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "output/format_writers.hpp"
#include "output/output_file.hpp"
#include "settings/advanced_options.hpp"
#include "video/fourcc.hpp"

namespace tess {
namespace {

// What the writers are told for every file of a mosaic.
WriteOptions write_options(const OutputOptions& options, int dpi, int threads) {
  WriteOptions write;
  write.dpi = dpi;
  write.jpeg_quality = options.jpeg_quality;
  write.alpha = options.transparency ? AlphaSample::opaque : AlphaSample::none;
  write.big_tiff = options.tiff64;
  write.threads = threads;
  write.fourcc = options.fourcc;
  return write;
}

// Every frame is the whole part rendered again, its tiles showing the clip
// frames of that moment.
bool write_video(const FormatWriterEntry& writer, JPGMosaicSave& saver, const std::string& name,
                 const std::string& path, const WriteOptions& options, const PartLayout& layout, Prompt& prompt) {
  VideoClock* clock = saver.video_clock();
  if (clock == nullptr || clock->frames <= 0) {
    report_unable_to_save(path, prompt);
    return false;
  }
  const BeginFrame begin_frame = [&saver, clock, &layout](std::int64_t frame) {
    clock->frame = frame;
    saver.begin_part(layout);
    return true;
  };
  return writer.video(saver, name, options, *clock, begin_frame, prompt);
}

}  // namespace

SavedFileRecord make_saved_file_record(const std::string& path, int x_offset, int y_offset, int width, int height) {
  SavedFileRecord record;
  record.x_offset = x_offset;
  record.y_offset = y_offset;
  record.width = width;
  record.height = height;
  record.path = path;
  const std::size_t slash = path.rfind('/');
  const std::string file_name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (slash != std::string::npos) record.directory = path.substr(0, slash);
  const std::size_t point = file_name.rfind('.');
  record.title = point == std::string::npos ? file_name : file_name.substr(0, point);
  if (point != std::string::npos) record.extension = file_name.substr(point);
  return record;
}

OutputOptions OutputOptions::from(const MosaicParameters& parameters) {
  OutputOptions options;
  options.format = parameters.output_format;
  options.jpeg_quality = std::clamp(parameters.jpeg_quality, 1, 100);
  options.transparency = parameters.output_transparency;
  options.layers = parameters.output_layers;
  options.tiff64 = parameters.output_tiff64;
  options.fourcc = parse_fourcc(parameters.advanced.value(kOptFourCC));
  options.extension = format_extension(parameters.output_format);
  return options;
}

bool save_mosaic_part(JPGMosaicSave& saver, const std::string& name, const OutputOptions& options,
                      const PartLayout& layout, std::vector<SavedFileRecord>& saved, int dpi) {
  saver.begin_part(layout);
  const std::string path = name + (options.extension.empty() ? format_extension(options.format) : options.extension);
  Prompt& prompt = saver.prompt();
  const FormatWriterEntry& writer = format_writer_entry(format_writer(options.format));
  if (writer.kind == WriterKind::none) {
    // Never a silent failure: the user learns that this format gave no file.
    prompt.message(format(tr("Unable to save file '%s'"), path) + ". " +
                       tr("This file format can not be written by this version of the program."),
                   Icon::error);
    return false;
  }
  const WriteOptions write = write_options(options, dpi, saver.threads());
  const bool written = writer.kind == WriterKind::video
                           ? write_video(writer, saver, name, path, write, layout, prompt)
                           : write_picture(writer.writer, saver, path, write, prompt);
  saved.push_back(make_saved_file_record(path, layout.x_offset, layout.y_offset, layout.width, layout.height));
  return written;
}

}  // namespace tess
