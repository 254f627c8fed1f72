#include "output/ppm_writer.hpp"

#include <cerrno>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <system_error>


#include "base/file_sink.hpp"
#include "base/prompt.hpp"
#include "base/text.hpp"
#include "base/version.hpp"
#include "images/foto.hpp"
#include "output/output_file.hpp"
#include "output/row_source.hpp"

namespace tess {
namespace {

// Writing the last byte first makes the file its final size, so a disk that
// cannot hold it fails here rather than after most of the rows.
bool pre_extend(FileSink& file, std::uint64_t total_size) {
  const std::uint8_t zero = 0;
  return file.write_at(&zero, 1, static_cast<off_t>(total_size - 1));
}

enum class Outcome { written, rows_ended, write_failed };

Outcome write_rows(RowSource& source, FileSink& file, std::uint8_t* line) {
  const int width = source.width();
  const std::size_t line_size = static_cast<std::size_t>(width) * 3;
  for (int y = 0; y < source.height(); ++y) {
    if (source.stop_requested()) return Outcome::rows_ended;
    const std::uint32_t* row = source.next_row();
    if (row == nullptr) return Outcome::rows_ended;
    std::uint8_t* out = line;
    for (int x = 0; x < width; ++x) {
      const std::uint32_t p = row[x];
      *out++ = static_cast<std::uint8_t>(pixel_red(p));
      *out++ = static_cast<std::uint8_t>(pixel_green(p));
      *out++ = static_cast<std::uint8_t>(pixel_blue(p));
    }
    if (!file.write(line, line_size)) return Outcome::write_failed;
  }
  return Outcome::written;
}


}  // namespace

std::string pixmap_header(int width, int height) {
  const std::string first =
      "P6\n# Created by Tessellarium" + format(" Version %ld.%ld.%ld", kVersionMajor, kVersionMinor, kVersionPatch);
  const std::string last = format("\n%ld %ld\n255\n", static_cast<long>(width), static_cast<long>(height));
  const auto blanks = static_cast<std::ptrdiff_t>(kPixmapHeaderSize) - static_cast<std::ptrdiff_t>(first.size()) -
                      static_cast<std::ptrdiff_t>(last.size());
  return first + std::string(static_cast<std::size_t>(std::max<std::ptrdiff_t>(blanks, 1)), ' ') + last;
}

namespace {

// Both forms: the pixels are the same, only the header differs.
bool write_pixmap(RowSource& source, const std::filesystem::path& path, bool with_header, Prompt& prompt) {
  const int width = source.width();
  const int height = source.height();
  if (width <= 0 || height <= 0) {
    report_unable_to_save(path.string(), prompt);
    return false;
  }
  std::unique_ptr<std::uint8_t[]> line(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(width) * 3]);
  if (!line) {
    prompt.message(out_of_memory_text(width, 1) + "!", Icon::error);
    return false;
  }
  FileSink file;
  if (!file.open(path)) {
    report_unable_to_save(path.string(), errno, prompt);
    return false;
  }

  const std::string header = with_header ? pixmap_header(width, height) : std::string();
  const std::uint64_t total_size =
      header.size() + static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 3;
  Outcome outcome = Outcome::write_failed;
  if (file.write(header) && pre_extend(file, total_size)) outcome = write_rows(source, file, line.get());
  if (outcome == Outcome::written && file.commit()) return true;
  // The system's reason of a failed write or commit; rows that ended have none.
  const int error = outcome == Outcome::rows_ended ? 0 : errno;

  // A stop or a failure leaves the earlier file, if any, as it was.
  file.roll_back();
  if (outcome != Outcome::rows_ended || !source.stop_requested()) report_unable_to_save(path.string(), error, prompt);
  return false;
}

}  // namespace

bool write_ppm_rows(RowSource& source, const std::filesystem::path& path, const WriteOptions&, Prompt& prompt) {
  return write_pixmap(source, path, true, prompt);
}

bool write_raw_rows(RowSource& source, const std::filesystem::path& path, const WriteOptions&, Prompt& prompt) {
  return write_pixmap(source, path, false, prompt);
}

}  // namespace tess
