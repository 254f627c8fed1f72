#include "output/tiff_writer.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <span>
#include <string>
#include <system_error>
#include <vector>


#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include "base/file_sink.hpp"
#include "base/prompt.hpp"
#include "base/text.hpp"
#include "base/version.hpp"
#include "engine/job_pool.hpp"
#include "images/foto.hpp"
#include "images/picture_colour.hpp"
#include "output/output_file.hpp"
#include "output/row_source.hpp"

namespace tess {
namespace {

// How a TIFF is laid out.
struct TiffFormat {
  bool big_tiff = false;  // BigTIFF (64-bit offsets), needed for files above 4 GiB
  bool jpeg = false;      // JPEG compression (RGB rows stored as YCbCr) instead of none
  int jpeg_quality = 75;  // 1..100, only with jpeg
  bool alpha = false;     // a fourth sample of 255 declared as unassociated alpha (uncompressed only)
  int threads = 1;        // threads compressing JPEG strips side by side
};

// Strips hold about this many bytes of uncompressed samples.
constexpr int kStripBytes = 1'000'000;
// The JPEG codec compresses whole 16-row blocks (YCbCr with 2x2 subsampling).
constexpr int kJpegRowBlock = 16;
// The longest library message kept for a report.
constexpr std::size_t kMaxLibraryMessage = 1000;

// The first error libtiff reports for one file: later ones are mostly
// consequences of it ("does not support random access" after a codec error).
struct LibraryError {
  bool seen = false;
  std::string module;
  std::string message;
};

// Handlers are attached to each file through its open options, never
// installed globally, so two files written on different threads keep their
// messages apart.
int on_library_error(TIFF*, void* user_data, const char* module, const char* fmt, va_list args) {
  auto* error = static_cast<LibraryError*>(user_data);
  if (error->seen) return 1;
  char text[kMaxLibraryMessage + 1];
  std::vsnprintf(text, sizeof text, fmt, args);
  error->seen = true;
  error->module = module != nullptr ? module : "";
  error->message = text;
  return 1;  // handled: nothing goes to standard error
}

class OpenOptions {
 public:
  explicit OpenOptions(LibraryError& error) : m_options(TIFFOpenOptionsAlloc()) {
    if (m_options != nullptr) TIFFOpenOptionsSetErrorHandlerExtR(m_options, on_library_error, &error);
  }
  ~OpenOptions() {
    if (m_options != nullptr) TIFFOpenOptionsFree(m_options);
  }
  OpenOptions(const OpenOptions&) = delete;
  OpenOptions& operator=(const OpenOptions&) = delete;

  TIFFOpenOptions* get() const { return m_options; }

 private:
  TIFFOpenOptions* m_options;
};

// The library writes through the sink, so that the file takes its name only
// once the library has closed it without a complaint.
tmsize_t read_sink(thandle_t sink, void* data, tmsize_t size) {
  return ::read(static_cast<FileSink*>(sink)->fd(), data, static_cast<std::size_t>(size));
}
tmsize_t write_sink(thandle_t sink, void* data, tmsize_t size) {
  return static_cast<FileSink*>(sink)->write(data, static_cast<std::size_t>(size)) ? size : -1;
}
toff_t seek_sink(thandle_t sink, toff_t offset, int whence) {
  const off_t at = ::lseek(static_cast<FileSink*>(sink)->fd(), static_cast<off_t>(offset), whence);
  return at < 0 ? static_cast<toff_t>(-1) : static_cast<toff_t>(at);
}
int close_sink(thandle_t) { return 0; }  // the sink closes, and commits or rolls back
toff_t sink_size(thandle_t sink) {
  struct stat info {};
  return ::fstat(static_cast<FileSink*>(sink)->fd(), &info) == 0 ? static_cast<toff_t>(info.st_size) : 0;
}
int map_sink(thandle_t, void**, toff_t*) { return 0; }
void unmap_sink(thandle_t, void*, toff_t) {}

enum class Outcome { written, rows_ended, library_failed, out_of_memory };

// The tags, in the order the file's readers have always seen them.
bool set_tags(TIFF* tif, int width, int height, int samples, const TiffFormat& tiff_format, int dpi) {
  bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(width)) == 1 &&
            TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(height)) == 1 &&
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8) == 1 &&
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples) == 1;
  if (ok && samples == 4) {
    const std::uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    ok = TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra) == 1;
  }
  if (ok && tiff_format.jpeg) {
    // The library converts the RGB rows we feed it to YCbCr itself.
    ok = TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_JPEG) == 1 &&
         TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB) == 1 &&
         TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR) == 1 &&
         TIFFSetField(tif, TIFFTAG_JPEGQUALITY, std::clamp(tiff_format.jpeg_quality, 1, 100)) == 1;
  } else if (ok) {
    ok = TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE) == 1 &&
         TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) == 1;
  }
  const auto resolution = static_cast<float>(std::max(dpi, 0));
  const std::string software =
      format("Tessellarium %d.%d.%d%s", kVersionMajor, kVersionMinor, kVersionPatch, std::string());
  // The sRGB profile, so that print shops and colour-managed viewers know
  // what the numbers mean. The tag is copied into the directory when it is
  // written; the JPEG strips hold none of their own.
  const std::span<const std::uint8_t> profile = srgb_icc_profile();
  if (ok && !profile.empty())
    ok = TIFFSetField(tif, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(profile.size()), profile.data()) == 1;
  return ok && TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1 &&
         TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) == 1 &&
         TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<double>(resolution)) == 1 &&
         TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<double>(resolution)) == 1 &&
         TIFFSetField(tif, TIFFTAG_SUBFILETYPE, 0) == 1 &&
         // Refused by the JPEG codec unless a multiple of 16 or the whole height.
         TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP,
                      static_cast<std::uint32_t>(tiff_rows_per_strip(width, height, samples, tiff_format.jpeg))) == 1 &&
         TIFFSetField(tif, TIFFTAG_SOFTWARE, software.c_str()) == 1;
}

Outcome write_rows(TIFF* tif, RowSource& source, int samples, std::unique_ptr<std::uint8_t[]>& line) {
  const int width = source.width();
  const int height = source.height();
  line.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(width) * static_cast<std::size_t>(samples)]);
  if (!line) return Outcome::out_of_memory;
  for (int y = 0; y < height; ++y) {
    const std::uint32_t* row = source.next_row();
    if (row == nullptr) return Outcome::rows_ended;
    std::uint8_t* out = line.get();
    for (int x = 0; x < width; ++x) {
      const std::uint32_t p = row[x];
      *out++ = static_cast<std::uint8_t>(pixel_red(p));
      *out++ = static_cast<std::uint8_t>(pixel_green(p));
      *out++ = static_cast<std::uint8_t>(pixel_blue(p));
      if (samples == 4) *out++ = 255;  // opaque everywhere
    }
    if (TIFFWriteScanline(tif, line.get(), static_cast<std::uint32_t>(y), 0) < 0) return Outcome::library_failed;
  }
  // The last strip is still in the library's buffer; flushing is the last
  // chance to hear that it could not be written.
  return TIFFFlush(tif) == 1 ? Outcome::written : Outcome::library_failed;
}

// --- JPEG strips compressed side by side ---------------------------------------

// Strips compressed at once for every thread: enough to keep each busy while
// the writing thread gathers the rows of the next strips.
constexpr int kStripsPerThread = 4;

// The file a strip is compressed into: libtiff sees a file that only grows,
// and only the bytes written since the last reset are kept.
struct StripFile {
  std::uint64_t base = 0;  // the file offset of bytes[0]
  std::uint64_t position = 0;
  std::uint64_t size = 0;
  std::vector<std::uint8_t> bytes;
  bool failed = false;

  void reset() {
    base = size;
    bytes.clear();
  }
};

tmsize_t read_strip_file(thandle_t, void*, tmsize_t) { return 0; }
tmsize_t write_strip_file(thandle_t handle, void* data, tmsize_t size) {
  auto* file = static_cast<StripFile*>(handle);
  const auto count = static_cast<std::uint64_t>(size);
  if (file->position >= file->base) {
    const auto at = static_cast<std::size_t>(file->position - file->base);
    try {
      if (file->bytes.size() < at + count) file->bytes.resize(at + count);
    } catch (const std::bad_alloc&) {
      file->failed = true;
      return -1;
    }
    std::memcpy(file->bytes.data() + at, data, static_cast<std::size_t>(count));
  }
  file->position += count;
  file->size = std::max(file->size, file->position);
  return size;
}
toff_t seek_strip_file(thandle_t handle, toff_t offset, int whence) {
  auto* file = static_cast<StripFile*>(handle);
  const std::uint64_t from = whence == SEEK_CUR ? file->position : whence == SEEK_END ? file->size : 0;
  file->position = from + offset;
  return file->position;
}
toff_t strip_file_size(thandle_t handle) { return static_cast<StripFile*>(handle)->size; }

// One strip: its samples as the writer packed them and the codec's bytes.
struct Strip {
  std::vector<std::uint8_t> samples;
  std::vector<std::uint8_t> compressed;
  bool compressed_ok = false;
};

// The strips of one batch and the first error a compressing job met.
struct StripBatch {
  std::vector<Strip>* strips = nullptr;
  std::uint32_t first = 0;  // the file's strip number of (*strips)[0]
  std::size_t count = 0;
  std::atomic<std::size_t> next{0};
  std::mutex error_mutex;
  LibraryError error;
};

// Compresses strips of `batch` that no other job has taken, through a TIFF of
// its own in memory with the very tags of the file: the codec then makes the
// same bytes the file's own TIFF would have made for them.
void compress_strips(StripBatch& batch, int width, int height, int samples, const TiffFormat& tiff_format, int dpi) {
  LibraryError error;
  OpenOptions options(error);
  StripFile file;
  TIFF* tif = TIFFClientOpenExt("strip", tiff_format.big_tiff ? "w8" : "w", &file, read_strip_file, write_strip_file,
                                seek_strip_file, close_sink, strip_file_size, map_sink, unmap_sink, options.get());
  bool ok = tif != nullptr && set_tags(tif, width, height, samples, tiff_format, dpi);
  for (;;) {
    const std::size_t next = batch.next.fetch_add(1);
    if (next >= batch.count) break;
    Strip& strip = (*batch.strips)[next];
    strip.compressed_ok = false;
    if (!ok) continue;
    file.reset();
    const auto number = static_cast<std::uint32_t>(batch.first + next);
    ok = TIFFWriteEncodedStrip(tif, number, strip.samples.data(), static_cast<tmsize_t>(strip.samples.size())) >= 0 &&
         !file.failed && !error.seen;
    std::uint64_t* offsets = nullptr;
    std::uint64_t* counts = nullptr;
    ok = ok && TIFFGetField(tif, TIFFTAG_STRIPOFFSETS, &offsets) == 1 &&
         TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &counts) == 1 && offsets[number] >= file.base &&
         offsets[number] - file.base + counts[number] <= file.bytes.size();
    if (!ok) continue;
    const auto begin = file.bytes.begin() + static_cast<std::ptrdiff_t>(offsets[number] - file.base);
    try {
      strip.compressed.assign(begin, begin + static_cast<std::ptrdiff_t>(counts[number]));
      strip.compressed_ok = true;
    } catch (const std::bad_alloc&) {
      ok = false;
    }
  }
  // The memory file needs no directory: cleaned up, never closed.
  if (tif != nullptr) TIFFCleanup(tif);
  if (!ok || error.seen) {
    const std::lock_guard<std::mutex> lock(batch.error_mutex);
    if (!batch.error.seen) batch.error = error;
  }
}

// The rows of `source` as JPEG strips, batches of them compressed on the
// pool and written in order. The first strip is compressed by the file's own
// TIFF, which also sets up what the codec writes into the file's directory.
Outcome write_strips_in_parallel(TIFF* tif, RowSource& source, int samples, const TiffFormat& tiff_format, int dpi,
                                 LibraryError& error) {
  const int width = source.width();
  const int height = source.height();
  const int rows_per_strip = tiff_rows_per_strip(width, height, samples, true);
  const auto strip_count = static_cast<std::uint32_t>((height + rows_per_strip - 1) / rows_per_strip);
  const int threads = std::clamp(tiff_format.threads, 1, JobPool::kMaxThreads);
  const std::size_t row_bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(samples);

  std::vector<Strip> strips;
  try {
    strips.resize(static_cast<std::size_t>(threads) * kStripsPerThread);
  } catch (const std::bad_alloc&) {
    return Outcome::out_of_memory;
  }
  JobPool pool;
  pool.start_threads(threads - 1, ThreadPriority::normal);
  JobQueue queue(pool);
  int y = 0;
  for (std::uint32_t first = 0; first < strip_count;) {
    const std::size_t count = std::min<std::size_t>(strips.size(), strip_count - first);
    // 1. The rows of the batch, packed as the codec takes them.
    for (std::size_t i = 0; i < count; ++i) {
      const int rows = std::min(rows_per_strip, height - y);
      std::vector<std::uint8_t>& packed = strips[i].samples;
      try {
        packed.resize(row_bytes * static_cast<std::size_t>(rows));
      } catch (const std::bad_alloc&) {
        return Outcome::out_of_memory;
      }
      for (int r = 0; r < rows; ++r, ++y) {
        const std::uint32_t* row = source.next_row();
        if (row == nullptr) return Outcome::rows_ended;
        std::uint8_t* out = packed.data() + row_bytes * static_cast<std::size_t>(r);
        for (int x = 0; x < width; ++x) {
          const std::uint32_t p = row[x];
          *out++ = static_cast<std::uint8_t>(pixel_red(p));
          *out++ = static_cast<std::uint8_t>(pixel_green(p));
          *out++ = static_cast<std::uint8_t>(pixel_blue(p));
        }
      }
    }
    // 2. Compressed side by side; the file's first strip by the file itself.
    StripBatch batch;
    batch.strips = &strips;
    batch.first = first;
    batch.count = count;
    std::size_t own = 0;
    if (first == 0) {
      own = 1;
      batch.next = 1;
    }
    const std::size_t jobs = std::min<std::size_t>(count - own, static_cast<std::size_t>(threads));
    for (std::size_t j = 0; j < jobs; ++j)
      queue.submit([&batch, width, height, samples, &tiff_format, dpi] {
        compress_strips(batch, width, height, samples, tiff_format, dpi);
      });
    bool own_ok = true;
    if (own == 1)
      own_ok = TIFFWriteEncodedStrip(tif, 0, strips[0].samples.data(), static_cast<tmsize_t>(strips[0].samples.size())) >= 0;
    const JobsOutcome compressed = queue.wait_all();
    if (compressed.out_of_memory) return Outcome::out_of_memory;
    if (!compressed.ok() && !error.seen) error = LibraryError{true, {}, failed_jobs_text(compressed, width, height)};
    if (!own_ok || !compressed.ok()) return Outcome::library_failed;
    if (batch.error.seen) {
      if (!error.seen) error = batch.error;
      return Outcome::library_failed;
    }
    // 3. Written in order.
    for (std::size_t i = own; i < count; ++i) {
      Strip& strip = strips[i];
      if (!strip.compressed_ok) return Outcome::library_failed;
      if (TIFFWriteRawStrip(tif, static_cast<std::uint32_t>(first + i), strip.compressed.data(),
                            static_cast<tmsize_t>(strip.compressed.size())) < 0)
        return Outcome::library_failed;
    }
    first += static_cast<std::uint32_t>(count);
  }
  return TIFFFlush(tif) == 1 ? Outcome::written : Outcome::library_failed;
}

void report_unable_to_save(const std::filesystem::path& path, const LibraryError& error, Prompt& prompt) {
  if (!error.seen) {
    prompt.message(format(tr("Unable to save file '%s'"), path.string()), Icon::error);
    return;
  }
  const std::string name = error.module.empty() ? path.string() : error.module;
  prompt.message(format(tr("Unable to save file '%s'"), name) + ". " + tr("Error: ") + error.message, Icon::error);
}

}  // namespace

int tiff_rows_per_strip(int width, int height, int samples, bool jpeg) {
  if (width <= 0 || height <= 0 || samples <= 0) return 0;
  int rows = kStripBytes / width / samples;
  rows &= ~(kJpegRowBlock - 1);
  rows = std::max(rows, jpeg ? kJpegRowBlock : 1);
  return std::min(rows, height);
}

namespace {

bool write_tiff(RowSource& source, const std::filesystem::path& path, const TiffFormat& tiff_format, int dpi,
                Prompt& prompt) {
  LibraryError error;
  const int width = source.width();
  const int height = source.height();
  if (width <= 0 || height <= 0) {
    report_unable_to_save(path, error, prompt);
    return false;
  }
  const int samples = tiff_format.alpha && !tiff_format.jpeg ? 4 : 3;

  FileSink file;
  if (!file.open(path)) {
    // Said in the system's words, as the library would have said it, and the path.
    report_unable_to_save(path, LibraryError{true, path.string(), system_error_text(errno, path.string())}, prompt);
    return false;
  }
  OpenOptions options(error);
  TIFF* tif = TIFFClientOpenExt(path.c_str(), tiff_format.big_tiff ? "w8" : "w", &file, read_sink, write_sink,
                                seek_sink, close_sink, sink_size, map_sink, unmap_sink, options.get());
  if (tif == nullptr) {
    report_unable_to_save(path, error, prompt);
    return false;
  }

  std::unique_ptr<std::uint8_t[]> line;
  Outcome outcome = Outcome::library_failed;
  if (set_tags(tif, width, height, samples, tiff_format, dpi)) {
    // Compression is the work worth sharing; uncompressed rows are only copied.
    if (tiff_format.jpeg && tiff_format.threads > 1)
      outcome = write_strips_in_parallel(tif, source, samples, tiff_format, dpi, error);
    else
      outcome = write_rows(tif, source, samples, line);
  }
  const long default_rows = outcome == Outcome::out_of_memory ? static_cast<long>(TIFFDefaultStripSize(tif, 0)) : 0;
  TIFFClose(tif);
  if (outcome == Outcome::written && !error.seen && file.commit()) return true;
  // A failed commit (the disk full at the last block) in the system's words.
  if (outcome == Outcome::written && !error.seen)
    error = LibraryError{true, path.string(), system_error_text(errno, path.string())};

  // A stop or a failure leaves the earlier file, if any, as it was.
  file.roll_back();
  if (outcome == Outcome::out_of_memory)
    prompt.message(out_of_memory_text(width, static_cast<int>(default_rows)), Icon::error);
  else if (outcome == Outcome::rows_ended)
    // A stop is reported too: the file the user asked for does not exist.
    // The codec's complaint about missing rows while closing is only the
    // echo of that, so the path is named instead.
    report_unable_to_save(path, LibraryError{}, prompt);
  else
    report_unable_to_save(path, error, prompt);
  return false;
}

TiffFormat tiff_format_of(const WriteOptions& options, bool jpeg) {
  TiffFormat tiff_format;
  tiff_format.big_tiff = options.big_tiff;
  tiff_format.jpeg = jpeg;
  tiff_format.jpeg_quality = options.jpeg_quality;
  tiff_format.alpha = options.alpha != AlphaSample::none;
  tiff_format.threads = options.threads;
  return tiff_format;
}

}  // namespace

bool write_tiff_rows(RowSource& source, const std::filesystem::path& path, const WriteOptions& options,
                     Prompt& prompt) {
  return write_tiff(source, path, tiff_format_of(options, false), options.dpi, prompt);
}

bool write_tiff_jpeg_rows(RowSource& source, const std::filesystem::path& path, const WriteOptions& options,
                          Prompt& prompt) {
  return write_tiff(source, path, tiff_format_of(options, true), options.dpi, prompt);
}

}  // namespace tess
