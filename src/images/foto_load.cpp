// Loading pictures into a Foto: which decoder a file goes to, and the header
// readers that tell a picture's size without decoding it.

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "images/exif.hpp"
#include "images/foto.hpp"
#include "images/jpeg_decoder.hpp"
#include "images/png_decoder.hpp"

namespace tess {
namespace {

constexpr unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileClose>;

// Only regular files are pictures: a named pipe or a device that happens to
// be called x.jpg is treated as a file that cannot be opened, and opening
// never waits for a writer on the other end of a pipe.
FilePtr open_picture(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info {};
  const int flags = ::fcntl(fd, F_GETFL);
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || flags < 0 ||
      ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return nullptr;
  }
  std::FILE* file = ::fdopen(fd, "rb");
  if (file == nullptr) ::close(fd);
  return FilePtr(file);
}

bool has_png_name(const std::filesystem::path& path) {
  const std::string name = path.filename().string();
  if (name.size() < 4) return false;
  std::string ending = name.substr(name.size() - 4);
  std::transform(ending.begin(), ending.end(), ending.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ending == ".png";
}

enum class PictureFormat { jpeg, png };

// The signature decides; the name only for a file that cannot be opened (so
// that its failure is reported by the decoder its name promises).
PictureFormat choose_format(std::FILE* file, const std::filesystem::path& path) {
  if (file == nullptr) return has_png_name(path) ? PictureFormat::png : PictureFormat::jpeg;
  unsigned char start[sizeof kPngSignature];
  const std::size_t got = std::fread(start, 1, sizeof start, file);
  std::rewind(file);
  return got == sizeof start && std::memcmp(start, kPngSignature, sizeof start) == 0 ? PictureFormat::png
                                                                                     : PictureFormat::jpeg;
}

}  // namespace

Status Foto::load(const std::filesystem::path& path, int max_w, int max_h) {
  clear();
  const FilePtr file = open_picture(path);
  Status status = choose_format(file.get(), path) == PictureFormat::png
                      ? decode_png(file.get(), path, max_w, max_h, *this)
                      : decode_jpeg(file.get(), path, max_w, max_h, *this);
  if (!status) clear();
  return status;
}

bool Foto::read_size(const std::filesystem::path& path, int& width, int& height) {
  width = 0;
  height = 0;
  const FilePtr file = open_picture(path);
  if (!file) return false;
  if (choose_format(file.get(), path) == PictureFormat::png) return read_png_size(file.get(), width, height);
  JpegHeader header;
  if (!read_jpeg_header(file.get(), header)) return false;
  width = header.width;
  height = header.height;
  return true;
}

int Foto::load_scale(const std::filesystem::path& path, int max_w, int max_h) {
  const FilePtr file = open_picture(path);
  if (!file) return 0;
  if (choose_format(file.get(), path) == PictureFormat::png) return png_load_factor(file.get(), max_w, max_h);
  JpegHeader header;
  if (!read_jpeg_header(file.get(), header)) return 0;
  // As the decoder does: a picture stored on its side is turned after
  // decoding, so the maxima apply to it turned.
  if (exif_integer_tag(path, kExifTagOrientation, 0, 1, 8, -1) >= 5) std::swap(max_w, max_h);
  return jpeg_load_factor(header.width, header.height, max_w, max_h);
}

bool Foto::read_header(const std::filesystem::path& path, JpegHeader& header) {
  const FilePtr file = open_picture(path);
  return read_jpeg_header(file.get(), header);
}

}  // namespace tess
