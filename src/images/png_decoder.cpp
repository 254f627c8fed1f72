#include "images/png_decoder.hpp"

#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <exception>

#include <sys/stat.h>

#include <png.h>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "images/bounded_input.hpp"

namespace tess {
namespace {

// libpng's default limit, stated here so that no build of it can raise it.
constexpr png_uint_32 kMaxSide = 1000000;
// Deflate never turns one byte into more than 1032 (a 258-byte match coded
// in two bits), which bounds the picture a file of a given size can hold.
constexpr std::uint64_t kDeflateMaxRatio = 1032;
// Room for the chunks and zlib framing around the picture data.
constexpr std::uint64_t kContainerSlack = 4096;

enum class Outcome {
  decoded,
  not_png,
  create_read_failed,
  create_info_failed,
  init_io_failed,
  unsupported_layout,
  out_of_memory,
  row_table_failed,
  read_image_failed,
};

void on_png_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void on_png_warning(png_structp, png_const_charp) {}

// Chunks are read with pread() and never into a hole: a chunk that claims
// gigabytes the file never wrote ends there as a short file.
void read_from_file(png_structp png, png_bytep data, std::size_t length) {
  auto* input = static_cast<BoundedInput*>(png_get_io_ptr(png));
  while (length > 0) {
    const std::size_t got = input->read(data, length);
    if (got == 0) png_error(png, "Read Error");
    data += got;
    length -= got;
  }
}

// Owns the libpng structures and the row-pointer table. It lives in the
// frame that calls the guarded steps, so libpng's jump never skips it.
struct PngReader {
  explicit PngReader(std::FILE* f) : file(f) {}
  ~PngReader() {
    if (png != nullptr) png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
    std::free(rows);
  }
  PngReader(const PngReader&) = delete;
  PngReader& operator=(const PngReader&) = delete;

  std::FILE* file;
  BoundedInput input;  // what libpng reads, after the signature
  png_structp png = nullptr;
  png_infop info = nullptr;
  png_bytep* rows = nullptr;
  // What the header says, as the file stores it.
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int file_channels = 0;
  int bit_depth = 0;
};

std::uint64_t size_of(std::FILE* file) {
  struct stat info {};
  if (::fstat(::fileno(file), &info) != 0 || info.st_size < 0) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

Outcome open_structures(PngReader& reader) {
  png_byte signature[8];
  if (std::fread(signature, 1, sizeof signature, reader.file) != sizeof signature ||
      png_sig_cmp(signature, 0, sizeof signature) != 0)
    return Outcome::not_png;
  reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, on_png_error, on_png_warning);
  if (reader.png == nullptr) return Outcome::create_read_failed;
  reader.info = png_create_info_struct(reader.png);
  if (reader.info == nullptr) return Outcome::create_info_failed;
  return Outcome::decoded;
}

// Reads the header chunks. May leave through libpng's jump.
void read_header_steps(PngReader& reader) {
  const int fd = ::fileno(reader.file);
  const long after_signature = std::ftell(reader.file);
  reader.input = BoundedInput{fd, after_signature > 0 ? static_cast<std::uint64_t>(after_signature) : 0};
  png_set_read_fn(reader.png, &reader.input, read_from_file);
  png_set_sig_bytes(reader.png, 8);
  png_set_user_limits(reader.png, kMaxSide, kMaxSide);
  png_read_info(reader.png, reader.info);
  reader.width = png_get_image_width(reader.png, reader.info);
  reader.height = png_get_image_height(reader.png, reader.info);
  reader.file_channels = png_get_channels(reader.png, reader.info);
  reader.bit_depth = png_get_bit_depth(reader.png, reader.info);
}

// Every picture comes out as 8-bit red, green, blue and transparency: grey
// and palette pictures are widened, a colour key becomes an alpha channel,
// pictures without alpha get an opaque filler byte, and alpha is inverted
// into transparency. May leave through libpng's jump.
void request_expansion(PngReader& reader) {
  png_structp png = reader.png;
  const int color_type = png_get_color_type(png, reader.info);
  png_set_interlace_handling(png);
  if (reader.bit_depth == 16) png_set_strip_16(png);
  if (color_type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (color_type == PNG_COLOR_TYPE_GRAY && reader.bit_depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  const bool colour_key = png_get_valid(png, reader.info, PNG_INFO_tRNS) != 0;
  if (colour_key) png_set_tRNS_to_alpha(png);
  if (color_type == PNG_COLOR_TYPE_GRAY || color_type == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  if ((color_type & PNG_COLOR_MASK_ALPHA) == 0 && !colour_key) png_set_filler(png, 0, PNG_FILLER_AFTER);
  png_set_invert_alpha(png);
  png_read_update_info(png, reader.info);
}

bool guarded_header(PngReader& reader, bool expand) {
  if (setjmp(png_jmpbuf(reader.png)) != 0) return false;
  read_header_steps(reader);
  if (expand) request_expansion(reader);
  return true;
}

bool guarded_read_image(PngReader& reader) {
  if (setjmp(png_jmpbuf(reader.png)) != 0) return false;
  png_read_image(reader.png, reader.rows);
  return true;
}

// The smallest file that could hold the picture: every row is at least its
// filter byte and its samples, deflated at the best possible ratio.
bool file_can_hold(const PngReader& reader, std::uint64_t file_size) {
  const std::uint64_t row_bits = static_cast<std::uint64_t>(reader.width) * reader.file_channels * reader.bit_depth;
  const std::uint64_t raw = static_cast<std::uint64_t>(reader.height) * (1 + (row_bits + 7) / 8);
  return raw <= (file_size + kContainerSlack) * kDeflateMaxRatio;
}

Outcome decode_steps(PngReader& reader, Foto& out) {
  const std::uint64_t file_size = size_of(reader.file);
  if (Outcome opened = open_structures(reader); opened != Outcome::decoded) return opened;
  if (!guarded_header(reader, true)) return Outcome::init_io_failed;
  if (png_get_rowbytes(reader.png, reader.info) != 4 * static_cast<std::size_t>(reader.width))
    return Outcome::unsupported_layout;
  // Sizes come from the file: checked against it before anything is allocated.
  if (!file_can_hold(reader, file_size)) return Outcome::read_image_failed;
  const int width = static_cast<int>(reader.width);
  const int height = static_cast<int>(reader.height);
  if (!out.try_allocate(width, height)) return Outcome::out_of_memory;
  reader.rows = static_cast<png_bytep*>(std::malloc(static_cast<std::size_t>(height) * sizeof(png_bytep)));
  if (reader.rows == nullptr) return Outcome::row_table_failed;
  // Rows are decoded straight into the picture.
  for (int y = 0; y < height; ++y) reader.rows[y] = reinterpret_cast<png_bytep>(out.row(y));
  if (!guarded_read_image(reader)) return Outcome::read_image_failed;
  return Outcome::decoded;
}

std::string failure_text(Outcome outcome, const std::string& name) {
  switch (outcome) {
    case Outcome::not_png:
      return format(tr("PNG: File %s is not recognized as a PNG file"), name);
    case Outcome::create_read_failed:
      return tr("PNG: png_create_read_struct failed");
    case Outcome::create_info_failed:
      return tr("PNG: png_create_info_struct failed");
    case Outcome::init_io_failed:
      return tr("PNG: Error during init_io");
    case Outcome::unsupported_layout:
      return tr("PNG: Unable to read this valid PNG file");
    case Outcome::row_table_failed:
      return tr("PNG: Unable to allocate memory");
    case Outcome::read_image_failed:
      return tr("PNG: Error during read_image");
    case Outcome::decoded:
    case Outcome::out_of_memory:
      break;
  }
  return {};
}

}  // namespace

bool decode_png(std::FILE* file, const std::filesystem::path& path, Foto& out, Prompt& report) {
  try {
    if (file == nullptr) {
      report.message(format(tr("PNG: File %s could not be opened for reading"), path.string()), Icon::error);
      return false;
    }
    PngReader reader(file);
    const Outcome outcome = decode_steps(reader, out);
    if (outcome == Outcome::decoded) return true;
    if (outcome == Outcome::out_of_memory) {
      report.message(out_of_memory_text(static_cast<int>(reader.width), static_cast<int>(reader.height)) + "!",
                     Icon::error);
      return false;
    }
    report.message(failure_text(outcome, path.string()), Icon::error);
    return false;
  } catch (const std::exception&) {
    report.message(format(tr("Internal error while loading file %s. Please contact the author of Tessellarium "
                             "and report this error."),
                          path.string()),
                   Icon::error);
    return false;
  }
}

bool read_png_size(std::FILE* file, int& width, int& height) {
  width = 0;
  height = 0;
  if (file == nullptr) return false;
  PngReader reader(file);
  if (open_structures(reader) != Outcome::decoded || !guarded_header(reader, false)) return false;
  width = static_cast<int>(reader.width);
  height = static_cast<int>(reader.height);
  return true;
}

}  // namespace tess
