#include "output/psd_writer.hpp"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include <unistd.h>

#include "base/file_sink.hpp"
#include "base/prompt.hpp"
#include "base/text.hpp"
#include "images/foto.hpp"
#include "images/picture_colour.hpp"
#include "output/output_file.hpp"
#include "output/row_source.hpp"
#include "settings/output_formats.hpp"

namespace tess {
namespace {

static_assert(sizeof(off_t) == 8, "file positions must be 64-bit: large documents pass 4 GiB");

constexpr std::size_t kBufferSize = 2048;
constexpr int kChannels = 3;
constexpr std::string_view kCaption = "Mosaic created with Tessellarium";

// Every field goes through one small buffer; a block too big for it goes
// straight to the file. The first failure sticks: nothing is written after
// it, and its text (if any) is the one the user sees.
class PhotoshopFile {
 public:
  /// The file is written through a sink: until close() succeeds, an
  /// earlier file of the same name stays as it was.
  explicit PhotoshopFile(const std::filesystem::path& path) {
    m_open = m_file.open(path);
    if (!m_open) m_system_error = errno;
  }
  PhotoshopFile(const PhotoshopFile&) = delete;
  PhotoshopFile& operator=(const PhotoshopFile&) = delete;

  bool is_open() const { return m_open; }
  bool failed() const { return m_failed; }
  const std::string& error_text() const { return m_error_text; }
  /// The errno of the call that failed first; 0 when none did.
  int system_error() const { return m_system_error; }

  /// Called right after the system call that failed, whose errno is kept.
  void fail(std::string text = {}) {
    if (m_failed) return;
    m_failed = true;
    m_system_error = errno;
    m_error_text = std::move(text);
  }

  void put(const std::uint8_t* data, std::size_t size) {
    if (m_failed) return;
    if (size >= kBufferSize) {
      flush();
      write_direct(data, size);
      return;
    }
    if (m_fill + size > kBufferSize) flush();
    if (m_failed) return;
    std::memcpy(m_buffer + m_fill, data, size);
    m_fill += size;
  }
  void put8(std::uint32_t value) {
    const auto byte = static_cast<std::uint8_t>(value);
    put(&byte, 1);
  }
  void put16(std::uint32_t value) {
    put8(value >> 8);
    put8(value);
  }
  void put32(std::uint32_t value) {
    put16(value >> 16);
    put16(value & 0xFFFFu);
  }
  void put64(std::uint64_t value) {
    put32(static_cast<std::uint32_t>(value >> 32));
    put32(static_cast<std::uint32_t>(value));
  }
  void put_text(std::string_view text) {
    put(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  }

  void flush() {
    if (m_fill == 0) return;
    const std::size_t fill = m_fill;
    m_fill = 0;
    write_direct(m_buffer, fill);
  }

  /// Where the next byte goes; -1 after a failure.
  std::int64_t position() {
    flush();
    if (m_failed) return -1;
    const off_t at = ::lseek(m_file.fd(), 0, SEEK_CUR);
    if (at < 0) fail(tr("Unable to move to file Position"));
    return at;
  }

  void seek(std::int64_t at) {
    flush();
    if (m_failed) return;
    if (at < 0) {
      fail(tr("Invalid new file Position"));
      return;
    }
    if (::lseek(m_file.fd(), static_cast<off_t>(at), SEEK_SET) != static_cast<off_t>(at))
      fail(tr("Unable to move to file Position"));
  }

  /// Makes the file `size` bytes long, so every plane has its place before
  /// the first row arrives.
  void resize(std::int64_t size) {
    flush();
    if (m_failed) return;
    if (::ftruncate(m_file.fd(), static_cast<off_t>(size)) != 0) fail(tr("Unable to resize File"));
  }

  /// Gives the file its name when everything was written; otherwise (or
  /// when the sink fails to close) the temporary goes.
  bool close() {
    flush();
    if (m_failed) {
      m_file.roll_back();
      return false;
    }
    return m_file.commit();
  }
  /// Leaves the target as it was.
  void roll_back() { m_file.roll_back(); }

 private:
  void write_direct(const std::uint8_t* data, std::size_t size) {
    if (!m_failed && !m_file.write(data, size)) fail();
  }

  FileSink m_file;
  bool m_open = false;
  bool m_failed = false;
  std::string m_error_text;
  int m_system_error = 0;
  std::uint8_t m_buffer[kBufferSize];
  std::size_t m_fill = 0;
};

// The caption is a Pascal string padded to an even length, as resource data
// must be.
std::uint32_t caption_size() { return static_cast<std::uint32_t>((kCaption.size() + 1 + 1) & ~std::size_t{1}); }

// Resource data of odd length is followed by one zero byte; the size field
// gives the length without it.
std::uint32_t padded(std::size_t size) { return static_cast<std::uint32_t>((size + 1) & ~std::size_t{1}); }

void write_header(PhotoshopFile& file, int width, int height, bool big, int dpi) {
  const std::uint32_t caption = caption_size();
  const std::span<const std::uint8_t> profile = srgb_icc_profile();
  file.put_text("8BPS");
  file.put16(big ? 2 : 1);
  for (int i = 0; i < 6; ++i) file.put8(0);
  file.put16(kChannels);
  file.put32(static_cast<std::uint32_t>(height));
  file.put32(static_cast<std::uint32_t>(width));
  file.put16(8);  // bits per channel
  file.put16(3);  // RGB
  file.put32(0);  // no colour mode data

  // The caption, the resolution and, when there is one, the profile: each
  // resource is 12 bytes of signature, number, name and size, then its data.
  const std::uint32_t profile_resource = profile.empty() ? 0 : 12 + padded(profile.size());
  file.put32(40 + caption + profile_resource);
  file.put_text("8BIM");
  file.put16(1008);
  file.put16(0);  // empty name, padded to even
  file.put32(caption);
  file.put8(static_cast<std::uint32_t>(kCaption.size()));
  file.put_text(kCaption);
  if ((kCaption.size() + 1) % 2 != 0) file.put8(0);

  // 16.16 fixed point; the integer part has 16 bits.
  const auto fixed = static_cast<std::uint32_t>(std::clamp(dpi, 0, 0xFFFF)) << 16;
  file.put_text("8BIM");
  file.put16(1005);
  file.put16(0);
  file.put32(16);
  file.put32(fixed);
  file.put16(1);  // pixels per inch
  file.put16(1);  // width in inches
  file.put32(fixed);
  file.put16(1);
  file.put16(1);

  // The sRGB profile, so that whoever opens the document knows what its
  // numbers mean instead of assuming the working space of the day.
  if (!profile.empty()) {
    file.put_text("8BIM");
    file.put16(1039);
    file.put16(0);
    file.put32(static_cast<std::uint32_t>(profile.size()));
    file.put(profile.data(), profile.size());
    if (profile.size() % 2 != 0) file.put8(0);
  }

  if (big)
    file.put64(0);  // no layers
  else
    file.put32(0);
  file.put16(0);  // raw image data
}

enum class Outcome { written, rows_ended, write_failed };

Outcome write_rows(RowSource& source, PhotoshopFile& file, std::uint8_t* channel, std::int64_t start) {
  const int width = source.width();
  const int height = source.height();
  const std::int64_t plane = static_cast<std::int64_t>(width) * height;
  for (int r = 0; r < height; ++r) {
    if (file.failed()) return Outcome::write_failed;
    const std::uint32_t* row = source.next_row();
    if (row == nullptr) return Outcome::rows_ended;
    if (start < 0) file.fail(tr("Invalid File Position in Write Row"));
    for (int c = 0; c < kChannels; ++c) {
      const int shift = 8 * c;  // red in byte 0, green 1, blue 2
      for (int x = 0; x < width; ++x) channel[x] = static_cast<std::uint8_t>(row[x] >> shift);
      file.seek(start + c * plane + static_cast<std::int64_t>(r) * width);
      file.put(channel, static_cast<std::size_t>(width));
      file.flush();
    }
  }
  return file.failed() ? Outcome::write_failed : Outcome::written;
}

bool write_photoshop(RowSource& source, const std::filesystem::path& path, bool big, int dpi, Prompt& prompt) {
  const int width = source.width();
  const int height = source.height();
  if (width <= 0 || height <= 0) {
    report_unable_to_save(path.string(), prompt);
    return false;
  }
  std::unique_ptr<std::uint8_t[]> channel(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(width)]);
  if (!channel) {
    prompt.message(format(tr("Out Of Memory while allocating an Image made of %ldx%ld Pixels"),
                          static_cast<long>(width), 1L) + "!",
                   Icon::error);
    return false;
  }

  PhotoshopFile file(path);
  if (!file.is_open()) {
    report_unable_to_save(path.string(), file.system_error(), prompt);
    return false;
  }
  write_header(file, width, height, big, dpi);
  const std::int64_t start = file.position();
  file.resize(start + kChannels * static_cast<std::int64_t>(width) * height);
  const Outcome outcome =
      file.failed() ? Outcome::write_failed : write_rows(source, file, channel.get(), start);
  const std::string error_text = file.error_text();
  int error = file.system_error();
  if (outcome == Outcome::written && file.close()) return true;
  if (error == 0 && outcome == Outcome::written) error = errno;  // the commit's

  // A stop or a failure leaves the earlier file, if any, as it was.
  file.roll_back();
  if (outcome == Outcome::rows_ended && source.stop_requested()) return false;
  if (outcome == Outcome::rows_ended) error = 0;
  if (!error_text.empty())
    prompt.message(error_text + (error != 0 ? ". " + system_error_text(error, path.string()) : std::string()),
                   Icon::error);
  else
    report_unable_to_save(path.string(), error, prompt);
  return false;
}

}  // namespace

int max_photoshop_side(bool big) {
  return static_cast<int>(format_limits(big ? OutputFormatCode::psb : OutputFormatCode::psd, false)->hard_side);
}

std::string photoshop_side_refusal(int width, int height, bool big) {
  const int limit = max_photoshop_side(big);
  const bool beyond_big = big || std::max(width, height) > max_photoshop_side(true) - 1;
  const std::string hint = beyond_big ? tr("Use RAW/PPM file format for a width/height over 300,000 pixels")
                                      : tr("Use the Photoshop PSB file format for a width/height up to 300,000 pixels");
  return format(
      tr("Unable to save the mosaic into the %s file format because the maximum width/height is %d pixels. %s"),
      big ? "Photoshop PSB" : "Photoshop PSD", limit, hint);
}

bool write_psd_rows(RowSource& source, const std::filesystem::path& path, const WriteOptions& options,
                    Prompt& prompt) {
  return write_photoshop(source, path, false, options.dpi, prompt);
}

bool write_psb_rows(RowSource& source, const std::filesystem::path& path, const WriteOptions& options,
                    Prompt& prompt) {
  return write_photoshop(source, path, true, options.dpi, prompt);
}

}  // namespace tess
