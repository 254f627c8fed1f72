// SPDX-License-Identifier: GPL-3.0-or-later
// HEIF pictures (HEVC-coded HEIC, AV1-coded AVIF) through libheif. libheif
// reads the file through our own reader, so the boxes are read no further
// than the written data and nothing is read that the picture does not need.
// The primary picture is decoded as libheif shows it (its rotation and
// mirroring applied) into 8-bit red, green, blue and alpha; a small request
// takes an embedded thumbnail instead where one is large enough.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>

#include <libheif/heif.h>

#include "base/text.hpp"
#include "images/bounded_input.hpp"
#include "images/foto_budget.hpp"
#include "images/load_failure.hpp"
#include "images/picture_decoders.hpp"
#include "images/row_reduction.hpp"

namespace tess {
namespace {

constexpr const char* kWhat = "HEIF";
// libheif keeps the coded data of the items it decodes; no photo comes near
// this, and a larger file is refused before libheif sees it.
constexpr std::uint64_t kMostFileBytes = std::uint64_t{1} << 30;
// Sides and pixels a picture may declare. HEVC and AV1 code a flat area in a
// few bytes, so the file's size says nothing about the picture's: a header
// claiming gigapixels must be refused from its numbers alone.
constexpr std::uint64_t kMostSide = 65535;
constexpr std::uint64_t kMostPixels = std::uint64_t{1} << 28;
// What a decode holds at its peak for each pixel: libheif's planes as the
// codec hands them over (up to 16 bits a sample, alpha included), its
// interleaved RGBA copy and our picture. Counted generously: the codecs
// keep reference frames and padding of their own.
constexpr std::uint64_t kDecodeBytesPerPixel = 12;
// A hostile file may list any number of thumbnails; real ones have one or two.
constexpr int kMostThumbnails = 16;

// libheif is set up once for the process and never torn down: decoders run
// on many threads and the plugins must stay loaded for all of them.
void initialise_libheif() {
  static const bool done = [] {
    (void)heif_init(nullptr);
    return true;
  }();
  (void)done;
}

// --- reading ---------------------------------------------------------------

// The file as libheif reads it: from positions of our own with pread(),
// never past the file's size and never into a hole.
struct FileSource {
  BoundedInput input;
  std::uint64_t size = 0;
  std::uint64_t position = 0;
};

std::int64_t source_position(void* user) { return static_cast<std::int64_t>(static_cast<FileSource*>(user)->position); }

int source_read(void* data, std::size_t size, void* user) {
  auto* source = static_cast<FileSource*>(user);
  if (size > source->size || source->position > source->size - size) return 1;
  source->input.offset = source->position;
  auto* bytes = static_cast<std::uint8_t*>(data);
  std::size_t done = 0;
  while (done < size) {
    const std::size_t got = source->input.read(bytes + done, size - done);
    if (got == 0) return 1;  // a hole or the end of what was written
    done += got;
  }
  source->position += size;
  return 0;
}

int source_seek(std::int64_t position, void* user) {
  auto* source = static_cast<FileSource*>(user);
  if (position < 0 || static_cast<std::uint64_t>(position) > source->size) return 1;
  source->position = static_cast<std::uint64_t>(position);
  return 0;
}

heif_reader_grow_status source_wait(std::int64_t target, void* user) {
  const auto* source = static_cast<FileSource*>(user);
  return target >= 0 && static_cast<std::uint64_t>(target) <= source->size ? heif_reader_grow_status_size_reached
                                                                           : heif_reader_grow_status_size_beyond_eof;
}

const heif_reader kFileReader{1, source_position, source_read, source_seek, source_wait};

struct ContextFree {
  void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleRelease {
  void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageRelease {
  void operator()(heif_image* image) const { heif_image_release(image); }
};
struct OptionsFree {
  void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};
using ContextPtr = std::unique_ptr<heif_context, ContextFree>;
using HandlePtr = std::unique_ptr<heif_image_handle, HandleRelease>;
using ImagePtr = std::unique_ptr<heif_image, ImageRelease>;
using OptionsPtr = std::unique_ptr<heif_decoding_options, OptionsFree>;

std::string error_text(const heif_error& error) { return error.message != nullptr ? error.message : std::string(); }

// A coding libheif has no decoder for (an AVIF where it was built without an
// AV1 decoder, a brand it does not know) is a kind of file we do not read;
// anything else libheif refuses is a broken file.
bool unsupported(const heif_error& error) {
  return error.code == heif_error_Unsupported_feature || error.code == heif_error_Unsupported_filetype;
}

Status read_failure(const heif_error& error, const std::filesystem::path& path) {
  if (unsupported(error)) return unsupported_picture(path, std::string(kWhat) + ": " + error_text(error));
  // libheif refuses a picture beyond its size limits while it reads the
  // boxes, before a handle tells the size: its message names it. A file
  // this large is too large, not damaged, whatever it really holds.
  if (error.code == heif_error_Memory_allocation_error && error.subcode == heif_suberror_Security_limit_exceeded &&
      error.message != nullptr) {
    const char* size = std::strstr(error.message, "Image size ");
    long long width = 0, height = 0;
    if (size != nullptr && std::sscanf(size, "Image size %lldx%lld", &width, &height) == 2)
      return picture_too_large(kWhat, path, width, height);
  }
  return damaged_picture(kWhat, path, error_text(error));
}

std::uint64_t size_of(std::FILE* file) {
  struct stat info {};
  if (::fstat(::fileno(file), &info) != 0 || info.st_size < 0) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

// One of the pictures a request may get: the primary picture or one of its
// thumbnails, with its size as seen (libheif reports sizes with the rotation
// applied, and applies it when decoding).
struct Candidate {
  heif_item_id id = 0;  // 0: the primary picture
  int width = 0;
  int height = 0;
  int factor = 1;  // what load_factor() reports for it
};

// An opened file: the context, its primary picture and its thumbnails.
struct HeifFile {
  FileSource source;
  ContextPtr context;
  HandlePtr primary;
  int width = 0;
  int height = 0;
  std::vector<Candidate> thumbnails;  // by factor, smallest first
};

bool plausible_size(int width, int height) {
  return width > 0 && height > 0 && static_cast<std::uint64_t>(width) <= kMostSide &&
         static_cast<std::uint64_t>(height) <= kMostSide &&
         static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) <= kMostPixels;
}

// The thumbnails that are smaller than the picture, each with a factor of
// its own: the ratio of the picture's sides to the thumbnail's (the larger,
// rounded up, at least 2), raised where two would meet. A request that gets
// the picture shrunk by rows (row_reduction_factor) is larger than every
// thumbnail on one side at least, so its factor stays below each of these
// and never names a thumbnail.
void list_thumbnails(HeifFile& file) {
  const int count = std::min(heif_image_handle_get_number_of_thumbnails(file.primary.get()), kMostThumbnails);
  if (count <= 0) return;
  std::vector<heif_item_id> ids(static_cast<std::size_t>(count));
  const int listed = heif_image_handle_get_list_of_thumbnail_IDs(file.primary.get(), ids.data(), count);
  ids.resize(static_cast<std::size_t>(std::clamp(listed, 0, count)));
  const std::uint64_t full = static_cast<std::uint64_t>(file.width) * static_cast<std::uint64_t>(file.height);
  for (const heif_item_id id : ids) {
    heif_image_handle* raw = nullptr;
    if (heif_image_handle_get_thumbnail(file.primary.get(), id, &raw).code != heif_error_Ok || raw == nullptr) continue;
    const HandlePtr handle(raw);
    const int w = heif_image_handle_get_width(handle.get());
    const int h = heif_image_handle_get_height(handle.get());
    if (!plausible_size(w, h) || static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h) >= full) continue;
    const auto ratio = [](int side, int thumb) { return (side + thumb - 1) / thumb; };
    file.thumbnails.push_back({id, w, h, std::max({2, ratio(file.width, w), ratio(file.height, h)})});
  }
  std::stable_sort(file.thumbnails.begin(), file.thumbnails.end(),
                   [](const Candidate& a, const Candidate& b) { return a.factor < b.factor; });
  for (std::size_t i = 1; i < file.thumbnails.size(); ++i)
    file.thumbnails[i].factor = std::max(file.thumbnails[i].factor, file.thumbnails[i - 1].factor + 1);
}

Status open_heif(std::FILE* file, const std::filesystem::path& path, HeifFile& heif) {
  initialise_libheif();
  heif.source.size = size_of(file);
  if (heif.source.size == 0) return damaged_picture(kWhat, path, "empty file");
  if (heif.source.size > kMostFileBytes) return file_too_large(kWhat, path);
  heif.source.input = BoundedInput{::fileno(file), 0, heif.source.size};
  heif.context.reset(heif_context_alloc());
  if (!heif.context) return damaged_picture(kWhat, path, "out of memory");
  // libheif's own limits on sizes and counts stay as they are.
  heif_error error = heif_context_read_from_reader(heif.context.get(), &kFileReader, &heif.source, nullptr);
  if (error.code != heif_error_Ok) return read_failure(error, path);
  heif_image_handle* primary = nullptr;
  error = heif_context_get_primary_image_handle(heif.context.get(), &primary);
  if (error.code != heif_error_Ok || primary == nullptr) return read_failure(error, path);
  heif.primary.reset(primary);
  heif.width = heif_image_handle_get_width(primary);
  heif.height = heif_image_handle_get_height(primary);
  if (heif.width <= 0 || heif.height <= 0) return damaged_picture(kWhat, path, "no picture size");
  list_thumbnails(heif);
  return {};
}

// Which picture a request for max_w × max_h gets: the smallest thumbnail
// that covers it, else the primary picture, shrunk by rows when it is larger
// than an ordinary photo and the request is small.
Candidate choose(const HeifFile& heif, int max_w, int max_h) {
  if (max_w > 0 && max_h > 0) {
    const Candidate* best = nullptr;
    for (const Candidate& thumbnail : heif.thumbnails)
      if (thumbnail.width >= max_w && thumbnail.height >= max_h &&
          (best == nullptr || static_cast<std::uint64_t>(thumbnail.width) * thumbnail.height <
                                  static_cast<std::uint64_t>(best->width) * best->height))
        best = &thumbnail;
    if (best != nullptr) return *best;
  }
  const int factor = plausible_size(heif.width, heif.height)
                         ? row_reduction_factor(static_cast<std::uint64_t>(heif.width),
                                                static_cast<std::uint64_t>(heif.height), false, max_w, max_h)
                         : 1;
  return {0, heif.width, heif.height, factor};
}

// --- decoding --------------------------------------------------------------

void describe_colour(const heif_image_handle* handle, PictureColour& colour) {
  const heif_color_profile_type type = heif_image_handle_get_color_profile_type(handle);
  if (type == heif_color_profile_type_prof || type == heif_color_profile_type_rICC) {
    const std::size_t size = heif_image_handle_get_raw_color_profile_size(handle);
    if (size > 0 && size <= (std::size_t{64} << 20)) {
      colour.icc.resize(size);
      if (heif_image_handle_get_raw_color_profile(handle, colour.icc.data()).code != heif_error_Ok) colour.icc.clear();
    }
  }
  // A file may carry both boxes; the ICC profile wins in the conversion,
  // the coded description is kept beside it all the same.
  heif_color_profile_nclx* nclx = nullptr;
  if (heif_image_handle_get_nclx_color_profile(handle, &nclx).code == heif_error_Ok && nclx != nullptr) {
    colour.primaries = static_cast<int>(nclx->color_primaries);
    colour.transfer = static_cast<int>(nclx->transfer_characteristics);
  }
  if (nclx != nullptr) heif_nclx_color_profile_free(nclx);
}

// One row of libheif's RGBA into our pixels: alpha becomes transparency.
// Colours stored premultiplied by their alpha are divided out again, as
// every other decoder hands them over.
void convert_row(const std::uint8_t* rgba, std::uint32_t* out, int width, bool premultiplied) {
  for (int x = 0; x < width; ++x) {
    const std::uint8_t* p = rgba + 4 * static_cast<std::size_t>(x);
    std::uint32_t r = p[0], g = p[1], b = p[2];
    const std::uint32_t a = p[3];
    if (premultiplied && a > 0 && a < 255) {
      const auto divide = [a](std::uint32_t c) { return std::min<std::uint32_t>((c * 255 + a / 2) / a, 255); };
      r = divide(r);
      g = divide(g);
      b = divide(b);
    }
    out[x] = make_pixel(r, g, b, 255u - a);
  }
}

// libheif decodes a picture whole, whatever the request. A picture larger
// than an ordinary photo asked for small is then shrunk in blocks of
// `factor` as its rows are converted, so that what is kept (in a tile
// cache, for a whole list of them) is the small picture and not the whole.
Status shrink_into(const std::uint8_t* plane, int stride, int width, int height, bool premultiplied, int factor,
                   Foto& out) {
  const int reduced_w = static_cast<int>(reduced_side(static_cast<std::uint64_t>(width), factor));
  const int reduced_h = static_cast<int>(reduced_side(static_cast<std::uint64_t>(height), factor));
  if (!out.try_allocate(reduced_w, reduced_h)) return out_of_memory(reduced_w, reduced_h);
  std::vector<std::uint32_t> row(static_cast<std::size_t>(width));
  std::vector<PixelSum> sums(static_cast<std::size_t>(reduced_w));
  for (int y = 0; y < height; ++y) {
    convert_row(plane + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride), row.data(), width,
                premultiplied);
    add_to_sums(sums.data(), row.data(), static_cast<std::uint64_t>(width), 0, 0, factor);
    if ((y + 1) % factor == 0 || y + 1 == height)
      finish_reduced_row(sums.data(), out.row(y / factor), reduced_w, static_cast<std::uint64_t>(width), factor,
                         static_cast<std::uint64_t>(y % factor + 1));
  }
  return {};
}

Status decode_handle(const heif_image_handle* handle, const std::filesystem::path& path, int shrink,
                     std::uint64_t file_bytes, Foto& out) {
  const int width = heif_image_handle_get_width(handle);
  const int height = heif_image_handle_get_height(handle);
  if (!plausible_size(width, height)) return picture_too_large(kWhat, path, width, height);
  const std::uint64_t pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
  const std::uint64_t kept = shrink == 1 ? 0
                                         : reduced_side(static_cast<std::uint64_t>(width), shrink) *
                                               reduced_side(static_cast<std::uint64_t>(height), shrink) *
                                               (4 + sizeof(PixelSum));
  DecodeCharge charge;
  if (!charge.take(file_bytes + pixels * kDecodeBytesPerPixel + kept))
    return picture_too_large(kWhat, path, width, height);

  const OptionsPtr options(heif_decoding_options_alloc());
  if (!options) return out_of_memory(width, height);
  options->ignore_transformations = 0;
  if (options->version >= 2) options->convert_hdr_to_8bit = 1;
  heif_image* raw = nullptr;
  const heif_error error =
      heif_decode_image(handle, &raw, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, options.get());
  const ImagePtr image(raw);
  if (error.code == heif_error_Memory_allocation_error) return picture_too_large(kWhat, path, width, height);
  if (error.code != heif_error_Ok || !image) return read_failure(error, path);

  // The decoded picture is checked against what was charged: a coded stream
  // may disagree with the sizes its file declares.
  const int decoded_w = heif_image_get_width(image.get(), heif_channel_interleaved);
  const int decoded_h = heif_image_get_height(image.get(), heif_channel_interleaved);
  int stride = 0;
  const std::uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
  if (plane == nullptr || decoded_w <= 0 || decoded_h <= 0 ||
      static_cast<std::uint64_t>(decoded_w) * static_cast<std::uint64_t>(decoded_h) > pixels ||
      heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) != 8 ||
      stride < 4 * decoded_w)
    return damaged_picture(kWhat, path, "the decoded picture does not match its header");
  const bool premultiplied = heif_image_is_premultiplied_alpha(image.get()) != 0;
  if (shrink > 1) return shrink_into(plane, stride, decoded_w, decoded_h, premultiplied, shrink, out);
  if (!out.try_allocate(decoded_w, decoded_h)) return out_of_memory(decoded_w, decoded_h);
  for (int y = 0; y < decoded_h; ++y)
    convert_row(plane + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride), out.row(y), decoded_w,
                premultiplied);
  return {};
}

Status decode_heif_picture(std::FILE* file, const std::filesystem::path& path, int max_w, int max_h, Foto& out,
                           PictureColour& colour) {
  try {
    if (file == nullptr) return Status::failure(format(tr("Unable to open file '%s'"), path.string()));
    HeifFile heif;
    if (Status opened = open_heif(file, path, heif); !opened) return opened;
    const Candidate chosen = choose(heif, max_w, max_h);
    const heif_image_handle* source = heif.primary.get();
    HandlePtr thumbnail;
    if (chosen.id != 0) {
      // A thumbnail that does not decode fails the load rather than quietly
      // giving the whole picture: every request that names this thumbnail
      // by its factor must get the same picture.
      heif_image_handle* raw = nullptr;
      const heif_error error = heif_image_handle_get_thumbnail(heif.primary.get(), chosen.id, &raw);
      thumbnail.reset(raw);
      if (error.code != heif_error_Ok || !thumbnail) return read_failure(error, path);
      source = thumbnail.get();
    }
    const int shrink = chosen.id != 0 ? 1 : chosen.factor;
    if (Status decoded = decode_handle(source, path, shrink, heif.source.size, out); !decoded) return decoded;
    // A thumbnail's own colour description where it has one, else the picture's.
    describe_colour(source, colour);
    if (source != heif.primary.get() && colour.icc.empty() && colour.primaries == 0 && colour.transfer == 0)
      describe_colour(heif.primary.get(), colour);
    return {};
  } catch (const std::exception&) {
    return Status::failure(format(tr("Internal error while loading file %s. Please contact the author of Tessellarium "
                                     "and report this error."),
                                  path.string()));
  }
}

bool read_heif_size(std::FILE* file, const std::filesystem::path& path, int& width, int& height) {
  width = height = 0;
  if (file == nullptr) return false;
  try {
    HeifFile heif;
    if (!open_heif(file, path, heif)) return false;
    width = heif.width;
    height = heif.height;
    return true;
  } catch (const std::exception&) {
    width = height = 0;
    return false;
  }
}

int heif_load_factor(std::FILE* file, const std::filesystem::path& path, int max_w, int max_h) {
  if (file == nullptr) return 0;
  try {
    HeifFile heif;
    if (!open_heif(file, path, heif)) return 0;
    return choose(heif, max_w, max_h).factor;
  } catch (const std::exception&) {
    return 0;
  }
}

}  // namespace

const PictureDecoder& heif_picture_decoder() {
  static constexpr PictureDecoder decoder{decode_heif_picture, read_heif_size, heif_load_factor};
  return decoder;
}

}  // namespace tess
