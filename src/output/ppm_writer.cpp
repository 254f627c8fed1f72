#include "output/ppm_writer.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <system_error>


#include "base/prompt.hpp"
#include "base/text.hpp"
#include "base/version.hpp"
#include "images/foto.hpp"
#include "output/output_file.hpp"
#include "output/row_source.hpp"

namespace tess {
namespace {

struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileClose>;

// Writing the last byte first makes the file its final size, so a disk that
// cannot hold it fails here rather than after most of the rows.
bool pre_extend(std::FILE* file, std::uint64_t header_size, std::uint64_t total_size) {
  return ::fseeko(file, static_cast<off_t>(total_size - 1), SEEK_SET) == 0 && std::fputc(0, file) != EOF &&
         ::fseeko(file, static_cast<off_t>(header_size), SEEK_SET) == 0;
}

enum class Outcome { written, rows_ended, write_failed };

Outcome write_rows(RowSource& source, std::FILE* file, std::uint8_t* line) {
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
    if (std::fwrite(line, 1, line_size, file) != line_size) return Outcome::write_failed;
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

bool write_pixmap_rows(RowSource& source, const std::filesystem::path& path, bool with_header, Prompt& prompt) {
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
  FilePtr file(std::fopen(path.c_str(), "wb"));
  if (!file) {
    report_unable_to_save(path.string(), prompt);
    return false;
  }
  const bool regular = is_regular_file(::fileno(file.get()));

  const std::string header = with_header ? pixmap_header(width, height) : std::string();
  const std::uint64_t total_size =
      header.size() + static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 3;
  Outcome outcome = Outcome::write_failed;
  if (std::fwrite(header.data(), 1, header.size(), file.get()) == header.size() &&
      pre_extend(file.get(), header.size(), total_size))
    outcome = write_rows(source, file.get(), line.get());
  // The flush is where a full disk usually shows up; close is checked too.
  const bool flushed = std::fflush(file.get()) == 0 && std::ferror(file.get()) == 0;
  const bool closed = std::fclose(file.release()) == 0;
  if (outcome == Outcome::written && flushed && closed) return true;

  remove_failed_output(path, regular);
  if (outcome != Outcome::rows_ended || !source.stop_requested()) report_unable_to_save(path.string(), prompt);
  return false;
}

}  // namespace tess
