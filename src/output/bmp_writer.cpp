#include "output/bmp_writer.hpp"

#include <array>
#include <cerrno>
#include <cstddef>
#include <memory>
#include <new>
#include <string>
#include <system_error>

#include <unistd.h>

#include "base/file_sink.hpp"
#include "base/prompt.hpp"
#include "base/text.hpp"
#include "images/foto.hpp"
#include "output/format_writers.hpp"
#include "output/output_file.hpp"
#include "output/row_source.hpp"

namespace tess {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::size_t kHeaderSize = kFileHeaderSize + kInfoHeaderSize;

using BmpHeader = std::array<std::uint8_t, kHeaderSize>;

void put16(BmpHeader& header, std::size_t at, std::uint32_t value) {
  header[at] = static_cast<std::uint8_t>(value);
  header[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(BmpHeader& header, std::size_t at, std::uint32_t value) {
  put16(header, at, value & 0xFFFFu);
  put16(header, at + 2, value >> 16);
}

// Rows are stored bottom-up (a positive height), without compression; the
// resolution fields stay 0.
BmpHeader make_header(int width, int height, std::uint32_t image_size) {
  BmpHeader header{};
  header[0] = 'B';
  header[1] = 'M';
  put32(header, 2, static_cast<std::uint32_t>(kHeaderSize) + image_size);
  put32(header, 10, static_cast<std::uint32_t>(kHeaderSize));
  put32(header, 14, static_cast<std::uint32_t>(kInfoHeaderSize));
  put32(header, 18, static_cast<std::uint32_t>(width));
  put32(header, 22, static_cast<std::uint32_t>(height));
  put16(header, 26, 1);   // planes
  put16(header, 28, 24);  // bits per pixel
  put32(header, 34, image_size);
  return header;
}

enum class Outcome { written, rows_ended, write_failed };

Outcome write_rows(RowSource& source, FileSink& file, std::size_t stride) {
  const int width = source.width();
  const int height = source.height();
  // Zeroed once: the padding at the end of each row stays zero.
  std::unique_ptr<std::uint8_t[]> line(new (std::nothrow) std::uint8_t[stride]());
  if (!line) return Outcome::write_failed;
  for (int i = 0; i < height; ++i) {
    const std::uint32_t* row = source.next_row();
    if (row == nullptr) return Outcome::rows_ended;
    std::uint8_t* out = line.get();
    for (int x = 0; x < width; ++x) {
      const std::uint32_t p = row[x];
      *out++ = static_cast<std::uint8_t>(pixel_blue(p));
      *out++ = static_cast<std::uint8_t>(pixel_green(p));
      *out++ = static_cast<std::uint8_t>(pixel_red(p));
    }
    // The first row from the top is the last one in the file.
    const auto offset = static_cast<off_t>(kHeaderSize + static_cast<std::size_t>(height - 1 - i) * stride);
    if (!file.write_at(line.get(), stride, offset)) return Outcome::write_failed;
  }
  return Outcome::written;
}


}  // namespace

bool write_bmp_rows(RowSource& source, const std::filesystem::path& path, const WriteOptions&, Prompt& prompt) {
  const int width = source.width();
  const int height = source.height();
  if (width <= 0 || height <= 0) {
    report_unable_to_save(path.string(), prompt);
    return false;
  }
  // Within the pixel limit, which write_picture() holds, the sizes fit the
  // header's 32-bit fields.
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~static_cast<std::size_t>(3);
  const auto image_size = static_cast<std::uint32_t>(stride * static_cast<std::size_t>(height));

  FileSink file;
  if (!file.open(path)) {
    report_unable_to_save(path.string(), errno, prompt);
    return false;
  }
  const BmpHeader header = make_header(width, height, image_size);
  Outcome outcome = Outcome::write_failed;
  if (file.write_at(header.data(), header.size(), 0) &&
      ::ftruncate(file.fd(), static_cast<off_t>(kHeaderSize + image_size)) == 0)
    outcome = write_rows(source, file, stride);
  if (outcome == Outcome::written && file.commit()) return true;
  // The system's reason of a failed write or commit; rows that ended have none.
  const int error = outcome == Outcome::rows_ended ? 0 : errno;

  // A stop or a failure leaves the earlier file, if any, as it was.
  file.roll_back();
  if (outcome != Outcome::rows_ended || !source.stop_requested()) report_unable_to_save(path.string(), error, prompt);
  return false;
}

bool write_bmp_image(const Foto& foto, const std::filesystem::path& path, Prompt& prompt) {
  FotoRowSource source(foto);
  return write_picture(FormatWriter::bmp, source, path, WriteOptions{}, prompt);
}

}  // namespace tess
