#include "output/png_writer.hpp"

#include <cerrno>
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include <png.h>

#include "base/file_sink.hpp"
#include "base/prompt.hpp"
#include "base/text.hpp"
#include "images/foto.hpp"
#include "output/format_writers.hpp"
#include "output/output_file.hpp"
#include "output/row_source.hpp"

namespace tess {
namespace {

// Deflated bytes are handed to the file in pieces of this size.
constexpr std::size_t kCompressionBuffer = 1 << 16;
constexpr double kMetresPerInch = 0.0254;

enum class Outcome { written, rows_ended, write_failed };

// libpng's errors jump back into the guarded step that called it; nothing is
// printed, the caller reports the failure in its own words.
void on_png_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void on_png_warning(png_structp, png_const_charp) {}

void write_to_sink(png_structp png, png_bytep data, std::size_t length) {
  auto* file = static_cast<FileSink*>(png_get_io_ptr(png));
  if (!file->write(data, length)) png_error(png, "write failed");
}
void flush_sink(png_structp) {}  // the sink flushes when it commits

// Owns the libpng structures. It lives in the frame that calls the guarded
// steps, so libpng's jump never skips it.
struct PngStructures {
  PngStructures() {
    png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, on_png_error, on_png_warning);
    if (png != nullptr) info = png_create_info_struct(png);
  }
  ~PngStructures() {
    if (png != nullptr) png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
  }
  PngStructures(const PngStructures&) = delete;
  PngStructures& operator=(const PngStructures&) = delete;

  png_structp png = nullptr;
  png_infop info = nullptr;
};

// The header chunks. The guarded steps hold no C++ object that a jump could skip.
bool guarded_start(PngStructures& s, FileSink& file, int width, int height, bool alpha, int dpi, int level) {
  if (setjmp(png_jmpbuf(s.png)) != 0) return false;
  png_set_write_fn(s.png, &file, write_to_sink, flush_sink);
  png_set_compression_buffer_size(s.png, kCompressionBuffer);
  png_set_compression_level(s.png, level);
  png_set_IHDR(s.png, s.info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  // The sRGB chunk says the colours are sRGB in 13 bytes, where a profile
  // (iCCP) would add some kilobytes to every gap chart and tile saved. Every
  // colour-managed reader knows the chunk; gAMA and cHRM are only fallbacks
  // for readers that know neither, and would restate what the chunk says.
  png_set_sRGB(s.png, s.info, PNG_sRGB_INTENT_PERCEPTUAL);
  if (dpi > 0) {
    const auto per_metre = static_cast<png_uint_32>(dpi / kMetresPerInch + 0.5);
    png_set_pHYs(s.png, s.info, per_metre, per_metre, PNG_RESOLUTION_METER);
  }
  png_write_info(s.png, s.info);
  return true;
}

bool guarded_row(png_structp png, png_bytep row) {
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  png_write_row(png, row);
  return true;
}

// The end chunk; the last deflated bytes reach the file here.
bool guarded_end(PngStructures& s) {
  if (setjmp(png_jmpbuf(s.png)) != 0) return false;
  png_write_end(s.png, s.info);
  return true;
}

Outcome write_rows(PngStructures& s, RowSource& source, AlphaSample alpha, std::uint8_t* line) {
  const int width = source.width();
  const int height = source.height();
  for (int y = 0; y < height; ++y) {
    const std::uint32_t* row = source.next_row();
    if (row == nullptr) return Outcome::rows_ended;
    std::uint8_t* out = line;
    for (int x = 0; x < width; ++x) {
      const std::uint32_t p = row[x];
      *out++ = static_cast<std::uint8_t>(pixel_red(p));
      *out++ = static_cast<std::uint8_t>(pixel_green(p));
      *out++ = static_cast<std::uint8_t>(pixel_blue(p));
      if (alpha == AlphaSample::opaque)
        *out++ = 255;
      else if (alpha == AlphaSample::from_transparency)
        *out++ = static_cast<std::uint8_t>(255 - pixel_transparency(p));
    }
    if (!guarded_row(s.png, line)) return Outcome::write_failed;
  }
  return guarded_end(s) ? Outcome::written : Outcome::write_failed;
}

bool write_png(RowSource& source, const std::filesystem::path& path, AlphaSample alpha, int dpi, int level,
               Prompt& prompt) {
  const int width = source.width();
  const int height = source.height();
  if (width <= 0 || height <= 0) {
    report_unable_to_save(path.string(), prompt);
    return false;
  }
  const std::size_t channels = alpha == AlphaSample::none ? 3 : 4;
  std::unique_ptr<std::uint8_t[]> line(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(width) * channels]);

  if (!line) {
    prompt.message(out_of_memory_text(width, 1) + "!", Icon::error);
    return false;
  }
  FileSink file;
  if (!file.open(path)) {
    report_unable_to_save(path.string(), errno, prompt);
    return false;
  }
  Outcome outcome = Outcome::write_failed;
  {
    PngStructures structures;
    if (structures.info != nullptr &&
        guarded_start(structures, file, width, height, channels == 4, dpi, level < 0 || level > 9 ? 6 : level))
      outcome = write_rows(structures, source, alpha, line.get());
  }
  if (outcome == Outcome::written && file.commit()) return true;
  // The system's reason of a failed write or commit; rows that ended have none.
  const int error = outcome == Outcome::rows_ended ? 0 : errno;

  // A stop or a failure leaves the earlier file, if any, as it was.
  file.roll_back();
  if (outcome != Outcome::rows_ended || !source.stop_requested()) report_unable_to_save(path.string(), error, prompt);
  return false;
}

}  // namespace

bool write_png_rows(RowSource& source, const std::filesystem::path& path, const WriteOptions& options,
                    Prompt& prompt) {
  return write_png(source, path, options.alpha, options.dpi, options.png_compression, prompt);
}

bool write_png_picture(const Foto& foto, const std::filesystem::path& path, Prompt& prompt, bool keep_transparency) {
  FotoRowSource source(foto);
  WriteOptions options;
  options.alpha = keep_transparency ? AlphaSample::from_transparency : AlphaSample::none;
  return write_picture(FormatWriter::png, source, path, options, prompt);
}

}  // namespace tess
