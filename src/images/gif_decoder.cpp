// SPDX-License-Identifier: GPL-3.0-or-later
// GIF pictures through giflib: the first frame, composed on the logical
// screen (transparent wherever the frame leaves it uncovered or shows its
// transparent index). The rows are read as they come, so a large screen asked
// for at a small size is shrunk while it is read and never held whole.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include <sys/stat.h>

#include <gif_lib.h>

#include "base/text.hpp"
#include "images/bounded_input.hpp"
#include "images/foto_budget.hpp"
#include "images/load_failure.hpp"
#include "images/picture_decoders.hpp"
#include "images/row_reduction.hpp"

namespace tess {
namespace {

constexpr const char* kWhat = "GIF";
// An LZW code is at least two bits and stands for at most 4096 pixels (the
// size of the code table), so no file holds more pixels than this per byte.
constexpr std::uint64_t kMostPixelsPerByte = 4 * 4096;
// giflib's own memory: the LZW tables and stack, the colour maps.
constexpr std::uint64_t kGiflibMemory = 64 << 10;

std::uint64_t size_of(std::FILE* file) {
  struct stat info {};
  if (::fstat(::fileno(file), &info) != 0 || info.st_size < 0) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

// giflib asks for bytes through this, and gets none from past the written data.
int read_from_file(GifFileType* gif, GifByteType* data, int length) {
  auto* input = static_cast<BoundedInput*>(gif->UserData);
  int done = 0;
  while (done < length) {
    const std::size_t got = input->read(data + done, static_cast<std::size_t>(length - done));
    if (got == 0) break;
    done += static_cast<int>(got);
  }
  return done;
}

// Owns giflib's decoder and the input it reads through.
class GifReader {
 public:
  explicit GifReader(std::FILE* file) : m_input{::fileno(file), 0} {
    int error = 0;
    m_gif = DGifOpen(&m_input, read_from_file, &error);
  }
  ~GifReader() {
    int error = 0;
    if (m_gif != nullptr) DGifCloseFile(m_gif, &error);
  }
  GifReader(const GifReader&) = delete;
  GifReader& operator=(const GifReader&) = delete;

  GifFileType* gif() { return m_gif; }
  /// The logical screen; false when the file has none (or no header at all).
  bool screen(int& width, int& height) const {
    width = height = 0;
    if (m_gif == nullptr || m_gif->SWidth <= 0 || m_gif->SHeight <= 0) return false;
    width = m_gif->SWidth;
    height = m_gif->SHeight;
    return true;
  }

 private:
  BoundedInput m_input;
  GifFileType* m_gif = nullptr;
};

// Reads up to the first frame's descriptor, taking the transparent index
// from the graphic control extension before it; false for a file that ends
// or breaks first.
bool find_first_frame(GifFileType* gif, int& transparent) {
  transparent = -1;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR) return false;
    if (type == IMAGE_DESC_RECORD_TYPE) return DGifGetImageDesc(gif) != GIF_ERROR;
    if (type != EXTENSION_RECORD_TYPE) return false;
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
    if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr) {
      GraphicsControlBlock control{};
      if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) transparent = control.TransparentColor;
    }
    while (block != nullptr)
      if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
  }
}

// The frame's rows in the order the file holds them: an interlaced frame
// comes in four passes.
int frame_row(int index, int height, bool interlaced) {
  if (!interlaced) return index;
  static constexpr int kStart[4] = {0, 4, 2, 1};
  static constexpr int kStep[4] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass) {
    const int rows = height > kStart[pass] ? (height - kStart[pass] + kStep[pass] - 1) / kStep[pass] : 0;
    if (index < rows) return kStart[pass] + index * kStep[pass];
    index -= rows;
  }
  return height;  // not reached for index < height
}

struct Frame {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  int visible = 0;  // columns inside the screen
  bool interlaced = false;
};

Status read_frame_rows(GifFileType* gif, const std::filesystem::path& path, const Frame& frame, int screen_w,
                       int screen_h, const std::uint32_t (&palette)[256], int factor, PixelSum* sums, Foto& out) {
  std::vector<GifPixelType> line(static_cast<std::size_t>(frame.width));
  std::vector<std::uint32_t> words(static_cast<std::size_t>(std::max(frame.visible, 1)));
  for (int i = 0; i < frame.height; ++i) {
    if (DGifGetLine(gif, line.data(), frame.width) == GIF_ERROR)
      return damaged_picture(kWhat, path, "the picture data ends early or is broken");
    const long long y = static_cast<long long>(frame.top) + frame_row(i, frame.height, frame.interlaced);
    if (y >= screen_h || frame.visible == 0) continue;
    for (int x = 0; x < frame.visible; ++x) words[static_cast<std::size_t>(x)] = palette[line[static_cast<std::size_t>(x)]];
    if (factor == 1) {
      std::copy(words.begin(), words.begin() + frame.visible, out.row(static_cast<int>(y)) + frame.left);
    } else {
      add_to_sums(sums + static_cast<std::size_t>(y / factor) * static_cast<std::size_t>(out.width()), words.data(),
                  static_cast<std::uint64_t>(frame.visible), static_cast<std::uint64_t>(frame.left), 0, factor);
    }
  }
  if (factor > 1) {
    for (int y = 0; y < out.height(); ++y) {
      const std::uint64_t covered = std::min<std::uint64_t>(
          factor, static_cast<std::uint64_t>(screen_h) - static_cast<std::uint64_t>(y) * static_cast<std::uint64_t>(factor));
      finish_reduced_row(sums + static_cast<std::size_t>(y) * static_cast<std::size_t>(out.width()), out.row(y),
                         out.width(), static_cast<std::uint64_t>(screen_w), factor, covered);
    }
  }
  return {};
}

struct SumsRelease {
  void operator()(PixelSum* sums) const { std::free(sums); }
};

Status decode_steps(std::FILE* file, const std::filesystem::path& path, int max_w, int max_h, Foto& out) {
  const std::uint64_t file_size = size_of(file);
  GifReader reader(file);
  int screen_w = 0, screen_h = 0;
  if (!reader.screen(screen_w, screen_h)) return damaged_picture(kWhat, path, "no logical screen");
  GifFileType* gif = reader.gif();
  int transparent = -1;
  if (!find_first_frame(gif, transparent)) return damaged_picture(kWhat, path, "no picture in the file");
  const GifImageDesc& desc = gif->Image;
  Frame frame{desc.Left, desc.Top, desc.Width, desc.Height, 0, desc.Interlace};
  if (frame.width < 0 || frame.height < 0) return damaged_picture(kWhat, path, "broken frame");
  if (frame.left < screen_w) frame.visible = std::min(frame.width, screen_w - frame.left);
  // A frame's size comes from the file: checked against it before anything is allocated.
  if (static_cast<std::uint64_t>(frame.width) * static_cast<std::uint64_t>(frame.height) >
      (file_size + 1) * kMostPixelsPerByte)
    return damaged_picture(kWhat, path, "the file is too short for its picture");
  const ColorMapObject* map = desc.ColorMap != nullptr ? desc.ColorMap : gif->SColorMap;
  if (map == nullptr || map->Colors == nullptr) return damaged_picture(kWhat, path, "no colour table");
  // Indices past the table show black, as they do in most viewers.
  std::uint32_t palette[256];
  std::fill(std::begin(palette), std::end(palette), make_pixel(0, 0, 0));
  for (int i = 0; i < std::min(map->ColorCount, 256); ++i)
    palette[i] = make_pixel(map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue);
  if (transparent >= 0 && transparent < 256) palette[transparent] = kEmptyPixel;

  const int factor = row_reduction_factor(static_cast<std::uint64_t>(screen_w), static_cast<std::uint64_t>(screen_h),
                                          true, max_w, max_h);
  const auto out_w = static_cast<int>(reduced_side(static_cast<std::uint64_t>(screen_w), factor));
  const auto out_h = static_cast<int>(reduced_side(static_cast<std::uint64_t>(screen_h), factor));
  const std::uint64_t pixels = static_cast<std::uint64_t>(out_w) * static_cast<std::uint64_t>(out_h);
  DecodeCharge charge;
  if (!charge.take(pixels * 4 + (factor > 1 ? pixels * sizeof(PixelSum) : 0) +
                   static_cast<std::uint64_t>(frame.width) * 5 + kGiflibMemory))
    return picture_too_large(kWhat, path, screen_w, screen_h);
  std::unique_ptr<PixelSum, SumsRelease> sums;
  if (factor > 1) {
    sums.reset(static_cast<PixelSum*>(std::calloc(pixels, sizeof(PixelSum))));
    if (!sums || !out.try_allocate(out_w, out_h)) return out_of_memory(out_w, out_h);
  } else if (!out.try_allocate_fill(out_w, out_h, kEmptyPixel)) {
    return out_of_memory(out_w, out_h);
  }
  return read_frame_rows(gif, path, frame, screen_w, screen_h, palette, factor, sums.get(), out);
}

Status decode_gif(std::FILE* file, const std::filesystem::path& path, int max_w, int max_h, Foto& out,
                  PictureColour&) {
  if (file == nullptr) return Status::failure(format(tr("Unable to open file '%s'"), path.string()));
  try {
    return decode_steps(file, path, max_w, max_h, out);
  } catch (const std::bad_alloc&) {
    return picture_too_large(kWhat, path, out.width(), out.height());
  }
}

bool read_gif_size(std::FILE* file, const std::filesystem::path&, int& width, int& height) {
  width = height = 0;
  if (file == nullptr) return false;
  const GifReader reader(file);
  return reader.screen(width, height);
}

int gif_load_factor(std::FILE* file, const std::filesystem::path&, int max_w, int max_h) {
  if (file == nullptr) return 0;
  const GifReader reader(file);
  int width = 0, height = 0;
  if (!reader.screen(width, height)) return 0;
  return row_reduction_factor(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height), true, max_w,
                              max_h);
}

}  // namespace

const PictureDecoder& gif_picture_decoder() {
  static constexpr PictureDecoder decoder{decode_gif, read_gif_size, gif_load_factor};
  return decoder;
}

}  // namespace tess
