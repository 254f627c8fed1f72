// SPDX-License-Identifier: GPL-3.0-or-later
// WebP pictures through libwebp: lossy, lossless, with or without alpha, and
// the first frame of an animation. The file is taken in memory (libwebp reads
// from a buffer); its ICC profile and EXIF orientation come from the
// container's chunks.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include <webp/decode.h>
#include <webp/demux.h>

#include "base/text.hpp"
#include "images/exif.hpp"
#include "images/foto_budget.hpp"
#include "images/load_failure.hpp"
#include "images/picture_decoders.hpp"
#include "images/row_reduction.hpp"

namespace tess {
namespace {

constexpr const char* kWhat = "WebP";
// A RIFF file holds at most 4 GiB; a picture of that size is no photograph.
constexpr std::uint64_t kMostFileBytes = std::uint64_t{1} << 30;
// Rows libwebp keeps for its filters and the rescaler, beside the picture.
constexpr std::uint64_t kLossyWorkingRows = 32;
constexpr std::uint64_t kWorkingSlack = 1 << 20;

// What the file says about itself, read without decoding pixels.
struct WebpHeader {
  int width = 0;  // as stored (the canvas of an animation)
  int height = 0;
  bool alpha = false;
  bool animated = false;
  bool lossless = false;
  int orientation = 1;
  std::vector<std::uint8_t> icc;
};

struct DemuxRelease {
  void operator()(WebPDemuxer* demuxer) const { WebPDemuxDelete(demuxer); }
};

struct AnimRelease {
  void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

// The header's fields, the profile and the orientation; false for bytes that
// are no WebP file libwebp can read a header from.
bool read_header(const std::vector<std::uint8_t>& bytes, WebpHeader& header) {
  header = WebpHeader{};
  WebPBitstreamFeatures features{};
  if (WebPGetFeatures(bytes.data(), bytes.size(), &features) != VP8_STATUS_OK) return false;
  if (features.width <= 0 || features.height <= 0) return false;
  header.width = features.width;
  header.height = features.height;
  header.alpha = features.has_alpha != 0;
  header.animated = features.has_animation != 0;
  header.lossless = features.format == 2;
  // The chunks around the picture: a file the demuxer cannot take apart
  // still decodes, only without them.
  const WebPData data{bytes.data(), bytes.size()};
  std::unique_ptr<WebPDemuxer, DemuxRelease> demuxer(WebPDemux(&data));
  if (!demuxer) return true;
  const std::uint32_t flags = WebPDemuxGetI(demuxer.get(), WEBP_FF_FORMAT_FLAGS);
  // The demuxer's canvas is the size an animation is composed on.
  if (header.animated) {
    header.width = static_cast<int>(WebPDemuxGetI(demuxer.get(), WEBP_FF_CANVAS_WIDTH));
    header.height = static_cast<int>(WebPDemuxGetI(demuxer.get(), WEBP_FF_CANVAS_HEIGHT));
    if (header.width <= 0 || header.height <= 0) return false;
  }
  WebPChunkIterator chunk{};
  if ((flags & ICCP_FLAG) != 0 && WebPDemuxGetChunk(demuxer.get(), "ICCP", 1, &chunk) != 0) {
    header.icc.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
    WebPDemuxReleaseChunkIterator(&chunk);
  }
  if ((flags & EXIF_FLAG) != 0 && WebPDemuxGetChunk(demuxer.get(), "EXIF", 1, &chunk) != 0) {
    header.orientation =
        exif_block_integer_tag({chunk.chunk.bytes, chunk.chunk.size}, kExifTagOrientation, 0, 1, 8, 1);
    WebPDemuxReleaseChunkIterator(&chunk);
  }
  return true;
}

// The factor a request gets: animations are composed whole; a large still
// picture is scaled by libwebp as it is decoded. The maxima bound the
// picture as seen, so they apply to it turned.
int load_factor_of(const WebpHeader& header, int max_w, int max_h) {
  if (header.animated) return 1;
  if (header.orientation >= 5) std::swap(max_w, max_h);
  return row_reduction_factor(static_cast<std::uint64_t>(header.width), static_cast<std::uint64_t>(header.height),
                              false, max_w, max_h);
}

Status decode_still(const std::vector<std::uint8_t>& bytes, const std::filesystem::path& path, const WebpHeader& header,
                    int factor, Foto& out) {
  WebPDecoderConfig config;
  if (WebPInitDecoderConfig(&config) == 0) return damaged_picture(kWhat, path, "libwebp version mismatch");
  const int width = static_cast<int>(reduced_side(static_cast<std::uint64_t>(header.width), factor));
  const int height = static_cast<int>(reduced_side(static_cast<std::uint64_t>(header.height), factor));
  if (factor > 1) {
    config.options.use_scaling = 1;
    config.options.scaled_width = width;
    config.options.scaled_height = height;
  }
  if (!out.try_allocate(width, height)) return out_of_memory(width, height);
  // Decoded straight into the picture's words.
  config.output.colorspace = MODE_RGBA;
  config.output.is_external_memory = 1;
  config.output.u.RGBA.rgba = reinterpret_cast<std::uint8_t*>(out.pixels());
  config.output.u.RGBA.stride = 4 * width;
  config.output.u.RGBA.size = out.pixel_count() * 4;
  const VP8StatusCode status = WebPDecode(bytes.data(), bytes.size(), &config);
  WebPFreeDecBuffer(&config.output);
  switch (status) {
    case VP8_STATUS_OK:
      break;
    case VP8_STATUS_OUT_OF_MEMORY:
      return out_of_memory(width, height);
    case VP8_STATUS_NOT_ENOUGH_DATA:
      return damaged_picture(kWhat, path, "the file ends early");
    case VP8_STATUS_UNSUPPORTED_FEATURE:
      return unsupported_picture(path, "WebP feature not supported");
    default:
      return damaged_picture(kWhat, path, "broken picture data");
  }
  rgba_bytes_to_pixels(out);
  return {};
}

// The first frame of an animation, composed on its canvas (transparent where
// the frame does not cover it).
Status decode_first_frame(const std::vector<std::uint8_t>& bytes, const std::filesystem::path& path,
                          const WebpHeader& header, Foto& out) {
  WebPAnimDecoderOptions options;
  if (WebPAnimDecoderOptionsInit(&options) == 0) return damaged_picture(kWhat, path, "libwebp version mismatch");
  options.color_mode = MODE_RGBA;
  options.use_threads = 0;
  const WebPData data{bytes.data(), bytes.size()};
  std::unique_ptr<WebPAnimDecoder, AnimRelease> decoder(WebPAnimDecoderNew(&data, &options));
  if (!decoder) return damaged_picture(kWhat, path, "broken animation");
  std::uint8_t* canvas = nullptr;
  int timestamp = 0;
  if (WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) == 0 || canvas == nullptr)
    return damaged_picture(kWhat, path, "broken animation frame");
  if (!out.try_allocate(header.width, header.height)) return out_of_memory(header.width, header.height);
  std::memcpy(out.pixels(), canvas, out.pixel_count() * 4);
  rgba_bytes_to_pixels(out);
  return {};
}

// What a load holds at its peak: the picture (twice for an animation, whose
// decoder keeps its own canvas and the previous one, and once more for a
// picture turned a quarter), and libwebp's own memory: every pixel for a
// lossless picture and the alpha plane, some rows for a lossy one.
std::uint64_t load_cost(const WebpHeader& header, int factor) {
  const auto w = static_cast<std::uint64_t>(header.width);
  const auto h = static_cast<std::uint64_t>(header.height);
  const std::uint64_t picture = reduced_side(w, factor) * reduced_side(h, factor) * 4;
  std::uint64_t bytes = picture * (header.orientation >= 5 ? 2 : 1) + kWorkingSlack;
  if (header.animated) return bytes + w * h * 4 * 2;
  bytes += header.lossless ? w * h * 4 : w * 4 * kLossyWorkingRows;
  if (header.alpha) bytes += w * h;
  return bytes;
}

Status decode_webp(std::FILE* file, const std::filesystem::path& path, int max_w, int max_h, Foto& out,
                   PictureColour& colour) {
  if (file == nullptr) return Status::failure(format(tr("Unable to open file '%s'"), path.string()));
  std::vector<std::uint8_t> bytes;
  if (Status read = read_file_bytes(file, path, kWhat, kMostFileBytes, bytes); !read) return read;
  WebpHeader header;
  if (!read_header(bytes, header)) return damaged_picture(kWhat, path, "no WebP header");
  const int factor = load_factor_of(header, max_w, max_h);
  DecodeCharge charge;
  if (!charge.take(load_cost(header, factor))) return picture_too_large(kWhat, path, header.width, header.height);
  Status status = header.animated ? decode_first_frame(bytes, path, header, out)
                                  : decode_still(bytes, path, header, factor, out);
  if (!status) return status;
  colour.icc = std::move(header.icc);
  return apply_orientation(out, header.orientation);
}

bool read_header_of(std::FILE* file, const std::filesystem::path& path, WebpHeader& header) {
  if (file == nullptr) return false;
  std::vector<std::uint8_t> bytes;
  return read_file_bytes(file, path, kWhat, kMostFileBytes, bytes).ok() && read_header(bytes, header);
}

bool read_webp_size(std::FILE* file, const std::filesystem::path& path, int& width, int& height) {
  width = height = 0;
  WebpHeader header;
  if (!read_header_of(file, path, header)) return false;
  width = header.width;
  height = header.height;
  if (header.orientation >= 5) std::swap(width, height);
  return true;
}

int webp_load_factor(std::FILE* file, const std::filesystem::path& path, int max_w, int max_h) {
  WebpHeader header;
  if (!read_header_of(file, path, header)) return 0;
  return load_factor_of(header, max_w, max_h);
}

}  // namespace

const PictureDecoder& webp_picture_decoder() {
  static constexpr PictureDecoder decoder{decode_webp, read_webp_size, webp_load_factor};
  return decoder;
}

}  // namespace tess
