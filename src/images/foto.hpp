#pragma once
// Foto: the one in-memory image of the program. Pixels are 32-bit words, row
// after row from the top, no padding: red in bits 0-7, green 8-15, blue 16-23
// and a transparency byte in bits 24-31 (0 opaque, 255 transparent - the
// opposite of alpha). 0xFF000000 is the empty pixel.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "base/status.hpp"

namespace tess {

inline constexpr std::uint32_t kEmptyPixel = 0xFF000000u;
/// Pixels at least this transparent are skipped by the masked paste.
inline constexpr std::uint32_t kMaskedTransparency = 250;

constexpr std::uint32_t make_pixel(std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t t = 0) {
  return r | (g << 8) | (b << 16) | (t << 24);
}
constexpr std::uint32_t pixel_red(std::uint32_t p) { return p & 0xFFu; }
constexpr std::uint32_t pixel_green(std::uint32_t p) { return (p >> 8) & 0xFFu; }
constexpr std::uint32_t pixel_blue(std::uint32_t p) { return (p >> 16) & 0xFFu; }
constexpr std::uint32_t pixel_transparency(std::uint32_t p) { return p >> 24; }

enum class PasteMode {
  copy,    ///< every covered target pixel takes the source pixel
  masked,  ///< only source pixels with transparency below 250 are taken
  blend,   ///< transparent source pixels are skipped, others averaged with the target
};

/// The loops the floating-point resampler runs. Every level gives the same
/// pixels, bit for bit; the fastest one the processor has is the default.
enum class ResampleLevel : std::uint8_t { plain, avx2 };

/// The fastest level this processor runs.
ResampleLevel best_resample_level();
/// Every level this processor runs, plain first.
std::vector<ResampleLevel> supported_resample_levels();

/// What a JPEG header tells without decoding.
struct JpegHeader {
  int width = 0;
  int height = 0;
  std::int64_t pixel_count = 0;  ///< width × height
  int components = 0;
  int color_space = 0;  ///< libjpeg's J_COLOR_SPACE of the file
  double dpi_x = 0;     ///< dots per inch (dots per centimetre × 2.54); 0 when unknown
  double dpi_y = 0;
};

class Foto {
 public:
  Foto() = default;
  ~Foto();
  Foto(Foto&& other) noexcept;
  Foto& operator=(Foto&& other) noexcept;
  Foto(const Foto&) = delete;             // copies are explicit: clone()
  Foto& operator=(const Foto&) = delete;

  std::int32_t width() const { return m_width; }
  std::int32_t height() const { return m_height; }
  bool empty() const { return m_pixels == nullptr; }
  std::size_t pixel_count() const { return static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_height); }

  std::uint32_t* pixels() { return m_pixels; }
  const std::uint32_t* pixels() const { return m_pixels; }
  std::uint32_t* row(int y) { return m_pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(m_width); }
  const std::uint32_t* row(int y) const {
    return m_pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(m_width);
  }
  std::uint32_t& at(int x, int y) { return row(y)[x]; }
  std::uint32_t at(int x, int y) const { return row(y)[x]; }

  /// Frees the pixels; the image becomes empty.
  void clear();

  // --- allocation --------------------------------------------------------
  /// Replaces the buffer by one of width × height words (contents undefined).
  /// A size that is not positive, or more than the machine's memory can hold,
  /// fails before anything is allocated and leaves the image empty. Out of
  /// memory carries "Out Of Memory while allocating an Image made of %ldx%ld
  /// Pixels!"; a size that is not positive carries no text.
  Status allocate(int width, int height);
  /// allocate() without the text (and without touching the memory reserve).
  bool try_allocate(int width, int height);
  Status allocate_fill_bytes(int width, int height, std::uint8_t byte);
  Status allocate_fill(int width, int height, std::uint32_t word);
  /// allocate_fill() without the text.
  bool try_allocate_fill(int width, int height, std::uint32_t word);
  void fill(std::uint32_t word);

  /// A copy with the same size and pixels; empty for an empty source or when
  /// memory runs out (nothing is reported).
  Foto clone() const;

  // --- geometry ----------------------------------------------------------
  void mirror();  ///< left-right, in place
  void flip();    ///< top-bottom, in place
  /// Turns by 0, 90 (clockwise), -90/270 or ±180 degrees into `out`; any other
  /// angle fails without a text and leaves `out` empty. Out of memory carries
  /// its text, as by allocate().
  Status rotate(int angle, Foto& out) const;
  Status rotate(int angle);  ///< in place

  /// Grey = (30 red + 59 green + 11 blue) / 100, rounded half up; transparency kept.
  void to_greyscale();

  // --- resampling --------------------------------------------------------
  /// Integer area filter of the top-left region_w × region_h into
  /// dest_w × dest_h opaque pixels. Out of memory carries its text, as by
  /// allocate(); a region or size that cannot be met carries none.
  Status crop_resize(int dest_w, int dest_h, int region_w, int region_h, Foto& out) const;
  Status crop_resize(int dest_w, int dest_h, int region_w, int region_h);
  /// Floating-point resampler of the source rectangle (x, y, w, h) into
  /// dest_w × dest_h, weighting colours by opacity; w or h of 0 means the
  /// whole source dimension. Out of memory carries its text. `level` picks
  /// the loops, not the result.
  Status resample(int dest_w, int dest_h, double x, double y, double w, double h, Foto& out,
                  ResampleLevel level = best_resample_level()) const;

  // --- composition -------------------------------------------------------
  /// A canvas_w × canvas_h canvas of empty pixels with this image blended in
  /// at (x, y); fails (without a text) unless the canvas holds the image at
  /// that offset. Out of memory carries its text.
  Status pad(int canvas_w, int canvas_h, int x, int y, Foto& out) const;
  /// Places `source` with its top-left corner at (x, y), clipped to this
  /// image. Returns false (and changes nothing) when the two do not overlap
  /// or either is empty.
  bool paste(int x, int y, const Foto& source, PasteMode mode);
  /// Pixels inside `mask` (a pixel of the mask whose transparency is below
  /// 255) become opaque, the others fully transparent; colours are kept. A
  /// mask of another size is refused.
  bool apply_mask(const Foto& mask);

  // --- loading -----------------------------------------------------------
  /// Fills the image from a picture file of any format the loader reads
  /// (picture_decoders.hpp; the contents choose the decoder), asked for
  /// max_w × max_h (0, 0 for no limit), which bound the picture as seen. It
  /// is turned as its file says (EXIF orientation, HEIF rotation) and
  /// converted to sRGB from the colour profile or description its file
  /// carries. Decoders that can shrink while reading (JPEG's DCT scaling, an
  /// embedded thumbnail or preview, rows shrunk as they are read) never go
  /// below max_w × max_h. Loads share the decoding budget (foto_budget.hpp).
  /// Every failure, out of memory included, carries the text to show and its
  /// kind (load_failure.hpp; errno where the file could not be opened).
  Status load(const std::filesystem::path& path, int max_w, int max_h);

  /// Fills the image from an uncompressed device-independent bitmap (a
  /// BITMAPINFOHEADER, the colour table of 8-bit bitmaps, then bottom-up rows
  /// padded to 4 bytes), as video frames arrive. Accepts 24-bit and 8-bit
  /// bitmaps; `size` bounds every read. Out of memory fails without a message.
  bool load_frame(const std::uint8_t* bitmap, std::size_t size);

  /// Width and height as seen (turned as the file says) from the header of
  /// any picture the loader reads, without decoding; false and 0 × 0 for
  /// unreadable files.
  static bool read_size(const std::filesystem::path& path, int& width, int& height);
  /// JPEG only: the header fields, as stored; false and zeroes for unreadable
  /// files and files of other formats.
  static bool read_header(const std::filesystem::path& path, JpegHeader& header);
  /// The factor load() would shrink the picture at `path` by when asked for
  /// max_w × max_h: 1, 2, 4 or 8 for a JPEG (its DCT scale; a multiple of 8
  /// beyond it), a whole factor for a PNG, the decoder's own number for the
  /// other formats; 0 when the file cannot be read. Loads with the same
  /// factor give the same picture, whatever maxima they were asked for.
  static int load_scale(const std::filesystem::path& path, int max_w, int max_h);

 private:
  std::int32_t m_width = 0;
  std::int32_t m_height = 0;
  std::uint32_t* m_pixels = nullptr;
};

/// The out-of-memory text with its size filled in (without the trailing
/// marks). Memory has run out when it is asked for, so it first hands back
/// a small reserve kept for the purpose: the text and its report then have
/// room even where every byte was taken.
std::string out_of_memory_text(int width, int height);
/// The failed status of an allocation of width × height pixels: that text
/// followed by `marks`, shown as an error, code ENOMEM.
Status out_of_memory(int width, int height, const char* marks = "!");
/// Takes the reserve again where a report used it, at the start of a run.
void renew_memory_reserve();

/// Bytes of pixel memory the machine can hold at most (its physical memory);
/// larger requests fail without being tried.
std::uint64_t pixel_memory_limit();

}  // namespace tess
