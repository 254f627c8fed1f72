// SPDX-License-Identifier: GPL-3.0-or-later
// Loading pictures into a Foto: which decoder a file goes to, by its
// contents, the header readers that tell a picture's size without decoding
// it, and the conversion of what was decoded to sRGB.

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "images/bounded_input.hpp"
#include "images/foto.hpp"
#include "images/jpeg_decoder.hpp"
#include "images/load_failure.hpp"
#include "images/picture_decoders.hpp"
#include "images/picture_files.hpp"

namespace tess {
namespace {

struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileClose>;

// Only regular files are pictures: a named pipe or a device that happens to
// be called x.jpg is treated as a file that cannot be opened, and opening
// never waits for a writer on the other end of a pipe. errno says why a file
// could not be opened (EINVAL for one that is no regular file).
FilePtr open_picture(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info {};
  const int flags = ::fcntl(fd, F_GETFL);
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || flags < 0 ||
      ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    const int error = S_ISREG(info.st_mode) ? errno : EINVAL;
    ::close(fd);
    errno = error;
    return nullptr;
  }
  std::FILE* file = ::fdopen(fd, "rb");
  if (file == nullptr) ::close(fd);
  return FilePtr(file);
}

bool starts_with(const unsigned char* bytes, std::size_t size, std::string_view signature, std::size_t at = 0) {
  return size >= at + signature.size() && std::memcmp(bytes + at, signature.data(), signature.size()) == 0;
}

// The brands of an ISO base media file (HEIF, AVIF, Canon's CR3): the major
// brand and the compatible ones of its first box, which must be "ftyp".
PictureFormat iso_media_format(const unsigned char* bytes, std::size_t size) {
  if (!starts_with(bytes, size, "ftyp", 4)) return PictureFormat::unknown;
  const std::size_t box = (std::size_t{bytes[0]} << 24) | (std::size_t{bytes[1]} << 16) | (std::size_t{bytes[2]} << 8) |
                          std::size_t{bytes[3]};
  const std::size_t end = std::min(size, box);
  bool heif = false;
  for (std::size_t at = 8; at + 4 <= end; at += 4) {
    if (at == 12) continue;  // the minor version
    const std::string_view brand(reinterpret_cast<const char*>(bytes + at), 4);
    if (brand == "crx ") return PictureFormat::raw;
    for (const std::string_view known : {"heic", "heix", "hevc", "hevx", "heim", "heis", "mif1", "msf1", "avif", "avis"})
      heif = heif || brand == known;
  }
  return heif ? PictureFormat::heif : PictureFormat::unknown;
}

bool raw_name(const std::string& extension) {
  for (const char* known : {".cr2", ".nef", ".nrw", ".arw", ".srf", ".sr2", ".dng", ".pef", ".srw", ".erf", ".kdc",
                            ".dcr", ".mos", ".iiq", ".3fr", ".mef", ".rwl", ".raw"})
    if (extension == known) return true;
  return false;
}

PictureFormat format_by_name(const std::string& extension) {
  return extension == ".png" ? PictureFormat::png : PictureFormat::jpeg;
}

}  // namespace

PictureFormat sniff_picture_format(std::FILE* file, const std::filesystem::path& path) {
  const std::string extension = lower_extension(path);
  if (file == nullptr) return format_by_name(extension);
  unsigned char bytes[64] = {};
  BoundedInput input{::fileno(file), 0, sizeof bytes};
  std::size_t size = 0;
  while (size < sizeof bytes) {
    const std::size_t got = input.read(bytes + size, sizeof bytes - size);
    if (got == 0) break;
    size += got;
  }
  std::rewind(file);
  if (starts_with(bytes, size, "\xFF\xD8\xFF")) return PictureFormat::jpeg;
  if (starts_with(bytes, size, "\x89PNG\r\n\x1A\n")) return PictureFormat::png;
  if (starts_with(bytes, size, "RIFF") && starts_with(bytes, size, "WEBP", 8)) return PictureFormat::webp;
  if (starts_with(bytes, size, "GIF87a") || starts_with(bytes, size, "GIF89a")) return PictureFormat::gif;
  if (starts_with(bytes, size, "BM")) return PictureFormat::bmp;
  if (starts_with(bytes, size, "\xFF\x0A") || starts_with(bytes, size, std::string_view("\0\0\0\x0CJXL \r\n\x87\n", 12)))
    return PictureFormat::jxl;
  if (starts_with(bytes, size, "FUJIFILMCCD-RAW") || starts_with(bytes, size, "IIRO") ||
      starts_with(bytes, size, "IIRS") || starts_with(bytes, size, "MMOR") ||
      starts_with(bytes, size, std::string_view("IIU\0", 4)))
    return PictureFormat::raw;
  if (starts_with(bytes, size, std::string_view("II*\0", 4)) || starts_with(bytes, size, std::string_view("MM\0*", 4)) ||
      starts_with(bytes, size, std::string_view("II+\0", 4)) || starts_with(bytes, size, std::string_view("MM\0+", 4)))
    return raw_name(extension) ? PictureFormat::raw : PictureFormat::tiff;
  if (const PictureFormat iso = iso_media_format(bytes, size); iso != PictureFormat::unknown) return iso;
  // No signature at all: a file named as a JPEG or PNG is the JPEG
  // decoder's to refuse, as it always was; anything else is a kind of file
  // we do not read.
  if (extension == ".jpg" || extension == ".jpeg" || extension == ".jpe" || extension == ".jfif" || extension == ".png")
    return PictureFormat::jpeg;
  return PictureFormat::unknown;
}

const PictureDecoder* decoder_for(PictureFormat format) {
  switch (format) {
    case PictureFormat::jpeg:
      return &jpeg_picture_decoder();
    case PictureFormat::png:
      return &png_picture_decoder();
    case PictureFormat::webp:
      return &webp_picture_decoder();
    case PictureFormat::gif:
      return &gif_picture_decoder();
    case PictureFormat::bmp:
      return &bmp_picture_decoder();
    case PictureFormat::jxl:
      return &jxl_picture_decoder();
    case PictureFormat::tiff:
      return &tiff_picture_decoder();
    case PictureFormat::raw:
      return &raw_picture_decoder();
    case PictureFormat::heif:
      return &heif_picture_decoder();
    case PictureFormat::unknown:
      break;
  }
  return nullptr;
}

Status Foto::load(const std::filesystem::path& path, int max_w, int max_h) {
  clear();
  const FilePtr file = open_picture(path);
  const int open_error = errno;
  const PictureFormat format = sniff_picture_format(file.get(), path);
  const PictureDecoder* decoder = decoder_for(format);
  if (decoder == nullptr) return unsupported_picture(path, lower_extension(path));
  PictureColour colour;
  Status status = decoder->decode(file.get(), path, max_w, max_h, *this, colour);
  if (!file) status = Status::failure(status.message(), status.icon(), open_error != 0 ? open_error : ENOENT);
  if (!status) {
    clear();
    return status;
  }
  convert_to_srgb(*this, colour);
  return status;
}

bool Foto::read_size(const std::filesystem::path& path, int& width, int& height) {
  width = 0;
  height = 0;
  const FilePtr file = open_picture(path);
  if (!file) return false;
  const PictureDecoder* decoder = decoder_for(sniff_picture_format(file.get(), path));
  return decoder != nullptr && decoder->read_size(file.get(), path, width, height);
}

int Foto::load_scale(const std::filesystem::path& path, int max_w, int max_h) {
  const FilePtr file = open_picture(path);
  if (!file) return 0;
  const PictureDecoder* decoder = decoder_for(sniff_picture_format(file.get(), path));
  return decoder != nullptr ? decoder->load_factor(file.get(), path, max_w, max_h) : 0;
}

bool Foto::read_header(const std::filesystem::path& path, JpegHeader& header) {
  const FilePtr file = open_picture(path);
  if (file && sniff_picture_format(file.get(), path) != PictureFormat::jpeg) {
    header = JpegHeader{};
    return false;
  }
  return read_jpeg_header(file.get(), header);
}

void rgba_bytes_to_pixels(Foto& picture) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(picture.pixels());
  std::uint32_t* pixels = picture.pixels();
  for (std::size_t i = 0, count = picture.pixel_count(); i < count; ++i) {
    const std::uint8_t* p = bytes + 4 * i;
    pixels[i] = make_pixel(p[0], p[1], p[2], 255u - p[3]);
  }
}

Status read_file_bytes(std::FILE* file, const std::filesystem::path& path, const char* what, std::uint64_t limit,
                       std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  struct stat info {};
  if (::fstat(::fileno(file), &info) != 0 || info.st_size <= 0) return damaged_picture(what, path, "empty file");
  const auto size = static_cast<std::uint64_t>(info.st_size);
  if (size > limit) return file_too_large(what, path);
  try {
    bytes.resize(size);
  } catch (const std::bad_alloc&) {
    return file_too_large(what, path);
  }
  BoundedInput input{::fileno(file), 0, size};
  std::size_t done = 0;
  while (done < size) {
    const std::size_t got = input.read(bytes.data() + done, size - done);
    if (got == 0) break;
    done += got;
  }
  if (done < size) {
    bytes.clear();
    return damaged_picture(what, path, "the file ends early");
  }
  return {};
}

}  // namespace tess
