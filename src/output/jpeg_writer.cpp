#include "output/jpeg_writer.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>  // before jpeglib.h, which needs FILE
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <system_error>
#include <vector>


#include <jpeglib.h>
#include <jerror.h>

#include "base/file_sink.hpp"
#include "base/prompt.hpp"
#include "base/text.hpp"
#include "images/foto.hpp"
#include "images/picture_colour.hpp"
#include "output/output_file.hpp"
#include "output/row_source.hpp"

namespace tess {
namespace {

// The density fields of the JFIF header are 16 bits wide.
constexpr int kMaxDensity = 65535;

struct JpegErrorExit {
  jpeg_error_mgr manager;  // first: libjpeg's pointer to it is a pointer to this
  std::jmp_buf jump;
};

[[noreturn]] void jump_back(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<JpegErrorExit*>(cinfo->err)->jump, 1); }

void on_output(j_common_ptr) {}

// Owns one libjpeg compressor. It lives in the frame that calls the guarded
// steps, so the error exit's jump never skips its destructor.
class JpegCompressor {
 public:
  JpegCompressor() {
    std::memset(&m_cinfo, 0, sizeof m_cinfo);
    m_cinfo.err = jpeg_std_error(&m_error.manager);
    m_error.manager.error_exit = jump_back;
    m_error.manager.output_message = on_output;
  }
  ~JpegCompressor() { jpeg_destroy_compress(&m_cinfo); }  // also fine when never created
  JpegCompressor(const JpegCompressor&) = delete;
  JpegCompressor& operator=(const JpegCompressor&) = delete;

  std::jmp_buf& jump() { return m_error.jump; }
  j_compress_ptr cinfo() { return &m_cinfo; }

 private:
  jpeg_compress_struct m_cinfo;
  JpegErrorExit m_error;
};

enum class Outcome { written, rows_ended, codec_error };

// libjpeg's output goes through this buffer to the sink; a failed write
// leaves through the error exit like any codec error.
constexpr std::size_t kDestinationBuffer = 65536;

struct SinkDestination {
  jpeg_destination_mgr manager;  // first: libjpeg's pointer to it is a pointer to this
  FileSink* file;
  JOCTET buffer[kDestinationBuffer];
};

void start_destination(j_compress_ptr cinfo) {
  auto* destination = reinterpret_cast<SinkDestination*>(cinfo->dest);
  destination->manager.next_output_byte = destination->buffer;
  destination->manager.free_in_buffer = kDestinationBuffer;
}

boolean empty_destination(j_compress_ptr cinfo) {
  auto* destination = reinterpret_cast<SinkDestination*>(cinfo->dest);
  if (!destination->file->write(destination->buffer, kDestinationBuffer)) ERREXIT(cinfo, JERR_FILE_WRITE);
  start_destination(cinfo);
  return TRUE;
}

void finish_destination(j_compress_ptr cinfo) {
  auto* destination = reinterpret_cast<SinkDestination*>(cinfo->dest);
  const std::size_t used = kDestinationBuffer - destination->manager.free_in_buffer;
  if (used > 0 && !destination->file->write(destination->buffer, used)) ERREXIT(cinfo, JERR_FILE_WRITE);
}

struct EncodeJob {
  RowSource* source;
  SinkDestination* destination;
  int quality;
  int dpi;
  bool grey;
  JSAMPLE* samples;  // one packed row
};

void pack_colour(const std::uint32_t* row, JSAMPLE* out, int width) {
  for (int x = 0; x < width; ++x) {
    const std::uint32_t p = row[x];
    *out++ = static_cast<JSAMPLE>(pixel_red(p));
    *out++ = static_cast<JSAMPLE>(pixel_green(p));
    *out++ = static_cast<JSAMPLE>(pixel_blue(p));
  }
}

void pack_grey(const std::uint32_t* row, JSAMPLE* out, int width) {
  for (int x = 0; x < width; ++x) {
    const std::uint32_t p = row[x];
    const double grey = 0.587 * pixel_green(p) + 0.299 * pixel_red(p) + 0.114 * pixel_blue(p);
    out[x] = static_cast<JSAMPLE>(std::min(255.0, grey));
  }
}

// The picture's size and the codec settings every JPEG of the program gets,
// then the start of the file. May leave through the error exit.
/// Pixels lie in memory as red, green, blue, then transparency: libjpeg-turbo
/// reads such rows as they are, the fourth byte unread.
constexpr bool kPixelsReadAsRgbx = std::endian::native == std::endian::little;

void start_compressor(j_compress_ptr cinfo, int width, int height, bool grey, int quality, int dpi,
                      bool whole_pixels, bool srgb_profile) {
  cinfo->image_width = static_cast<JDIMENSION>(width);
  cinfo->image_height = static_cast<JDIMENSION>(height);
  cinfo->input_components = grey ? 1 : whole_pixels ? 4 : 3;
  cinfo->in_color_space = grey ? JCS_GRAYSCALE : whole_pixels ? JCS_EXT_RGBX : JCS_RGB;
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, std::clamp(quality, 1, 100), TRUE);
  if (dpi > 0) {
    cinfo->density_unit = 1;  // dots per inch
    cinfo->X_density = static_cast<UINT16>(std::min(dpi, kMaxDensity));
    cinfo->Y_density = cinfo->X_density;
  }
  jpeg_start_compress(cinfo, TRUE);
  // The sRGB profile tells colour-managed viewers and print shops what the
  // numbers mean instead of leaving them to guess. A grey picture gets none:
  // an RGB profile does not describe one channel, and readers that check
  // would throw it away or refuse the file.
  const std::span<const std::uint8_t> profile = srgb_icc_profile();
  if (srgb_profile && !grey && !profile.empty())
    jpeg_write_icc_profile(cinfo, profile.data(), static_cast<unsigned int>(profile.size()));
}

// Settings, then the rows, then the trailer. Any libjpeg call may leave
// through the error exit, so nothing here owns anything.
Outcome encode_steps(JpegCompressor& compressor, EncodeJob& job) {
  j_compress_ptr cinfo = compressor.cinfo();
  jpeg_create_compress(cinfo);
  job.destination->manager.init_destination = start_destination;
  job.destination->manager.empty_output_buffer = empty_destination;
  job.destination->manager.term_destination = finish_destination;
  cinfo->dest = &job.destination->manager;
  const int width = job.source->width();
  // Colour rows go to the codec as they are, without a packed copy; the
  // codec works out the same colours from them.
  const bool whole_pixels = !job.grey && kPixelsReadAsRgbx;
  start_compressor(cinfo, width, job.source->height(), job.grey, job.quality, job.dpi, whole_pixels, true);
  while (cinfo->next_scanline < cinfo->image_height) {
    const std::uint32_t* row = job.source->next_row();
    // libjpeg would refuse to finish a picture with rows missing; a short
    // source is a failed file, whatever the codec says.
    if (row == nullptr) return Outcome::rows_ended;
    JSAMPROW samples = job.samples;
    if (whole_pixels) {
      // The codec only reads its input rows.
      samples = const_cast<JSAMPROW>(reinterpret_cast<const JSAMPLE*>(row));
    } else if (job.grey) {
      pack_grey(row, job.samples, width);
    } else {
      pack_colour(row, job.samples, width);
    }
    jpeg_write_scanlines(cinfo, &samples, 1);
  }
  jpeg_finish_compress(cinfo);  // writes what the buffer still holds
  return Outcome::written;
}

Outcome guarded_encode(JpegCompressor& compressor, EncodeJob& job) {
  if (setjmp(compressor.jump()) != 0) return Outcome::codec_error;
  return encode_steps(compressor, job);
}


bool write_jpeg(RowSource& source, const std::filesystem::path& path, int quality, int dpi, bool grey,
                const std::string& out_of_memory, Prompt& prompt) {
  const int width = source.width();
  const int height = source.height();
  if (width <= 0 || height <= 0) {
    report_unable_to_save(path.string(), prompt);
    return false;
  }
  std::unique_ptr<JSAMPLE[]> samples(new (std::nothrow) JSAMPLE[static_cast<std::size_t>(width) * 3 + 4]);
  if (!samples) {
    prompt.message(out_of_memory, Icon::error);
    return false;
  }

  errno = 0;
  FileSink file;
  if (!file.open(path)) {
    const int error = errno;
    prompt.message(format(tr("Unable to save file '%s'") + ". " + tr("Error %ld"), path.string(), static_cast<long>(error)) +
                       ": " + system_error_text(error, path.string()),
                   Icon::error);
    return false;
  }
  std::unique_ptr<SinkDestination> destination(new (std::nothrow) SinkDestination{});
  if (!destination) {
    prompt.message(out_of_memory, Icon::error);
    return false;
  }
  destination->file = &file;

  Outcome outcome;
  {
    JpegCompressor compressor;
    EncodeJob job{&source, destination.get(), quality, dpi, grey, samples.get()};
    outcome = guarded_encode(compressor, job);
  }
  if (outcome == Outcome::written && file.commit()) return true;
  // The system's reason of a failed write or commit; rows that ended have none.
  const int error = outcome == Outcome::rows_ended ? 0 : errno;

  // A stop or a failure leaves the earlier file, if any, as it was.
  file.roll_back();
  if (outcome != Outcome::rows_ended || !source.stop_requested()) report_unable_to_save(path.string(), error, prompt);
  return false;
}

// A picture encoded into memory: libjpeg's output is gathered in `buffer`
// and appended to `bytes` whenever the buffer fills.
constexpr std::size_t kMemoryBuffer = 4096;

struct MemoryDestination {
  jpeg_destination_mgr manager;  // first: libjpeg's pointer to it is a pointer to this
  std::string* bytes;
  JOCTET buffer[kMemoryBuffer];
};

void start_memory(j_compress_ptr cinfo) {
  auto* destination = reinterpret_cast<MemoryDestination*>(cinfo->dest);
  destination->manager.next_output_byte = destination->buffer;
  destination->manager.free_in_buffer = kMemoryBuffer;
}

// Appends without letting an exception pass through the C library.
bool append_bytes(MemoryDestination& destination, std::size_t used) {
  try {
    destination.bytes->append(reinterpret_cast<const char*>(destination.buffer), used);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

boolean empty_memory(j_compress_ptr cinfo) {
  auto* destination = reinterpret_cast<MemoryDestination*>(cinfo->dest);
  if (!append_bytes(*destination, kMemoryBuffer)) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
  start_memory(cinfo);
  return TRUE;
}

void finish_memory(j_compress_ptr cinfo) {
  auto* destination = reinterpret_cast<MemoryDestination*>(cinfo->dest);
  const std::size_t used = kMemoryBuffer - destination->manager.free_in_buffer;
  if (used > 0 && !append_bytes(*destination, used)) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
}

}  // namespace

struct JpegStreamEncoder::State {
  JpegCompressor compressor;
  MemoryDestination destination{};
  std::string bytes;
  std::vector<JSAMPLE> samples;
  int width = 0;
  int height = 0;
  int rows = 0;
  bool created = false;
};

JpegStreamEncoder::JpegStreamEncoder() = default;
JpegStreamEncoder::~JpegStreamEncoder() = default;
JpegStreamEncoder::JpegStreamEncoder(JpegStreamEncoder&&) noexcept = default;
JpegStreamEncoder& JpegStreamEncoder::operator=(JpegStreamEncoder&&) noexcept = default;

bool JpegStreamEncoder::start(int width, int height, int quality, bool srgb_profile) {
  m_open = false;
  if (width <= 0 || height <= 0) return false;
  try {
    if (!m_state) m_state = std::make_unique<State>();
    m_state->samples.resize(static_cast<std::size_t>(width) * 3);
    m_state->bytes.clear();
  } catch (const std::bad_alloc&) {
    return false;
  }
  State& state = *m_state;
  state.width = width;
  state.height = height;
  state.rows = 0;
  j_compress_ptr cinfo = state.compressor.cinfo();
  if (setjmp(state.compressor.jump()) != 0) return false;
  // One compressor serves picture after picture; its pools go back between them.
  if (!state.created) {
    jpeg_create_compress(cinfo);
    state.created = true;
  }
  state.destination.manager.init_destination = start_memory;
  state.destination.manager.empty_output_buffer = empty_memory;
  state.destination.manager.term_destination = finish_memory;
  state.destination.bytes = &state.bytes;
  cinfo->dest = &state.destination.manager;
  start_compressor(cinfo, width, height, false, quality, 0, kPixelsReadAsRgbx, srgb_profile);
  m_open = true;
  return true;
}

bool JpegStreamEncoder::write_row(const std::uint32_t* row) {
  if (!m_open) return false;
  State& state = *m_state;
  JSAMPROW samples = state.samples.data();
  if (kPixelsReadAsRgbx) {
    samples = const_cast<JSAMPROW>(reinterpret_cast<const JSAMPLE*>(row));  // only read
  } else {
    pack_colour(row, samples, state.width);
  }
  if (setjmp(state.compressor.jump()) != 0) {
    jpeg_abort_compress(state.compressor.cinfo());
    m_open = false;
    return false;
  }
  jpeg_write_scanlines(state.compressor.cinfo(), &samples, 1);
  ++state.rows;
  return true;
}

bool JpegStreamEncoder::finish(std::string& bytes) {
  if (!m_open) return false;
  m_open = false;
  State& state = *m_state;
  if (state.rows != state.height) {
    jpeg_abort_compress(state.compressor.cinfo());
    return false;
  }
  if (setjmp(state.compressor.jump()) != 0) {
    jpeg_abort_compress(state.compressor.cinfo());
    return false;
  }
  jpeg_finish_compress(state.compressor.cinfo());
  // The file's buffer leaves with it: an encoder between pictures holds none.
  bytes = std::move(state.bytes);
  state.bytes = std::string();
  return true;
}

bool write_jpeg_rows(RowSource& source, const std::filesystem::path& path, const WriteOptions& options,
                     Prompt& prompt) {
  return write_jpeg(source, path, options.jpeg_quality, options.dpi, false,
                    out_of_memory_text(source.width(), 3) + "!!!!", prompt);
}

bool write_jpeg_image(const Foto& foto, const std::filesystem::path& path, bool colour, int quality, int dpi,
                      Prompt& prompt) {
  FotoRowSource source(foto);
  const std::string out_of_memory = colour ? out_of_memory_text(foto.width(), 3) + "!!!!"
                                           : out_of_memory_text(foto.width(), foto.height()) + "!!!";
  return write_jpeg(source, path, quality, dpi, !colour, out_of_memory, prompt);
}

}  // namespace tess
