#include "images/png_decoder.hpp"

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <utility>

#include <sys/stat.h>

#include <png.h>

#include "base/text.hpp"
#include "images/bounded_input.hpp"
#include "images/exif.hpp"
#include "images/foto_budget.hpp"
#include "images/picture_decoders.hpp"
#include "images/row_reduction.hpp"

namespace tess {
namespace {

// libpng's default limit, stated here so that no build of it can raise it.
constexpr png_uint_32 kMaxSide = 1000000;
// Deflate never turns one byte into more than 1032 (a 258-byte match coded
// in two bits), which bounds the picture a file of a given size can hold.
constexpr std::uint64_t kDeflateMaxRatio = 1032;
// Room for the chunks and zlib framing around the picture data.
constexpr std::uint64_t kContainerSlack = 4096;
// What libpng keeps beside the picture: the row being read, the previous row
// for the filters and the row after its transformations.
constexpr std::uint64_t kLibpngRowBuffers = 3;

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
    std::free(row);
    std::free(sums);
  }
  PngReader(const PngReader&) = delete;
  PngReader& operator=(const PngReader&) = delete;

  std::FILE* file;
  BoundedInput input;  // what libpng reads, after the signature
  png_structp png = nullptr;
  png_infop info = nullptr;
  png_bytep* rows = nullptr;
  // Only for a picture shrunk while it is read: one row as libpng hands it
  // over, and the sums of the reduced pixels it adds to.
  std::uint32_t* row = nullptr;
  PixelSum* sums = nullptr;
  // What the header says, as the file stores it.
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int file_channels = 0;
  int bit_depth = 0;
  bool interlaced = false;
  int orientation = 1;  // from an eXIf chunk before the picture data
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
  // cICP (coded primaries and transfer), which this libpng does not know, is
  // kept as an unknown chunk.
  static constexpr png_byte kCicp[5] = {'c', 'I', 'C', 'P', '\0'};
  png_set_keep_unknown_chunks(reader.png, PNG_HANDLE_CHUNK_ALWAYS, kCicp, 1);
  png_read_info(reader.png, reader.info);
  reader.width = png_get_image_width(reader.png, reader.info);
  reader.height = png_get_image_height(reader.png, reader.info);
  reader.file_channels = png_get_channels(reader.png, reader.info);
  reader.bit_depth = png_get_bit_depth(reader.png, reader.info);
  reader.interlaced = png_get_interlace_type(reader.png, reader.info) != PNG_INTERLACE_NONE;
  png_uint_32 exif_size = 0;
  png_bytep exif = nullptr;
  if (png_get_eXIf_1(reader.png, reader.info, &exif_size, &exif) != 0 && exif != nullptr)
    reader.orientation = exif_block_integer_tag({exif, exif_size}, kExifTagOrientation, 0, 1, 8, 1);
}

// What the header chunks say about the colours.
void read_colour(const PngReader& reader, PictureColour& colour) {
  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 profile_size = 0;
  if (png_get_iCCP(reader.png, reader.info, &name, &compression, &profile, &profile_size) != 0 && profile != nullptr)
    colour.icc.assign(profile, profile + profile_size);
  int intent = 0;
  colour.srgb = png_get_sRGB(reader.png, reader.info, &intent) != 0;
  double gamma = 0;
  if (png_get_gAMA(reader.png, reader.info, &gamma) != 0) colour.file_gamma = gamma;
  double* c = colour.chromaticities;
  colour.has_chromaticities =
      png_get_cHRM(reader.png, reader.info, &c[0], &c[1], &c[2], &c[3], &c[4], &c[5], &c[6], &c[7]) != 0;
  // cICP comes before every other description: the others are only for
  // readers that do not know it.
  png_unknown_chunkp chunks = nullptr;
  const int count = png_get_unknown_chunks(reader.png, reader.info, &chunks);
  for (int i = 0; i < count; ++i) {
    if (std::memcmp(chunks[i].name, "cICP", 4) != 0 || chunks[i].size < 2 || chunks[i].data == nullptr) continue;
    colour = PictureColour{};
    colour.primaries = chunks[i].data[0];
    colour.transfer = chunks[i].data[1];
    break;
  }
}

// Every picture comes out as 8-bit red, green, blue and transparency: grey
// and palette pictures are widened, a colour key becomes an alpha channel,
// pictures without alpha get an opaque filler byte, and alpha is inverted
// into transparency. May leave through libpng's jump.
// A picture shrunk while it is read takes the passes of an interlaced file
// as they come (`deinterlace` false) and places each pixel itself.
void request_expansion(PngReader& reader, bool deinterlace) {
  png_structp png = reader.png;
  const int color_type = png_get_color_type(png, reader.info);
  if (deinterlace) png_set_interlace_handling(png);
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

bool guarded_header(PngReader& reader) {
  if (setjmp(png_jmpbuf(reader.png)) != 0) return false;
  read_header_steps(reader);
  return true;
}

bool guarded_expansion(PngReader& reader, bool deinterlace) {
  if (setjmp(png_jmpbuf(reader.png)) != 0) return false;
  request_expansion(reader, deinterlace);
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

// What a load by `factor` holds at its peak: the picture, libpng's rows, and
// for a whole picture the row table, for a shrunk one the row being read and
// the sums (of one reduced row, or of every reduced pixel for an interlaced
// file, whose passes each cross the whole picture).
std::uint64_t load_cost(png_uint_32 width, png_uint_32 height, bool interlaced, int factor) {
  const std::uint64_t row_bytes = 4 * static_cast<std::uint64_t>(width);
  const std::uint64_t libpng = kLibpngRowBuffers * (row_bytes + 1);
  const std::uint64_t w = reduced_side(width, factor);
  const std::uint64_t h = reduced_side(height, factor);
  if (factor == 1) return w * h * 4 + h * sizeof(png_bytep) + libpng;
  const std::uint64_t sums = interlaced ? w * h : w;
  return w * h * 4 + row_bytes + sums * sizeof(PixelSum) + libpng;
}

// Reads the rows one at a time into the shrunk picture. May leave through
// libpng's jump; owns nothing.
void read_reduced_steps(PngReader& reader, Foto& out, int factor) {
  const png_uint_32 width = reader.width;
  const png_uint_32 height = reader.height;
  auto* row = reinterpret_cast<png_bytep>(reader.row);
  if (!reader.interlaced) {
    for (png_uint_32 y = 0; y < height; ++y) {
      png_read_row(reader.png, row, nullptr);
      add_to_sums(reader.sums, reader.row, width, 0, 0, factor);
      if ((y + 1) % static_cast<png_uint_32>(factor) == 0 || y + 1 == height)
        finish_reduced_row(reader.sums, out.row(static_cast<int>(y / static_cast<png_uint_32>(factor))), out.width(),
                           width, factor, y % static_cast<png_uint_32>(factor) + 1);
    }
    return;
  }
  // Each pass is a small picture of its own, spread over the whole of it;
  // libpng leaves out the passes that hold no pixel.
  for (int pass = 0; pass < 7; ++pass) {
    const png_uint_32 columns = PNG_PASS_COLS(width, pass);
    const png_uint_32 rows = PNG_PASS_ROWS(height, pass);
    if (columns == 0 || rows == 0) continue;
    for (png_uint_32 r = 0; r < rows; ++r) {
      png_read_row(reader.png, row, nullptr);
      const std::uint64_t y = PNG_ROW_FROM_PASS_ROW(static_cast<std::uint64_t>(r), pass);
      add_to_sums(reader.sums + (y / static_cast<std::uint64_t>(factor)) * static_cast<std::uint64_t>(out.width()),
                  reader.row, columns, PNG_PASS_START_COL(pass), PNG_PASS_COL_SHIFT(pass), factor);
    }
  }
  for (int y = 0; y < out.height(); ++y) {
    const std::uint64_t covered = std::min<std::uint64_t>(
        factor, height - static_cast<std::uint64_t>(y) * static_cast<std::uint64_t>(factor));
    finish_reduced_row(reader.sums + static_cast<std::size_t>(y) * static_cast<std::size_t>(out.width()), out.row(y),
                       out.width(), width, factor, covered);
  }
}

bool guarded_read_reduced(PngReader& reader, Foto& out, int factor) {
  if (setjmp(png_jmpbuf(reader.png)) != 0) return false;
  read_reduced_steps(reader, out, factor);
  return true;
}

struct DecodeJob {
  int max_w;
  int max_h;
  Foto* out;
  DecodeCharge* charge;
  PictureColour* colour;
  int orientation = 1;
  int decoded_w = 0;  // the size allocated, for the out-of-memory report
  int decoded_h = 0;
};

Outcome read_whole(PngReader& reader, Foto& out) {
  const int height = out.height();
  reader.rows = static_cast<png_bytep*>(std::malloc(static_cast<std::size_t>(height) * sizeof(png_bytep)));
  if (reader.rows == nullptr) return Outcome::row_table_failed;
  // Rows are decoded straight into the picture.
  for (int y = 0; y < height; ++y) reader.rows[y] = reinterpret_cast<png_bytep>(out.row(y));
  if (!guarded_read_image(reader)) return Outcome::read_image_failed;
  return Outcome::decoded;
}

Outcome read_reduced(PngReader& reader, Foto& out, int factor) {
  const std::size_t sums = reader.interlaced ? out.pixel_count() : static_cast<std::size_t>(out.width());
  reader.row = static_cast<std::uint32_t*>(std::malloc(4 * static_cast<std::size_t>(reader.width)));
  reader.sums = static_cast<PixelSum*>(std::calloc(sums, sizeof(PixelSum)));
  if (reader.row == nullptr || reader.sums == nullptr) return Outcome::out_of_memory;
  if (!guarded_read_reduced(reader, out, factor)) return Outcome::read_image_failed;
  return Outcome::decoded;
}

Outcome decode_steps(PngReader& reader, DecodeJob& job) {
  const std::uint64_t file_size = size_of(reader.file);
  if (Outcome opened = open_structures(reader); opened != Outcome::decoded) return opened;
  if (!guarded_header(reader)) return Outcome::init_io_failed;
  read_colour(reader, *job.colour);
  job.orientation = reader.orientation;
  // A picture stored on its side is turned after decoding, so the maxima
  // apply to it turned.
  const bool turned = reader.orientation >= 5;
  if (turned) std::swap(job.max_w, job.max_h);
  const int factor = row_reduction_factor(reader.width, reader.height, reader.interlaced, job.max_w, job.max_h);
  if (!guarded_expansion(reader, factor == 1)) return Outcome::init_io_failed;
  if (png_get_rowbytes(reader.png, reader.info) != 4 * static_cast<std::size_t>(reader.width))
    return Outcome::unsupported_layout;
  // Sizes come from the file: checked against it before anything is allocated.
  if (!file_can_hold(reader, file_size)) return Outcome::read_image_failed;
  job.decoded_w = static_cast<int>(reduced_side(reader.width, factor));
  job.decoded_h = static_cast<int>(reduced_side(reader.height, factor));
  // Then charged to the memory every load shares, waiting for room.
  // Turning needs a second picture for a moment.
  const std::uint64_t turning = turned ? std::uint64_t{4} * static_cast<std::uint64_t>(job.decoded_w) *
                                             static_cast<std::uint64_t>(job.decoded_h)
                                       : 0;
  if (!job.charge->take(load_cost(reader.width, reader.height, reader.interlaced, factor) + turning))
    return Outcome::out_of_memory;
  if (!job.out->try_allocate(job.decoded_w, job.decoded_h)) return Outcome::out_of_memory;
  return factor == 1 ? read_whole(reader, *job.out) : read_reduced(reader, *job.out, factor);
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

Status decode_png(std::FILE* file, const std::filesystem::path& path, int max_w, int max_h, Foto& out,
                  PictureColour& colour) {
  try {
    if (file == nullptr) return Status::failure(format(tr("PNG: File %s could not be opened for reading"), path.string()));
    DecodeCharge charge;
    DecodeJob job{max_w, max_h, &out, &charge, &colour};
    Outcome outcome;
    {
      PngReader reader(file);
      outcome = decode_steps(reader, job);
    }
    if (outcome == Outcome::decoded) return apply_orientation(out, job.orientation);
    if (outcome == Outcome::out_of_memory) return out_of_memory(job.decoded_w, job.decoded_h);
    return Status::failure(failure_text(outcome, path.string()));
  } catch (const std::exception&) {
    return Status::failure(format(tr("Internal error while loading file %s. Please contact the author of Tessellarium "
                                     "and report this error."),
                                  path.string()));
  }
}

bool read_png_size(std::FILE* file, int& width, int& height) {
  width = 0;
  height = 0;
  if (file == nullptr) return false;
  PngReader reader(file);
  if (open_structures(reader) != Outcome::decoded || !guarded_header(reader)) return false;
  width = static_cast<int>(reader.width);
  height = static_cast<int>(reader.height);
  if (reader.orientation >= 5) std::swap(width, height);
  return true;
}

int png_load_factor(std::FILE* file, int max_w, int max_h) {
  if (file == nullptr) return 0;
  PngReader reader(file);
  if (open_structures(reader) != Outcome::decoded || !guarded_header(reader)) return 0;
  if (reader.orientation >= 5) std::swap(max_w, max_h);
  return row_reduction_factor(reader.width, reader.height, reader.interlaced, max_w, max_h);
}

namespace {

bool read_png_picture_size(std::FILE* file, const std::filesystem::path&, int& width, int& height) {
  return read_png_size(file, width, height);
}

int png_picture_load_factor(std::FILE* file, const std::filesystem::path&, int max_w, int max_h) {
  return png_load_factor(file, max_w, max_h);
}

}  // namespace

const PictureDecoder& png_picture_decoder() {
  static constexpr PictureDecoder decoder{decode_png, read_png_picture_size, png_picture_load_factor};
  return decoder;
}

}  // namespace tess
