#include "images/jpeg_decoder.hpp"

#include <algorithm>
#include <csetjmp>
#include <cstdio>  // before jpeglib.h, which needs FILE
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <sys/stat.h>

#include <jpeglib.h>
#include <jerror.h>  // after jpeglib.h, which it relies on

#include "base/text.hpp"
#include "images/bounded_input.hpp"
#include "images/exif.hpp"
#include "images/picture_decoders.hpp"
#include "images/foto_budget.hpp"
#include "images/load_failure.hpp"
#include "images/row_reduction.hpp"

namespace tess {
namespace {

// libjpeg's own working memory, apart from the picture we allocate. A
// progressive file keeps every coefficient of the picture until the last
// scan, so a hostile header could otherwise ask for gigabytes up front.
// 1 GiB still holds the coefficients of a progressive picture of some
// 180 megapixels (4:4:4).
constexpr long kJpegWorkingMemory = 1L << 30;
// Real progressive files have about ten scans; thousands of empty ones are
// only a way to keep the decoder busy.
constexpr int kMaxScans = 500;
// A Huffman-coded scan never spends more than some 420 bytes on a block
// (every coefficient at its longest code, every byte stuffed), so nothing
// past that many for each scan (one for sequential data, at most kMaxScans
// for progressive), with room for the tables and markers around the scans,
// can belong to the picture. Reading on would only read what follows the
// picture, possibly gigabytes of it, in search of an end marker.
constexpr std::uint64_t kMostBytesPerBlock = 512;
constexpr std::uint64_t kMarkerSlack = 1 << 20;
constexpr std::uint64_t kMarkerSlackPerScan = 4 << 10;
// Before the header is known there is no such bound; the segments libjpeg
// does not use are passed over unread, so what it reads up to the first
// scan is a few tables, never megabytes of them.
constexpr std::uint64_t kMostHeaderBytesRead = 64 << 20;
constexpr std::size_t kSourceBufferSize = 16 * 1024;

struct JpegErrorExit {
  jpeg_error_mgr manager;  // first: libjpeg's pointer to it is a pointer to this
  std::jmp_buf jump;
};

[[noreturn]] void jump_back(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<JpegErrorExit*>(cinfo->err)->jump, 1); }

// libjpeg only warns when the data ends early or is corrupt, and fills the
// rest of the picture with grey: those warnings fail the load. Harmless ones
// (extraneous bytes before a marker, an unknown JFIF revision) are tolerated.
bool leaves_rows_undecoded(int code) {
  switch (code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
      return true;
    default:
      return false;
  }
}

void on_message(j_common_ptr cinfo, int level) {
  if (level >= 0) return;  // trace output
  ++cinfo->err->num_warnings;
  if (leaves_rows_undecoded(cinfo->err->msg_code)) jump_back(cinfo);
}

void on_output(j_common_ptr) {}

// The bytes libjpeg decodes, read with pread(), never from a hole, and once
// the header is known no further than its picture can take.
struct BoundedSource {
  jpeg_source_mgr manager;  // first: libjpeg's pointer to it is a pointer to this
  BoundedInput input;
  bool start_of_file = true;
  bool header_known = false;             // set by bound_by_header()
  std::uint64_t read_before_header = 0;  // bytes read until then
  JOCTET buffer[kSourceBufferSize];
};

BoundedSource& source_of(j_decompress_ptr cinfo) { return *reinterpret_cast<BoundedSource*>(cinfo->src); }

void init_source(j_decompress_ptr) {}
void term_source(j_decompress_ptr) {}

boolean fill_input_buffer(j_decompress_ptr cinfo) {
  static const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};
  BoundedSource& source = source_of(cinfo);
  std::size_t got = 0;
  if (source.header_known || source.read_before_header < kMostHeaderBytesRead) {
    got = source.input.read(source.buffer, sizeof source.buffer);
    if (!source.header_known) source.read_before_header += got;
  }
  if (got == 0) {
    // The end of what may be read is an end of file, exactly as libjpeg's
    // own file source treats one.
    if (source.start_of_file) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    WARNMS(cinfo, JWRN_JPEG_EOF);
    source.manager.next_input_byte = kEndOfImage;
    source.manager.bytes_in_buffer = sizeof kEndOfImage;
    return TRUE;
  }
  source.start_of_file = false;
  source.manager.next_input_byte = source.buffer;
  source.manager.bytes_in_buffer = got;
  return TRUE;
}

// Segments libjpeg has no use for are passed over without being read.
void skip_input_data(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  BoundedSource& source = source_of(cinfo);
  const auto wanted = static_cast<std::uint64_t>(count);
  if (wanted <= source.manager.bytes_in_buffer) {
    source.manager.next_input_byte += wanted;
    source.manager.bytes_in_buffer -= static_cast<std::size_t>(wanted);
    return;
  }
  source.input.skip(wanted - source.manager.bytes_in_buffer);
  source.manager.bytes_in_buffer = 0;
}

// Bytes of the file libjpeg has taken so far.
std::uint64_t bytes_consumed(j_decompress_ptr cinfo) {
  const BoundedSource& source = source_of(cinfo);
  return source.input.offset - source.manager.bytes_in_buffer;
}

// For Huffman-coded data: the most the file may be read once the header has
// told the picture's blocks. Interleaved scans code whole MCUs, so each
// component's blocks are counted to its MCU edge. (Arithmetic coding has no
// such bound per block; holes still end its reading.)
void bound_by_header(j_decompress_ptr cinfo) {
  BoundedSource& source = source_of(cinfo);
  source.header_known = true;
  if (cinfo->arith_code) return;
  const std::uint64_t scans = cinfo->progressive_mode ? kMaxScans + 1 : 1;
  std::uint64_t blocks = 0;
  for (int c = 0; c < cinfo->num_components; ++c) {
    const jpeg_component_info& component = cinfo->comp_info[c];
    const std::uint64_t h = std::max(component.h_samp_factor, 1), v = std::max(component.v_samp_factor, 1);
    blocks += (component.width_in_blocks + h - 1) / h * h * ((component.height_in_blocks + v - 1) / v * v);
  }
  BoundedInput& input = source.input;
  input.limit = std::min(input.limit, bytes_consumed(cinfo) + scans * (blocks * kMostBytesPerBlock + kMarkerSlackPerScan) +
                                          kMarkerSlack);
}

void on_progress(j_common_ptr cinfo) {
  if (cinfo->is_decompressor && reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans)
    jump_back(cinfo);
}

// Owns one libjpeg decompressor. It lives in the frame that calls the guarded
// steps, so the error exit's jump never skips its destructor.
class JpegDecompressor {
 public:
  JpegDecompressor() {
    std::memset(&m_cinfo, 0, sizeof m_cinfo);
    m_cinfo.err = jpeg_std_error(&m_error.manager);
    m_error.manager.error_exit = jump_back;
    m_error.manager.emit_message = on_message;
    m_error.manager.output_message = on_output;
    m_progress.progress_monitor = on_progress;
    m_source.manager.init_source = init_source;
    m_source.manager.fill_input_buffer = fill_input_buffer;
    m_source.manager.skip_input_data = skip_input_data;
    m_source.manager.resync_to_restart = jpeg_resync_to_restart;
    m_source.manager.term_source = term_source;
  }
  ~JpegDecompressor() { jpeg_destroy_decompress(&m_cinfo); }  // also fine when never created
  JpegDecompressor(const JpegDecompressor&) = delete;
  JpegDecompressor& operator=(const JpegDecompressor&) = delete;

  std::jmp_buf& jump() { return m_error.jump; }
  j_decompress_ptr cinfo() { return &m_cinfo; }
  /// libjpeg's code of the error that ended the decoding.
  int error_code() const { return m_error.manager.msg_code; }

  /// Creation may already end in the error exit: call it after the jump target is set.
  void create(std::FILE* file) {
    jpeg_create_decompress(&m_cinfo);
    m_cinfo.mem->max_memory_to_use = kJpegWorkingMemory;
    m_cinfo.progress = &m_progress;  // creation clears it
    // The file is read at positions of our own, from where the caller left
    // it, and never into a hole.
    const int fd = ::fileno(file);
    const long start = std::ftell(file);
    m_source.input = BoundedInput{fd, start > 0 ? static_cast<std::uint64_t>(start) : 0};
    m_source.start_of_file = true;
    m_source.header_known = false;
    m_source.read_before_header = 0;
    m_source.manager.bytes_in_buffer = 0;
    m_source.manager.next_input_byte = nullptr;
    m_cinfo.src = &m_source.manager;
  }

 private:
  jpeg_decompress_struct m_cinfo;
  JpegErrorExit m_error;
  jpeg_progress_mgr m_progress{};
  BoundedSource m_source{};
};

enum class Outcome { decoded, failed, out_of_memory };

// For a picture shrunk further than the DCT scaling goes: one decoded row
// and the sums of one reduced row. Owned by the frame that calls the guarded
// steps, as the decompressor is.
struct RowBuffers {
  RowBuffers() = default;
  ~RowBuffers() {
    std::free(row);
    std::free(sums);
  }
  RowBuffers(const RowBuffers&) = delete;
  RowBuffers& operator=(const RowBuffers&) = delete;

  std::uint32_t* row = nullptr;
  PixelSum* sums = nullptr;
};

struct DecodeJob {
  std::FILE* file;
  std::uint64_t file_size;
  int max_w;
  int max_h;
  bool turned;  // turned a quarter after decoding, which needs a second picture
  Foto* out;
  DecodeCharge* charge;
  RowBuffers* buffers;
  PictureColour* colour;  // the embedded profile, where the file has one
  std::vector<std::uint8_t> cmyk_profile;  // a CMYK one, which the rows go through
  int decoded_w;  // the output size, for the out-of-memory report
  int decoded_h;
};

// How a row's samples become pixels: CMYK goes through the file's own CMYK
// profile where it has one.
struct RowColour {
  const std::vector<std::uint8_t>* cmyk_profile = nullptr;
  bool inverted = true;  // Adobe's CMYK, where 255 is no ink
};

std::uint64_t size_of(std::FILE* file) {
  struct stat info {};
  if (::fstat(::fileno(file), &info) != 0 || info.st_size < 0) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

// Huffman-coded sequential data spends at least one bit on every block, so
// a smaller file cannot hold the picture its header claims. Progressive and
// arithmetic-coded data have no such floor; there the memory cap and the
// premature-end check do the work.
bool file_can_hold(j_decompress_ptr cinfo, std::uint64_t file_size) {
  if (cinfo->progressive_mode || cinfo->arith_code) return true;
  std::uint64_t blocks = 0;
  for (int c = 0; c < cinfo->num_components; ++c)
    blocks += static_cast<std::uint64_t>(cinfo->comp_info[c].width_in_blocks) * cinfo->comp_info[c].height_in_blocks;
  return file_size >= blocks / 8;
}

// libjpeg's own memory for this picture, as its header declares it: every
// coefficient of the picture where the data comes in several scans
// (progressive files, and sequential ones with a scan per component), and
// in any case a band of rows for the colour and upsampling steps.
std::uint64_t working_memory(j_decompress_ptr cinfo) {
  std::uint64_t bytes = static_cast<std::uint64_t>(cinfo->output_width) * 4 * 2 * DCTSIZE;
  const bool whole_coefficients = jpeg_has_multiple_scans(cinfo) != FALSE;
  for (int c = 0; c < cinfo->num_components; ++c) {
    const jpeg_component_info& component = cinfo->comp_info[c];
    const std::uint64_t blocks_wide = component.width_in_blocks;
    bytes += blocks_wide * DCTSIZE * static_cast<std::uint64_t>(component.v_samp_factor) * DCTSIZE * 3;
    if (whole_coefficients) bytes += blocks_wide * component.height_in_blocks * DCTSIZE2 * sizeof(JCOEF);
  }
  return bytes;
}

constexpr std::uint32_t from_inverted_cmyk(std::uint32_t ink, std::uint32_t black) {
  return std::min<std::uint32_t>((ink * black + 127) / 255, 255);
}

#if defined(__x86_64__)
// Four pixels a step: sixteen bytes read (twelve used), sixteen written. The
// store of pixels x..x+3 ends at byte 4x + 16, before the first sample still
// to be read (width + 3x + 12) while x + 4 <= width; each step reads before
// it writes. The last load ends at width + 3x + 16, inside the row while
// x + 6 <= width. Returns the first pixel left to the plain loop.
__attribute__((target("ssse3"))) int widen_rgb_ssse3(std::uint32_t* row, const std::uint8_t* samples, int width) {
  // Red, green, blue of each pixel, then a zero byte (opaque): an index with
  // its top bit set makes the shuffle write zero.
  const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  int x = 0;
  for (; x + 6 <= width; x += 4) {
    const __m128i packed = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + 3 * static_cast<std::size_t>(x)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + x), _mm_shuffle_epi8(packed, spread));
  }
  return x;
}
#endif

// The pixels a vector loop widened, from the first: none where the
// processor has no byte shuffle.
int widen_rgb_vector(std::uint32_t* row, const std::uint8_t* samples, int width) {
#if defined(__x86_64__)
  static const bool shuffle = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") != 0;
  }();
  if (shuffle) return widen_rgb_ssse3(row, samples, width);
#else
  (void)row, (void)samples, (void)width;
#endif
  return 0;
}

// libjpeg writes a row's samples into the tail of the row's own words
// (decode_steps), so no second buffer is needed; widening them front to back
// never overwrites a sample that is still to be read.
void widen_row(std::uint32_t* row, int width, int components, const RowColour& colour) {
  const auto* samples = reinterpret_cast<const std::uint8_t*>(row) + static_cast<std::size_t>(4 - components) * width;
  switch (components) {
    case 1:
      for (int x = 0; x < width; ++x) {
        const std::uint32_t v = samples[x];
        row[x] = make_pixel(v, v, v);
      }
      break;
    case 3: {
      int x = widen_rgb_vector(row, samples, width);
      for (; x < width; ++x) {
        const std::uint8_t* s = samples + 3 * static_cast<std::size_t>(x);
        const std::uint32_t r = s[0], g = s[1], b = s[2];
        row[x] = make_pixel(r, g, b);
      }
      break;
    }
    case 4:
      // A CMYK row fills the row's words exactly: the profile converts it in place.
      if (colour.cmyk_profile != nullptr &&
          cmyk_to_srgb(*colour.cmyk_profile, samples, row, static_cast<std::size_t>(width), colour.inverted))
        break;
      // The inverted CMYK of Adobe files: 255 is no ink.
      for (int x = 0; x < width; ++x) {
        const std::uint8_t* s = samples + 4 * static_cast<std::size_t>(x);
        const std::uint32_t c = s[0], m = s[1], y = s[2], k = s[3];
        row[x] = make_pixel(from_inverted_cmyk(c, k), from_inverted_cmyk(m, k), from_inverted_cmyk(y, k));
      }
      break;
    default:
      break;
  }
}

// Rows decoded straight into the picture: libjpeg writes a row's samples
// into the tail of the row's own words, where widen_row() finds them.
Outcome read_rows_whole(j_decompress_ptr cinfo, Foto& out, const RowColour& colour) {
  const int components = cinfo->output_components;
  const std::size_t sample_offset = static_cast<std::size_t>(4 - components) * static_cast<std::size_t>(out.width());
  while (cinfo->output_scanline < cinfo->output_height) {
    std::uint32_t* row = out.row(static_cast<int>(cinfo->output_scanline));
    JSAMPROW samples = reinterpret_cast<JSAMPLE*>(row) + sample_offset;
    if (jpeg_read_scanlines(cinfo, &samples, 1) != 1) return Outcome::failed;
    widen_row(row, out.width(), components, colour);
  }
  return Outcome::decoded;
}

// Rows decoded one at a time into one row of their own and summed into the
// reduced pixels they fall in, so the picture is never held at the DCT size.
Outcome read_rows_reduced(j_decompress_ptr cinfo, Foto& out, int factor, RowBuffers& buffers, const RowColour& colour) {
  const int components = cinfo->output_components;
  const JDIMENSION width = cinfo->output_width;
  const auto f = static_cast<JDIMENSION>(factor);
  JSAMPROW samples = reinterpret_cast<JSAMPLE*>(buffers.row) + static_cast<std::size_t>(4 - components) * width;
  while (cinfo->output_scanline < cinfo->output_height) {
    const JDIMENSION y = cinfo->output_scanline;
    if (jpeg_read_scanlines(cinfo, &samples, 1) != 1) return Outcome::failed;
    widen_row(buffers.row, static_cast<int>(width), components, colour);
    add_to_sums(buffers.sums, buffers.row, width, 0, 0, factor);
    if ((y + 1) % f == 0 || y + 1 == cinfo->output_height)
      finish_reduced_row(buffers.sums, out.row(static_cast<int>(y / f)), out.width(), width, factor, y % f + 1);
  }
  return Outcome::decoded;
}

// The profile the file embeds: a CMYK one converts the rows as they are
// read, any other is handed on for the loader's conversion.
void take_profile(j_decompress_ptr cinfo, DecodeJob& job, RowColour& row_colour) {
  PictureColour& colour = *job.colour;
  JOCTET* data = nullptr;
  unsigned int length = 0;
  if (jpeg_read_icc_profile(cinfo, &data, &length) == FALSE || data == nullptr) return;
  colour.icc.assign(data, data + length);
  std::free(data);
  // A CMYK profile describes the four samples, not the pixels they become.
  if (length >= 20 && std::memcmp(colour.icc.data() + 16, "CMYK", 4) == 0) {
    if (cinfo->out_color_space == JCS_CMYK) {
      job.cmyk_profile = std::move(colour.icc);
      row_colour.cmyk_profile = &job.cmyk_profile;
      row_colour.inverted = cinfo->saw_Adobe_marker != FALSE;
    }
    colour.icc.clear();
  }
}

// Header, DCT scale, allocation and the rows, in that order.
// Any libjpeg call may leave through the error exit, so nothing here owns
// anything: the decompressor, the buffers and the picture belong to the caller.
Outcome decode_steps(JpegDecompressor& decompressor, DecodeJob& job) {
  j_decompress_ptr cinfo = decompressor.cinfo();
  decompressor.create(job.file);
  // Colour profiles come in APP2 segments, which are kept; the others are passed over unread.
  jpeg_save_markers(cinfo, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(cinfo, TRUE);
  bound_by_header(cinfo);
  RowColour row_colour;
  take_profile(cinfo, job, row_colour);
  cinfo->scale_num = 1;
  cinfo->scale_denom = static_cast<unsigned>(jpeg_scale_denominator(
      static_cast<int>(cinfo->image_width), static_cast<int>(cinfo->image_height), job.max_w, job.max_h));
  jpeg_calc_output_dimensions(cinfo);
  const int components = cinfo->output_components;
  if (components != 1 && components != 3 && components != 4) return Outcome::failed;
  if (!file_can_hold(cinfo, job.file_size)) return Outcome::failed;
  // A picture that the DCT scaling leaves larger than an ordinary photo is
  // shrunk further while its rows are read.
  const int factor = row_reduction_factor(cinfo->output_width, cinfo->output_height, false, job.max_w, job.max_h);
  // What the decoding will take is charged before libjpeg or we allocate
  // any of it, waiting for room while other loads run. Coefficients beyond
  // libjpeg's own cap would only be refused by it.
  const std::uint64_t working = working_memory(cinfo);
  if (working > static_cast<std::uint64_t>(kJpegWorkingMemory)) return Outcome::failed;
  job.decoded_w = static_cast<int>(reduced_side(cinfo->output_width, factor));
  job.decoded_h = static_cast<int>(reduced_side(cinfo->output_height, factor));
  const std::uint64_t picture = static_cast<std::uint64_t>(job.decoded_w) * static_cast<std::uint64_t>(job.decoded_h) * 4;
  const std::uint64_t row_buffers =
      factor == 1 ? 0 : 4 * std::uint64_t{cinfo->output_width} + sizeof(PixelSum) * static_cast<std::uint64_t>(job.decoded_w);
  if (!job.charge->take(picture * (job.turned ? 2 : 1) + working + row_buffers)) return Outcome::out_of_memory;

  jpeg_start_decompress(cinfo);
  if (!job.out->try_allocate(job.decoded_w, job.decoded_h)) return Outcome::out_of_memory;
  if (factor > 1) {
    job.buffers->row = static_cast<std::uint32_t*>(std::malloc(4 * static_cast<std::size_t>(cinfo->output_width)));
    job.buffers->sums = static_cast<PixelSum*>(std::calloc(static_cast<std::size_t>(job.decoded_w), sizeof(PixelSum)));
    if (job.buffers->row == nullptr || job.buffers->sums == nullptr) return Outcome::out_of_memory;
  }
  const Outcome rows = factor == 1 ? read_rows_whole(cinfo, *job.out, row_colour)
                                   : read_rows_reduced(cinfo, *job.out, factor, *job.buffers, row_colour);
  if (rows != Outcome::decoded) return rows;
  jpeg_finish_decompress(cinfo);
  return Outcome::decoded;
}

Outcome guarded_decode(JpegDecompressor& decompressor, DecodeJob& job) {
  if (setjmp(decompressor.jump()) != 0) return Outcome::failed;
  return decode_steps(decompressor, job);
}

bool header_steps(JpegDecompressor& decompressor, std::FILE* file, JpegHeader& header) {
  j_decompress_ptr cinfo = decompressor.cinfo();
  decompressor.create(file);
  jpeg_read_header(cinfo, TRUE);
  header.width = static_cast<int>(cinfo->image_width);
  header.height = static_cast<int>(cinfo->image_height);
  header.pixel_count = static_cast<std::int64_t>(header.width) * header.height;
  header.components = cinfo->num_components;
  header.color_space = static_cast<int>(cinfo->jpeg_color_space);
  if (cinfo->density_unit == 1) {  // dots per inch
    header.dpi_x = cinfo->X_density;
    header.dpi_y = cinfo->Y_density;
  } else if (cinfo->density_unit == 2) {  // dots per centimetre
    header.dpi_x = cinfo->X_density * 2.54;
    header.dpi_y = cinfo->Y_density * 2.54;
  }
  return true;
}

bool guarded_header(JpegDecompressor& decompressor, std::FILE* file, JpegHeader& header) {
  if (setjmp(decompressor.jump()) != 0) return false;
  return header_steps(decompressor, file, header);
}

}  // namespace

Status apply_orientation(Foto& picture, int orientation) {
  switch (orientation) {
    case 2:
      picture.mirror();
      return {};
    case 3:
      picture.mirror();
      picture.flip();
      return {};
    case 4:
      picture.flip();
      return {};
    case 5:
      picture.mirror();
      return picture.rotate(-90);
    case 6:
      return picture.rotate(90);
    case 7:
      picture.mirror();
      return picture.rotate(90);
    case 8:
      return picture.rotate(-90);
    default:
      return {};  // 1, or no orientation at all
  }
}


int jpeg_scale_denominator(int width, int height, int max_w, int max_h) {
  if (max_w <= 0 || max_h <= 0) return 1;
  const int q = std::min(width / max_w, height / max_h);
  if (q >= 8) return 8;
  if (q >= 4) return 4;
  if (q >= 2) return 2;
  return 1;
}

int jpeg_load_factor(int width, int height, int max_w, int max_h) {
  const int denominator = jpeg_scale_denominator(width, height, max_w, max_h);
  // libjpeg rounds the scaled sides up.
  const std::uint64_t scaled_w = reduced_side(static_cast<std::uint64_t>(std::max(width, 0)), denominator);
  const std::uint64_t scaled_h = reduced_side(static_cast<std::uint64_t>(std::max(height, 0)), denominator);
  return denominator * row_reduction_factor(scaled_w, scaled_h, false, max_w, max_h);
}

Status decode_jpeg(std::FILE* file, const std::filesystem::path& path, int max_w, int max_h, Foto& out,
                   PictureColour& colour) {
  if (file == nullptr) return Status::failure(format(tr("Unable to open file '%s'"), path.string()));
  // A picture stored on its side is turned after decoding, so the maxima
  // apply to it turned.
  const int orientation = exif_integer_tag(path, kExifTagOrientation, 0, 1, 8, -1);
  if (orientation >= 5) std::swap(max_w, max_h);

  // Held until the picture is turned: that needs a second one for a moment.
  DecodeCharge charge;
  RowBuffers buffers;
  DecodeJob job{file, size_of(file), max_w, max_h, orientation >= 5, &out, &charge, &buffers, &colour, {}, 0, 0};
  Outcome outcome;
  int error_code = 0;
  {
    JpegDecompressor decompressor;
    outcome = guarded_decode(decompressor, job);
    error_code = decompressor.error_code();
  }
  switch (outcome) {
    case Outcome::decoded:
      return apply_orientation(out, orientation);
    case Outcome::out_of_memory:
      return out_of_memory(job.decoded_w, job.decoded_h, "!!");
    case Outcome::failed:
      break;
  }
  // Debian's libjpeg is built for 8-bit samples: a 12-bit picture is a
  // format this system cannot decode, not a damaged file.
  if (error_code == JERR_BAD_PRECISION)
    return unsupported_picture(path, tr("12-bit JPEG, which this system's JPEG library does not decode"));
  return Status::failure(format(tr("Unable to load file '%s'"), path.string()));
}

bool read_jpeg_header(std::FILE* file, JpegHeader& header) {
  header = JpegHeader{};
  if (file == nullptr) return false;
  JpegDecompressor decompressor;
  if (guarded_header(decompressor, file, header)) return true;
  header = JpegHeader{};
  return false;
}

namespace {

bool read_jpeg_picture_size(std::FILE* file, const std::filesystem::path& path, int& width, int& height) {
  JpegHeader header;
  width = height = 0;
  if (!read_jpeg_header(file, header)) return false;
  width = header.width;
  height = header.height;
  // Orientations 5 to 8 turn the picture by a quarter.
  if (exif_integer_tag(path, kExifTagOrientation, 0, 1, 8, 1) >= 5) std::swap(width, height);
  return true;
}

int jpeg_picture_load_factor(std::FILE* file, const std::filesystem::path& path, int max_w, int max_h) {
  JpegHeader header;
  if (!read_jpeg_header(file, header)) return 0;
  // As the decoder does: a picture stored on its side is turned after
  // decoding, so the maxima apply to it turned.
  if (exif_integer_tag(path, kExifTagOrientation, 0, 1, 8, -1) >= 5) std::swap(max_w, max_h);
  return jpeg_load_factor(header.width, header.height, max_w, max_h);
}

}  // namespace

const PictureDecoder& jpeg_picture_decoder() {
  static constexpr PictureDecoder decoder{decode_jpeg, read_jpeg_picture_size, jpeg_picture_load_factor};
  return decoder;
}

}  // namespace tess
