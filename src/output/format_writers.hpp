// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The writers of the output formats, one row each, keyed by the writer the
// format table (settings/output_formats.hpp) names for a format. A picture
// writer has one shape, PictureWrite, and beside it the largest picture it
// can write: the size is checked here once, before any writer runs, so no
// writer repeats it. The video writers keep their frame-and-clock shape and
// are listed by kind.

#include <cstdint>
#include <filesystem>
#include <string>

#include "output/video_writer.hpp"
#include "output/write_options.hpp"
#include "settings/output_formats.hpp"

namespace tess {

class Prompt;
class RowSource;

/// The largest picture a writer can put into its file.
struct WriteLimit {
  std::int64_t pixels = 0;  ///< most pixels; 0: no limit
  std::int64_t side = 0;    ///< longest side; 0: no limit
  /// Why a picture of width × height is refused (shown with the error icon).
  std::string (*refusal)(int width, int height) = nullptr;
};

enum class WriterKind {
  none,     ///< no writer in this program: the format is refused with a message
  picture,  ///< one file from the rows of the part: `picture`
  video,    ///< every frame is the part rendered again: `video`
};

struct FormatWriterEntry {
  FormatWriter writer = FormatWriter::none;
  WriterKind kind = WriterKind::none;
  PictureWrite picture = nullptr;
  VideoWrite video = nullptr;
  WriteLimit limit;
};

/// The row of `writer`; a row of kind none for a writer this program lacks.
const FormatWriterEntry& format_writer_entry(FormatWriter writer);

/// Whether a picture of width × height fits what `entry` can write; when not,
/// the refusal is shown through `prompt`.
[[nodiscard]] bool fits_writer(const FormatWriterEntry& entry, int width, int height, Prompt& prompt);

/// Writes the rows of `source` with the picture writer of `writer` once the
/// size fits. A writer of another kind fails with "Unable to save file '%s'".
[[nodiscard]] bool write_picture(FormatWriter writer, RowSource& source, const std::filesystem::path& path,
                                 const WriteOptions& options, Prompt& prompt);

}  // namespace tess
