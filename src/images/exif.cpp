#include "images/exif.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libexif/exif-data.h>
#include <libexif/exif-loader.h>
#include <libexif/exif-utils.h>

#include "base/file_descriptor.hpp"
#include "images/bounded_input.hpp"

namespace tess {
namespace {

struct ExifDataRelease {
  void operator()(ExifData* data) const { exif_data_unref(data); }
};
struct ExifLoaderRelease {
  void operator()(ExifLoader* loader) const { exif_loader_unref(loader); }
};
using ExifDataPtr = std::unique_ptr<ExifData, ExifDataRelease>;

// The EXIF block sits in the first segments of a photograph; nothing further
// into a file is looked at, however the loader reads what it is given.
constexpr std::uint64_t kExifSearchLimit = 4 << 20;

// Feeds the loader the start of the file, up to the search limit and never
// from a hole, and only from a regular file: a pipe named x.jpg would
// otherwise keep it waiting for a writer.
void load_exif_block(ExifLoader* loader, const std::filesystem::path& path) {
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return;
  BoundedInput input{file.get(), 0, kExifSearchLimit};
  unsigned char buffer[4096];
  for (;;) {
    const std::size_t got = input.read(buffer, sizeof buffer);
    if (got == 0 || exif_loader_write(loader, buffer, static_cast<unsigned int>(got)) == 0) return;
  }
}

// The EXIF block exactly as the file holds it. libexif's own file reader
// "fixes" what it loads to the standard, which would invent entries (a
// DateTime of today) for files that have none; so the raw block is loaded
// with that option off, and unknown tags are kept so any tag can be asked for.
ExifDataPtr exif_of_block(const unsigned char* block, unsigned int size) {
  if (block == nullptr || size == 0) return nullptr;
  ExifDataPtr data(exif_data_new());
  if (!data) return nullptr;
  exif_data_unset_option(data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  exif_data_unset_option(data.get(), EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
  exif_data_load_data(data.get(), block, size);
  return data;
}

ExifDataPtr read_exif(const std::filesystem::path& path) {
  std::unique_ptr<ExifLoader, ExifLoaderRelease> loader(exif_loader_new());
  if (!loader) return nullptr;
  load_exif_block(loader.get(), path);
  const unsigned char* block = nullptr;
  unsigned int size = 0;
  exif_loader_get_buf(loader.get(), &block, &size);
  return exif_of_block(block, size);
}

ExifEntry* find_entry(ExifData* data, int tag, int ifd) {
  const auto exif_tag = static_cast<ExifTag>(tag);
  if (ifd >= 0 && ifd < EXIF_IFD_COUNT) {
    ExifContent* content = data->ifd[ifd];
    return content != nullptr ? exif_content_get_entry(content, exif_tag) : nullptr;
  }
  for (ExifContent* content : data->ifd) {
    if (content == nullptr) continue;
    if (ExifEntry* entry = exif_content_get_entry(content, exif_tag)) return entry;
  }
  return nullptr;
}


int integer_tag(const ExifDataPtr& data, int tag, int ifd, int minimum, int maximum, int fallback) {
  if (!data) return fallback;
  const ExifEntry* entry = find_entry(data.get(), tag, ifd);
  if (entry == nullptr || entry->data == nullptr) return fallback;
  const ExifByteOrder order = exif_data_get_byte_order(data.get());
  long value = 0;
  switch (entry->size) {
    case 1:
      value = entry->data[0];
      break;
    case 2:
      value = exif_get_sshort(entry->data, order);
      break;
    case 4:
      value = exif_get_slong(entry->data, order);
      break;
    default:
      return fallback;
  }
  if (value < minimum || value > maximum) return fallback;
  return static_cast<int>(value);
}

}  // namespace

int exif_integer_tag(const std::filesystem::path& path, int tag, int ifd, int minimum, int maximum, int fallback) {
  return integer_tag(read_exif(path), tag, ifd, minimum, maximum, fallback);
}

int exif_block_integer_tag(std::span<const std::uint8_t> block, int tag, int ifd, int minimum, int maximum,
                           int fallback) {
  // libexif takes a block after its "Exif" header; blocks stored without
  // one (PNG, WebP, HEIF) get it put in front.
  static constexpr std::uint8_t kHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
  std::vector<std::uint8_t> framed;
  if (block.size() < 6 || !std::equal(kHeader, kHeader + 6, block.begin())) {
    framed.assign(kHeader, kHeader + 6);
    framed.insert(framed.end(), block.begin(), block.end());
    block = framed;
  }
  if (block.size() > std::numeric_limits<unsigned int>::max()) return fallback;
  return integer_tag(exif_of_block(block.data(), static_cast<unsigned int>(block.size())), tag, ifd, minimum, maximum,
                     fallback);
}

std::string exif_date_text(const std::filesystem::path& path) {
  ExifDataPtr data = read_exif(path);
  if (!data) return {};
  ExifEntry* entry = find_entry(data.get(), kExifTagDateTime, kExifAnyIfd);
  if (entry == nullptr || entry->data == nullptr) return {};
  std::string text;
  if (entry->format == EXIF_FORMAT_ASCII) {
    // The stored text up to its terminator; a missing terminator is tolerated.
    const char* chars = reinterpret_cast<const char*>(entry->data);
    std::size_t length = 0;
    while (length < entry->size && chars[length] != '\0') ++length;
    text.assign(chars, length);
  } else {
    char value[64] = {};
    if (exif_entry_get_value(entry, value, sizeof value) != nullptr) text = value;
  }
  if (text.size() < 10 || text.starts_with("0000")) return {};
  return text;
}

}  // namespace tess
