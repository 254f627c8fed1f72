// SPDX-License-Identifier: GPL-3.0-or-later
// Camera RAW files through LibRaw, from the file's bytes in memory. A picture
// asked for at a size its embedded preview covers is that preview (a JPEG
// goes through our own JPEG decoder); anything larger is developed at half
// the sensor's size, in sRGB with the camera's white balance, turned as the
// camera was held.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libraw/libraw.h>

#include "base/text.hpp"

#include "images/foto_budget.hpp"
#include "images/jpeg_decoder.hpp"
#include "images/exif.hpp"
#include "images/load_failure.hpp"
#include "images/picture_decoders.hpp"
#include "images/row_reduction.hpp"

namespace tess {
namespace {

constexpr const char* kWhat = "camera RAW";
// The largest RAW file read: medium-format backs stay well below it.
constexpr std::uint64_t kMaxFileBytes = std::uint64_t{512} << 20;
// LibRaw refuses a raw image above this many megabytes by itself.
constexpr unsigned kMaxRawMegabytes = 1024;
// What developing costs per sensor pixel: the raw samples (2 bytes), the
// working image at half size (a quarter of the pixels, 4 × 2 bytes), the
// developed 8-bit image and our pixels, with room to spare. Sensors without
// a colour filter array are not halved: their working image holds every
// pixel, with 3 samples of raw data.
constexpr std::uint64_t kHalfSizeBytesPerPixel = 10;
constexpr std::uint64_t kFullSizeBytesPerPixel = 24;

void ignore_memory_error(void*, const char*, const char*) {}
void ignore_data_error(void*, const char*, const int) {}

// LibRaw's flip (0 none, 3 half a turn, 5 a quarter anticlockwise, 6 a
// quarter clockwise; bit 4 swaps the sides) as an EXIF orientation.
int orientation_of_flip(int flip) {
  static constexpr int kOrientation[8] = {1, 2, 4, 3, 5, 8, 6, 7};
  return flip >= 0 && flip < 8 ? kOrientation[flip] : 1;
}

std::string trimmed(const char* text) {
  std::string s(text);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// The camera as LibRaw names it, for the report of one it does not know.
std::string camera_name(const LibRaw& raw) {
  const std::string make = trimmed(raw.imgdata.idata.make);
  const std::string model = trimmed(raw.imgdata.idata.model);
  if (make.empty()) return model;
  return model.empty() ? make : make + " " + model;
}

// One file's bytes with LibRaw opened on them. LibRaw is large and keeps
// pointers into the bytes, so both live on the heap together.
struct RawFile {
  std::vector<std::uint8_t> bytes;
  std::unique_ptr<LibRaw> raw;
  int error = LIBRAW_SUCCESS;
};

// Reads and opens `file`; a failure comes back as its status.
Status open_raw(std::FILE* file, const std::filesystem::path& path, RawFile& raw_file) {
  if (file == nullptr) return Status::failure(format(tr("Unable to open file '%s'"), path.string()));
  if (Status read = read_file_bytes(file, path, kWhat, kMaxFileBytes, raw_file.bytes); !read) return read;
  try {
    raw_file.raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
  } catch (const std::bad_alloc&) {
    return file_too_large(kWhat, path);
  }
  LibRaw& raw = *raw_file.raw;
  raw.set_memerror_handler(ignore_memory_error, nullptr);
  raw.set_dataerror_handler(ignore_data_error, nullptr);
  raw.imgdata.params.max_raw_memory_mb = kMaxRawMegabytes;
  const int opened = raw.open_buffer(raw_file.bytes.data(), raw_file.bytes.size());
  if (opened == LIBRAW_FILE_UNSUPPORTED) return camera_not_supported(path, camera_name(raw));
  if (opened == LIBRAW_UNSUFFICIENT_MEMORY || opened == LIBRAW_TOO_BIG)
    return picture_too_large(kWhat, path, raw.imgdata.sizes.raw_width, raw.imgdata.sizes.raw_height);
  if (opened != LIBRAW_SUCCESS) return damaged_picture(kWhat, path, libraw_strerror(opened));
  if (raw.imgdata.sizes.width == 0 || raw.imgdata.sizes.height == 0)
    return damaged_picture(kWhat, path, "no picture");
  return {};
}

// The size of the half-size development as seen, from the header alone.
bool developed_size(LibRaw& raw, int& width, int& height) {
  raw.imgdata.params.half_size = 1;
  if (raw.adjust_sizes_info_only() != LIBRAW_SUCCESS) return false;
  width = raw.imgdata.sizes.iwidth;
  height = raw.imgdata.sizes.iheight;
  return width > 0 && height > 0;
}

bool quarter_turn(const LibRaw& raw) { return (raw.imgdata.sizes.flip & 4) != 0; }

// The embedded preview, when it is at least the size asked for as seen (both
// maxima given) and of a kind we read. Its kind is known only once it is
// unpacked, which copies it out of the file's bytes.
bool preview_covers(LibRaw& raw, int max_w, int max_h) {
  if (max_w <= 0 || max_h <= 0) return false;
  const libraw_thumbnail_t& thumbnail = raw.imgdata.thumbnail;
  int width = thumbnail.twidth;
  int height = thumbnail.theight;
  if (quarter_turn(raw)) std::swap(width, height);
  if (width < max_w || height < max_h) return false;
  if (thumbnail.thumb == nullptr && raw.unpack_thumb() != LIBRAW_SUCCESS) return false;
  return thumbnail.thumb != nullptr && thumbnail.tlength > 0 &&
         (thumbnail.tformat == LIBRAW_THUMBNAIL_JPEG || thumbnail.tformat == LIBRAW_THUMBNAIL_BITMAP);
}

// The factor a request gets: 1 for the half-size development, and for the
// preview how many times smaller than that it is (at least 2, so the two never
// share a number), times the JPEG decoder's own reduction of it.
int preview_factor(LibRaw& raw, int max_w, int max_h) {
  const libraw_thumbnail_t& thumbnail = raw.imgdata.thumbnail;
  int developed_w = 0, developed_h = 0;
  if (!developed_size(raw, developed_w, developed_h)) developed_w = developed_h = 1;
  int width = thumbnail.twidth;
  int height = thumbnail.theight;
  if (quarter_turn(raw)) std::swap(width, height);
  const int smaller = std::max({2, (developed_w + width - 1) / width, (developed_h + height - 1) / height});
  if (thumbnail.tformat != LIBRAW_THUMBNAIL_JPEG) return smaller;
  if (quarter_turn(raw)) std::swap(max_w, max_h);
  return smaller * jpeg_load_factor(thumbnail.twidth, thumbnail.theight, max_w, max_h);
}

struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// A JPEG preview goes through our own decoder from a file in memory; its
// EXIF orientation, where it has one, speaks for its own pixels, otherwise
// the RAW file's does.
Status decode_jpeg_preview(const std::uint8_t* data, std::size_t size, int flip, int max_w, int max_h, Foto& out,
                           PictureColour& colour) {
  const int fd = ::memfd_create("raw-preview", MFD_CLOEXEC);
  if (fd < 0) return Status::failure("no memory file");
  std::unique_ptr<std::FILE, FileClose> file(::fdopen(fd, "w+b"));
  if (!file) {
    ::close(fd);
    return Status::failure("no memory file");
  }
  if (std::fwrite(data, 1, size, file.get()) != size || std::fflush(file.get()) != 0)
    return Status::failure("no memory file");
  std::rewind(file.get());
  const std::filesystem::path path = "/proc/self/fd/" + std::to_string(fd);
  const int own = exif_integer_tag(path, kExifTagOrientation, 0, 1, 8, -1);
  const int orientation = own > 0 ? 1 : orientation_of_flip(flip);
  if (orientation >= 5) std::swap(max_w, max_h);
  if (Status decoded = jpeg_picture_decoder().decode(file.get(), path, max_w, max_h, out, colour); !decoded)
    return decoded;
  return apply_orientation(out, orientation);
}

Status decode_bitmap_preview(const libraw_thumbnail_t& thumbnail, int flip, Foto& out) {
  const int width = thumbnail.twidth;
  const int height = thumbnail.theight;
  const int colours = thumbnail.tcolors;
  if (thumbnail.thumb == nullptr || (colours != 1 && colours != 3) ||
      static_cast<std::uint64_t>(width) * height * colours > thumbnail.tlength)
    return Status::failure("unusable preview");
  if (!out.try_allocate(width, height)) return out_of_memory(width, height);
  const auto* samples = reinterpret_cast<const std::uint8_t*>(thumbnail.thumb);
  for (std::size_t i = 0; i < out.pixel_count(); ++i) {
    const std::uint8_t* s = samples + i * static_cast<std::size_t>(colours);
    out.pixels()[i] = colours == 3 ? make_pixel(s[0], s[1], s[2]) : make_pixel(s[0], s[0], s[0]);
  }
  return apply_orientation(out, orientation_of_flip(flip));
}

// The preview unpacked by preview_covers(), or a failure when it cannot be
// read (the caller develops the picture instead). The bytes of the RAW file
// are let go before the JPEG decoder charges its own share of the budget.
Status decode_preview(RawFile& raw_file, int max_w, int max_h, Foto& out, PictureColour& colour) {
  LibRaw& raw = *raw_file.raw;
  const int flip = raw.imgdata.sizes.flip;
  std::vector<std::uint8_t> jpeg;
  {
    const libraw_thumbnail_t& thumbnail = raw.imgdata.thumbnail;
    if (thumbnail.tformat == LIBRAW_THUMBNAIL_BITMAP) {
      DecodeCharge charge;
      if (!charge.take(raw_file.bytes.size() + std::uint64_t{thumbnail.twidth} * thumbnail.theight * 8))
        return Status::failure("preview too large");
      return decode_bitmap_preview(thumbnail, flip, out);
    }
    const auto* data = reinterpret_cast<const std::uint8_t*>(thumbnail.thumb);
    jpeg.assign(data, data + thumbnail.tlength);
  }
  raw_file.raw.reset();
  raw_file.bytes = {};
  return decode_jpeg_preview(jpeg.data(), jpeg.size(), flip, max_w, max_h, out, colour);
}

struct ImageRelease {
  void operator()(libraw_processed_image_t* image) const { LibRaw::dcraw_clear_mem(image); }
};

Status develop(RawFile& raw_file, const std::filesystem::path& path, Foto& out) {
  LibRaw& raw = *raw_file.raw;
  libraw_output_params_t& params = raw.imgdata.params;
  params.half_size = 1;
  params.use_camera_wb = 1;
  params.output_color = 1;  // sRGB
  params.output_bps = 8;
  params.user_flip = -1;  // as the camera was held
  const std::uint64_t pixels = std::uint64_t{raw.imgdata.sizes.raw_width} * raw.imgdata.sizes.raw_height;
  const std::uint64_t per_pixel = raw.imgdata.idata.filters != 0 ? kHalfSizeBytesPerPixel : kFullSizeBytesPerPixel;
  DecodeCharge charge;
  if (!charge.take(raw_file.bytes.size() + pixels * per_pixel))
    return picture_too_large(kWhat, path, raw.imgdata.sizes.width, raw.imgdata.sizes.height);
  int result = raw.unpack();
  if (result == LIBRAW_SUCCESS) result = raw.dcraw_process();
  std::unique_ptr<libraw_processed_image_t, ImageRelease> image;
  if (result == LIBRAW_SUCCESS) image.reset(raw.dcraw_make_mem_image(&result));
  if (result == LIBRAW_UNSUFFICIENT_MEMORY || result == LIBRAW_TOO_BIG)
    return picture_too_large(kWhat, path, raw.imgdata.sizes.width, raw.imgdata.sizes.height);
  if (result == LIBRAW_FILE_UNSUPPORTED) return camera_not_supported(path, camera_name(raw));
  if (result != LIBRAW_SUCCESS || !image) return damaged_picture(kWhat, path, libraw_strerror(result));
  const int colours = image->colors;
  if (image->type != LIBRAW_IMAGE_BITMAP || image->bits != 8 || (colours != 1 && colours != 3) ||
      std::uint64_t{image->width} * image->height * static_cast<std::uint64_t>(colours) > image->data_size)
    return damaged_picture(kWhat, path, "unexpected developed image");
  if (!out.try_allocate(image->width, image->height)) return out_of_memory(image->width, image->height);
  const std::uint8_t* samples = image->data;
  for (std::size_t i = 0; i < out.pixel_count(); ++i) {
    const std::uint8_t* s = samples + i * static_cast<std::size_t>(colours);
    out.pixels()[i] = colours == 3 ? make_pixel(s[0], s[1], s[2]) : make_pixel(s[0], s[0], s[0]);
  }
  return {};
}

Status decode_raw_picture(std::FILE* file, const std::filesystem::path& path, int max_w, int max_h, Foto& out,
                          PictureColour& colour) {
  try {
    RawFile raw_file;
    if (Status opened = open_raw(file, path, raw_file); !opened) return opened;
    if (preview_covers(*raw_file.raw, max_w, max_h)) {
      PictureColour preview_colour;
      const Status preview = decode_preview(raw_file, max_w, max_h, out, preview_colour);
      if (preview && out.width() >= max_w && out.height() >= max_h) {
        colour = std::move(preview_colour);
        return preview;
      }
      // A preview that cannot be read, or is smaller than it said, leaves
      // the picture to be developed.
      out.clear();
      if (!raw_file.raw) {
        raw_file = RawFile{};
        if (Status opened = open_raw(file, path, raw_file); !opened) return opened;
      }
    }
    return develop(raw_file, path, out);
  } catch (const std::bad_alloc&) {
    return file_too_large(kWhat, path);
  } catch (const std::exception&) {
    return damaged_picture(kWhat, path, "internal error");
  }
}

bool read_raw_picture_size(std::FILE* file, const std::filesystem::path& path, int& width, int& height) {
  width = height = 0;
  try {
    RawFile raw_file;
    if (!open_raw(file, path, raw_file)) return false;
    if (developed_size(*raw_file.raw, width, height)) return true;
  } catch (const std::exception&) {
  }
  width = height = 0;
  return false;
}

int raw_picture_load_factor(std::FILE* file, const std::filesystem::path& path, int max_w, int max_h) {
  try {
    RawFile raw_file;
    if (!open_raw(file, path, raw_file)) return 0;
    return preview_covers(*raw_file.raw, max_w, max_h) ? preview_factor(*raw_file.raw, max_w, max_h) : 1;
  } catch (const std::exception&) {
    return 0;
  }
}

}  // namespace

const PictureDecoder& raw_picture_decoder() {
  static constexpr PictureDecoder decoder{decode_raw_picture, read_raw_picture_size, raw_picture_load_factor};
  return decoder;
}

}  // namespace tess
