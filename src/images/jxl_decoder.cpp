// SPDX-License-Identifier: GPL-3.0-or-later
// JPEG XL pictures through libjxl: the first frame as 8-bit RGBA, turned as
// the file says it is seen (libjxl does the turning), with the profile of the
// colours it hands back. libjxl decodes from memory and cannot shrink while
// it decodes, so a large picture asked for at a small size is decoded whole
// and then reduced to block means.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include <jxl/decode.h>

#include "base/text.hpp"
#include "images/foto_budget.hpp"
#include "images/load_failure.hpp"
#include "images/picture_decoders.hpp"
#include "images/row_reduction.hpp"

namespace tess {
namespace {

constexpr const char* kWhat = "JPEG XL";
constexpr std::uint64_t kMostFileBytes = std::uint64_t{1} << 30;
// Sides a picture can have in a Foto.
constexpr std::uint64_t kMostSide = 1 << 30;
// libjxl's own memory while it decodes: planes of floats for the colour and
// extra channels, and its group buffers, for every pixel of the picture.
constexpr std::uint64_t kLibjxlBytesPerPixel = 24;
constexpr std::uint64_t kLibjxlSlack = 32 << 20;
constexpr std::size_t kMostProfileBytes = 16 << 20;

struct DecoderRelease {
  void operator()(JxlDecoder* decoder) const { JxlDecoderDestroy(decoder); }
};
using DecoderPtr = std::unique_ptr<JxlDecoder, DecoderRelease>;

struct SumsRelease {
  void operator()(PixelSum* sums) const { std::free(sums); }
};

constexpr JxlPixelFormat kRgba8{4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};

// The size as seen: libjxl turns the picture as its orientation says.
struct JxlSize {
  std::uint64_t width = 0;
  std::uint64_t height = 0;
};

JxlSize seen_size(const JxlBasicInfo& info) {
  JxlSize size{info.xsize, info.ysize};
  if (info.orientation >= JXL_ORIENT_TRANSPOSE) std::swap(size.width, size.height);
  return size;
}

bool is_srgb(const JxlColorEncoding& encoding) {
  return (encoding.color_space == JXL_COLOR_SPACE_RGB || encoding.color_space == JXL_COLOR_SPACE_GRAY) &&
         encoding.white_point == JXL_WHITE_POINT_D65 &&
         (encoding.color_space == JXL_COLOR_SPACE_GRAY || encoding.primaries == JXL_PRIMARIES_SRGB) &&
         encoding.transfer_function == JXL_TRANSFER_FUNCTION_SRGB;
}

// The colours of the pixels libjxl hands back: nothing to say for sRGB,
// otherwise their ICC profile.
void read_colour(const JxlDecoder* decoder, PictureColour& colour) {
  JxlColorEncoding encoding{};
  if (JxlDecoderGetColorAsEncodedProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &encoding) ==
          JXL_DEC_SUCCESS &&
      is_srgb(encoding)) {
    colour.srgb = true;
    return;
  }
  std::size_t size = 0;
  if (JxlDecoderGetICCProfileSize(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) != JXL_DEC_SUCCESS ||
      size == 0 || size > kMostProfileBytes)
    return;
  std::vector<std::uint8_t> profile(size);
  if (JxlDecoderGetColorAsICCProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, profile.data(), size) ==
      JXL_DEC_SUCCESS)
    colour.icc = std::move(profile);
}

// Block means of `factor` × `factor` pixels of `whole` into `out`.
Status reduce(const Foto& whole, int factor, Foto& out) {
  const auto width = static_cast<std::uint64_t>(whole.width());
  const auto out_w = static_cast<int>(reduced_side(width, factor));
  const auto out_h = static_cast<int>(reduced_side(static_cast<std::uint64_t>(whole.height()), factor));
  std::unique_ptr<PixelSum, SumsRelease> sums(
      static_cast<PixelSum*>(std::calloc(static_cast<std::size_t>(out_w), sizeof(PixelSum))));
  if (!sums || !out.try_allocate(out_w, out_h)) return out_of_memory(out_w, out_h);
  for (int y = 0; y < whole.height(); ++y) {
    add_to_sums(sums.get(), whole.row(y), width, 0, 0, factor);
    if ((y + 1) % factor == 0 || y + 1 == whole.height())
      finish_reduced_row(sums.get(), out.row(y / factor), out_w, width, factor,
                         static_cast<std::uint64_t>(y % factor + 1));
  }
  return {};
}

std::uint64_t load_cost(const JxlSize& size, int factor) {
  const std::uint64_t pixels = size.width * size.height;
  std::uint64_t bytes = pixels * (4 + kLibjxlBytesPerPixel) + kLibjxlSlack;
  if (factor > 1) {
    const std::uint64_t out_w = reduced_side(size.width, factor);
    bytes += out_w * reduced_side(size.height, factor) * 4 + out_w * sizeof(PixelSum);
  }
  return bytes;
}

DecoderPtr make_decoder(const std::vector<std::uint8_t>& bytes, int events) {
  DecoderPtr decoder(JxlDecoderCreate(nullptr));
  if (!decoder || JxlDecoderSubscribeEvents(decoder.get(), events) != JXL_DEC_SUCCESS ||
      JxlDecoderSetKeepOrientation(decoder.get(), JXL_FALSE) != JXL_DEC_SUCCESS ||
      JxlDecoderSetUnpremultiplyAlpha(decoder.get(), JXL_TRUE) != JXL_DEC_SUCCESS ||
      JxlDecoderSetInput(decoder.get(), bytes.data(), bytes.size()) != JXL_DEC_SUCCESS)
    return nullptr;
  JxlDecoderCloseInput(decoder.get());
  return decoder;
}

// The basic information, without decoding pixels; false for anything libjxl
// cannot read it from.
bool read_basic_info(std::FILE* file, const std::filesystem::path& path, JxlBasicInfo& info) {
  if (file == nullptr) return false;
  std::vector<std::uint8_t> bytes;
  if (!read_file_bytes(file, path, kWhat, kMostFileBytes, bytes)) return false;
  const DecoderPtr decoder = make_decoder(bytes, JXL_DEC_BASIC_INFO);
  if (!decoder || JxlDecoderProcessInput(decoder.get()) != JXL_DEC_BASIC_INFO) return false;
  return JxlDecoderGetBasicInfo(decoder.get(), &info) == JXL_DEC_SUCCESS && info.xsize > 0 && info.ysize > 0 &&
         info.xsize <= kMostSide && info.ysize <= kMostSide;
}

Status decode_steps(std::FILE* file, const std::filesystem::path& path, int max_w, int max_h, Foto& out,
                    PictureColour& colour) {
  std::vector<std::uint8_t> bytes;
  if (Status read = read_file_bytes(file, path, kWhat, kMostFileBytes, bytes); !read) return read;
  const DecoderPtr decoder = make_decoder(bytes, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE);
  if (!decoder) return damaged_picture(kWhat, path, "libjxl could not start");
  DecodeCharge charge;
  JxlSize size;
  int factor = 1;
  Foto whole;
  bool sized = false;
  for (;;) {
    const JxlDecoderStatus status = JxlDecoderProcessInput(decoder.get());
    switch (status) {
      case JXL_DEC_BASIC_INFO: {
        JxlBasicInfo info{};
        if (JxlDecoderGetBasicInfo(decoder.get(), &info) != JXL_DEC_SUCCESS)
          return damaged_picture(kWhat, path, "no picture header");
        size = seen_size(info);
        if (size.width == 0 || size.height == 0) return damaged_picture(kWhat, path, "no pixels");
        if (size.width > kMostSide || size.height > kMostSide)
          return picture_too_large(kWhat, path, static_cast<long long>(size.width),
                                   static_cast<long long>(size.height));
        factor = row_reduction_factor(size.width, size.height, false, max_w, max_h);
        // Sizes come from the file: charged before libjxl allocates for them.
        if (!charge.take(load_cost(size, factor)))
          return picture_too_large(kWhat, path, static_cast<long long>(size.width),
                                   static_cast<long long>(size.height));
        sized = true;
        break;
      }
      case JXL_DEC_COLOR_ENCODING:
        read_colour(decoder.get(), colour);
        break;
      case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
        if (!sized) return damaged_picture(kWhat, path, "no picture header");
        const int width = static_cast<int>(size.width);
        const int height = static_cast<int>(size.height);
        std::size_t needed = 0;
        if (JxlDecoderImageOutBufferSize(decoder.get(), &kRgba8, &needed) != JXL_DEC_SUCCESS ||
            needed != size.width * size.height * 4)
          return damaged_picture(kWhat, path, "unexpected picture layout");
        Foto& target = factor == 1 ? out : whole;
        if (!target.try_allocate(width, height)) return out_of_memory(width, height);
        if (JxlDecoderSetImageOutBuffer(decoder.get(), &kRgba8, target.pixels(), needed) != JXL_DEC_SUCCESS)
          return damaged_picture(kWhat, path, "unexpected picture layout");
        break;
      }
      case JXL_DEC_FULL_IMAGE: {
        // The first frame is the picture; the rest of an animation is not read.
        Foto& target = factor == 1 ? out : whole;
        if (target.empty()) return damaged_picture(kWhat, path, "no picture data");
        rgba_bytes_to_pixels(target);
        return factor == 1 ? Status{} : reduce(whole, factor, out);
      }
      case JXL_DEC_NEED_MORE_INPUT:
        return damaged_picture(kWhat, path, "the file ends early");
      case JXL_DEC_SUCCESS:
        return damaged_picture(kWhat, path, "no picture in the file");
      case JXL_DEC_ERROR:
        return damaged_picture(kWhat, path, "broken picture data");
      default:
        break;  // events not asked for do not come
    }
  }
}

Status decode_jxl(std::FILE* file, const std::filesystem::path& path, int max_w, int max_h, Foto& out,
                  PictureColour& colour) {
  if (file == nullptr) return Status::failure(format(tr("Unable to open file '%s'"), path.string()));
  try {
    return decode_steps(file, path, max_w, max_h, out, colour);
  } catch (const std::bad_alloc&) {
    return file_too_large(kWhat, path);
  }
}

bool read_jxl_size(std::FILE* file, const std::filesystem::path& path, int& width, int& height) {
  width = height = 0;
  JxlBasicInfo info{};
  if (!read_basic_info(file, path, info)) return false;
  const JxlSize size = seen_size(info);
  width = static_cast<int>(size.width);
  height = static_cast<int>(size.height);
  return true;
}

int jxl_load_factor(std::FILE* file, const std::filesystem::path& path, int max_w, int max_h) {
  JxlBasicInfo info{};
  if (!read_basic_info(file, path, info)) return 0;
  const JxlSize size = seen_size(info);
  return row_reduction_factor(size.width, size.height, false, max_w, max_h);
}

}  // namespace

const PictureDecoder& jxl_picture_decoder() {
  static constexpr PictureDecoder decoder{decode_jxl, read_jxl_size, jxl_load_factor};
  return decoder;
}

}  // namespace tess
