// Reading and writing the list file. Both go through a 16 KB buffer; the
// reader knows how many bytes the file still holds, so a count or a length
// that the rest of the file cannot back is refused before anything is
// allocated for it.

#include "tilelist/list_file.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/file_sink.hpp"
#include "base/text.hpp"

namespace tess {

namespace {

constexpr std::size_t kBufferSize = 16 * 1024;
constexpr std::int32_t kGridColumnsStored = kGridColumns;
constexpr std::int32_t kGridRowsStored = kGridRows;
constexpr std::uint8_t kSignatureMarker = 1;
constexpr std::size_t kFineBlockBytes = 4 * kFineSampleCount;        // 432
constexpr std::size_t kSampleBlockBytes = 4 * kSignatureSampleCount;  // 484
/// What follows the path of a current entry: time, size, required flag,
/// clip length and rate, marker, the samples, portrait and opaque flags.
constexpr std::size_t kEntryFieldBytes = 8 + 4 + 2 + 2 + 2 + 1 + kSampleBlockBytes + 1 + 1;  // 505
static_assert(sizeof(TileSignature::samples) == kSampleBlockBytes, "samples are copied as one block");

// Version landmarks of the layout.
constexpr int kFirstUtf8Version = 109;
constexpr int kFirstBlackAndWhiteVersion = 110;
constexpr int kLastBaseFolderVersion = 111;
constexpr int kFirstPortraitByteVersion = 111;
constexpr int kRequiredAfterPortraitVersion = 114;
constexpr int kFirstRequiredOnlyVersion = 115;
constexpr int kFirstFolderSetsVersion = 113;
constexpr int kFirstWholeSignatureVersion = 117;
constexpr int kFirstVideoVersion = 119;

// String length prefixes: one byte below 255, else 0xFF and a 16-bit length
// below 0xFFFE, else 0xFF, 0xFFFF and a 32-bit length.
constexpr std::uint8_t kLongString = 0xFF;
constexpr std::uint16_t kVeryLongString = 0xFFFF;
constexpr std::size_t kLastShortLength = 254;
constexpr std::size_t kLastMediumLength = 0xFFFD;

/// Opens the share block that may follow the entries.
constexpr std::array<char, 8> kShareMagic = {'T', 'Z', 'C', 'S', 'H', 'A', 'R', 'E'};
/// Magic, index, count, scanned, fingerprint, unusable count.
constexpr std::uint64_t kShareFixedBytes = 8 + 4 + 4 + 8 + 8 + 4;

std::uint32_t load_u32(const std::uint8_t* b) {
  return std::uint32_t{b[0]} | (std::uint32_t{b[1]} << 8) | (std::uint32_t{b[2]} << 16) | (std::uint32_t{b[3]} << 24);
}
std::uint16_t load_u16(const std::uint8_t* b) { return static_cast<std::uint16_t>(b[0] | (b[1] << 8)); }

void store_u16(std::uint8_t* b, std::uint16_t value) {
  b[0] = static_cast<std::uint8_t>(value);
  b[1] = static_cast<std::uint8_t>(value >> 8);
}
void store_u32(std::uint8_t* b, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) b[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

class FileHandle {
 public:
  explicit FileHandle(int fd = -1) : m_fd(fd) {}
  ~FileHandle() {
    if (m_fd >= 0) ::close(m_fd);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  int get() const { return m_fd; }
  void reset(int fd) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
  }
  /// Closes now; false when the close reported an error (a late write failure).
  bool close() {
    const int fd = m_fd;
    m_fd = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int m_fd;
};

using FileStamp = TileImageList::FileStamp;

FileStamp stamp_of(const struct stat& info) {
  FileStamp stamp;
  stamp.device = static_cast<std::uint64_t>(info.st_dev);
  stamp.inode = static_cast<std::uint64_t>(info.st_ino);
  stamp.size = static_cast<std::int64_t>(info.st_size);
  stamp.modified_ns = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  return stamp;
}

// ---------------------------------------------------------------------------
// Reading

class ListReader {
 public:
  /// Opens a regular file (never waiting on a pipe or a device).
  bool open(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    m_file.reset(fd);
    struct stat info {};
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0 || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
      m_file.reset(-1);
      return false;
    }
    m_left = static_cast<std::uint64_t>(info.st_size);
    m_stamp = stamp_of(info);
    return true;
  }

  /// Which version of the file is being read.
  const FileStamp& stamp() const { return m_stamp; }

  /// Bytes the file still holds after what was read.
  std::uint64_t left() const { return m_left; }

  bool bytes(void* out, std::size_t count) {
    if (count > m_left) return false;
    auto* target = static_cast<std::uint8_t*>(out);
    while (count > 0) {
      if (m_pos == m_end && !refill()) return false;
      const std::size_t n = std::min(count, m_end - m_pos);
      std::memcpy(target, m_buffer.data() + m_pos, n);
      m_pos += n;
      target += n;
      count -= n;
      m_left -= n;
    }
    return true;
  }

  bool skip(std::size_t count) {
    std::array<std::uint8_t, 64> scratch{};
    while (count > 0) {
      const std::size_t n = std::min(count, scratch.size());
      if (!bytes(scratch.data(), n)) return false;
      count -= n;
    }
    return true;
  }

  bool u8(std::uint8_t& value) { return bytes(&value, 1); }
  bool u16(std::uint16_t& value) {
    std::uint8_t b[2];
    if (!bytes(b, 2)) return false;
    value = static_cast<std::uint16_t>(b[0] | (b[1] << 8));
    return true;
  }
  bool u32(std::uint32_t& value) {
    std::uint8_t b[4];
    if (!bytes(b, 4)) return false;
    value = std::uint32_t{b[0]} | (std::uint32_t{b[1]} << 8) | (std::uint32_t{b[2]} << 16) |
            (std::uint32_t{b[3]} << 24);
    return true;
  }
  bool i16(std::int16_t& value) {
    std::uint16_t raw = 0;
    if (!u16(raw)) return false;
    value = static_cast<std::int16_t>(raw);
    return true;
  }
  bool i32(std::int32_t& value) {
    std::uint32_t raw = 0;
    if (!u32(raw)) return false;
    value = static_cast<std::int32_t>(raw);
    return true;
  }
  bool i64(std::int64_t& value) {
    std::uint32_t low = 0, high = 0;
    if (!u32(low) || !u32(high)) return false;
    value = static_cast<std::int64_t>((std::uint64_t{high} << 32) | low);
    return true;
  }

  /// A length-prefixed string; a length beyond the end of the file is a
  /// malformed string, refused before the text is allocated.
  bool string(std::string& text) {
    std::uint8_t short_length = 0;
    if (!u8(short_length)) return false;
    std::uint64_t length = short_length;
    if (short_length == kLongString) {
      std::uint16_t medium = 0;
      if (!u16(medium)) return false;
      length = medium;
      if (medium == kVeryLongString) {
        std::uint32_t long_length = 0;
        if (!u32(long_length)) return false;
        length = long_length;
      }
    }
    if (length > m_left) return false;
    text.resize(static_cast<std::size_t>(length));
    return bytes(text.data(), text.size());
  }

 private:
  bool refill() {
    m_pos = m_end = 0;
    for (;;) {
      const ssize_t n = ::read(m_file.get(), m_buffer.data(), m_buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      m_end = static_cast<std::size_t>(n);
      return true;
    }
  }

  FileHandle m_file;
  std::array<std::uint8_t, kBufferSize> m_buffer{};
  std::size_t m_pos = 0;
  std::size_t m_end = 0;
  std::uint64_t m_left = 0;
  FileStamp m_stamp;
};

/// Version 108 wrote the platform's 8-bit code page; it is read as Latin-1,
/// whose bytes are exactly the first 256 code points.
std::string latin1_to_utf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out.push_back(ch);
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

/// The smallest number of bytes one entry takes in a version's layout (an
/// empty path), so an entry count can be checked against the file.
std::uint64_t smallest_entry_bytes(int version) {
  std::uint64_t bytes = 1 + 8 + 4;  // path prefix, modification time, size
  if (version < kFirstPortraitByteVersion)
    bytes += 3 * 4;
  else if (version < kFirstRequiredOnlyVersion)
    bytes += 1 + (version == kRequiredAfterPortraitVersion ? 2 : 0);
  else
    bytes += 2;
  if (version >= kFirstVideoVersion) bytes += 2 + 2;
  bytes += 1;  // signature marker
  if (version < kFirstWholeSignatureVersion)
    bytes += 4 + kFineBlockBytes + (version >= kFirstRequiredOnlyVersion ? 1 + 4 + 1 : 0);
  else
    bytes += kSampleBlockBytes + 1 + 1;
  return bytes;
}

/// A count that the rest of the file can back, each item taking at least
/// `item_bytes`.
bool read_count(ListReader& in, std::uint64_t item_bytes, std::int32_t& count) {
  if (!in.i32(count) || count < 0) return false;
  return static_cast<std::uint64_t>(count) <= in.left() / item_bytes;
}

class ListFileLoader {
 public:
  ListFileLoader(ListReader& in, TileImageList& list, const std::filesystem::path& file)
      : m_in(in), m_list(list), m_file(file) {}

  /// Everything after the version and grid: true when the file was read whole.
  bool read_body() {
    if (!read_header()) return false;
    std::int32_t count = 0;
    if (!read_count(m_in, smallest_entry_bytes(m_version), count)) return false;
    for (std::int32_t i = 0; i < count; ++i) {
      FotoInfo entry;
      if (!read_entry(entry)) return false;
      m_list.insert(std::move(entry));
    }
    return true;
  }

  void set_version(int version) { m_version = version; }

 private:
  bool text(std::string& value) {
    if (!m_in.string(value)) return false;
    if (m_version < kFirstUtf8Version) value = latin1_to_utf8(value);
    return true;
  }

  bool folder_set(FolderKind kind) {
    std::int32_t count = 0;
    if (!read_count(m_in, 1, count)) return false;
    for (std::int32_t i = 0; i < count; ++i) {
      std::string item;
      if (!text(item)) return false;
      m_list.add_folder(kind, item);
    }
    return true;
  }

  bool read_header() {
    std::uint8_t black_and_white = 0;
    if (m_version >= kFirstBlackAndWhiteVersion && !m_in.u8(black_and_white)) return false;
    m_list.set_black_and_white(black_and_white != 0);

    if (m_version <= kLastBaseFolderVersion) return read_base_folder();

    std::string ignored_list_path;
    if (!text(ignored_list_path) || !folder_set(FolderKind::include)) return false;
    if (m_version >= kFirstFolderSetsVersion &&
        (!folder_set(FolderKind::exclude) || !folder_set(FolderKind::required)))
      return false;
    if (m_version >= kFirstVideoVersion && !folder_set(FolderKind::video)) return false;
    return true;
  }

  /// Old lists stored their pictures below one base folder and were moved
  /// together with it: the folder the list is loaded from takes the base
  /// folder's place and becomes the Include folder.
  bool read_base_folder() {
    std::string ignored_list_name;
    if (!text(m_old_base) || !text(ignored_list_name)) return false;
    const std::string file = m_file.string();
    const auto slash = file.rfind('/');
    m_new_base = slash == std::string::npos ? m_old_base : file.substr(0, slash + 1);
    m_rebase = true;
    m_list.add_folder(FolderKind::include, m_new_base);
    return true;
  }

  /// A stored path below the old base folder, moved below the new one. The
  /// rest of the path was written with the old system's "\" separators. A
  /// path outside the old base folder is kept as it is.
  std::string rebased(const std::string& stored) const {
    if (stored.compare(0, m_old_base.size(), m_old_base) != 0) return stored;
    std::string rest = stored.substr(m_old_base.size());
    std::replace(rest.begin(), rest.end(), '\\', '/');
    return m_new_base + rest;
  }

  bool samples(TileSignature& signature, int first, int count) {
    std::array<std::uint8_t, kSampleBlockBytes> block{};
    const auto bytes = static_cast<std::size_t>(4 * count);
    if (!m_in.bytes(block.data(), bytes)) return false;
    for (int i = 0; i < count; ++i)
      signature.samples[static_cast<std::size_t>(first + i)] = load_u32(block.data() + 4 * i);
    signature.perceptual_ready = 0;
    return true;
  }

  /// An entry of the current layout: the fields after the path are read as
  /// one block, so a large list costs one copy per entry, not one per field.
  bool read_current_entry(FotoInfo& entry) {
    if (!text(entry.path)) return false;
    std::array<std::uint8_t, kEntryFieldBytes> block;
    if (!m_in.bytes(block.data(), block.size())) return false;
    const std::uint8_t* b = block.data();
    entry.modification_time =
        static_cast<std::int64_t>((std::uint64_t{load_u32(b + 4)} << 32) | load_u32(b));
    entry.file_size = static_cast<std::int32_t>(load_u32(b + 8));
    entry.required = load_u16(b + 12) != 0 ? 1 : 0;
    entry.frame_count = load_u16(b + 14);
    entry.rate_code = load_u16(b + 16);
    // b[18] is the signature marker.
    TileSignature& signature = entry.signature;
    const std::uint8_t* samples = b + 19;
    if constexpr (std::endian::native == std::endian::little)
      std::memcpy(signature.samples.data(), samples, kSampleBlockBytes);
    else
      for (std::size_t i = 0; i < kSignatureSampleCount; ++i) signature.samples[i] = load_u32(samples + 4 * i);
    signature.portrait = samples[kSampleBlockBytes] != 0 ? 1 : 0;
    signature.opaque = samples[kSampleBlockBytes + 1] != 0 ? 1 : 0;
    signature.analysed = 1;
    signature.perceptual_ready = 0;
    entry.usable = 1;
    entry.variant_group = 0;
    return true;
  }

  bool read_entry(FotoInfo& entry) {
    if (m_version >= kFirstVideoVersion) return read_current_entry(entry);
    if (!text(entry.path)) return false;
    if (m_rebase) entry.path = rebased(entry.path);
    if (!m_in.i64(entry.modification_time) || !m_in.i32(entry.file_size)) return false;

    std::uint8_t portrait = 0;
    std::int16_t required = 0;
    if (m_version < kFirstPortraitByteVersion) {
      std::int32_t unused = 0, unused2 = 0, turned = 0;
      if (!m_in.i32(unused) || !m_in.i32(unused2) || !m_in.i32(turned)) return false;
      portrait = turned != 0 ? 1 : 0;
    } else if (m_version < kFirstRequiredOnlyVersion) {
      if (!m_in.u8(portrait)) return false;
      if (m_version == kRequiredAfterPortraitVersion && !m_in.i16(required)) return false;
    } else if (!m_in.i16(required)) {
      return false;
    }
    if (m_version >= kFirstVideoVersion && (!m_in.u16(entry.frame_count) || !m_in.u16(entry.rate_code)))
      return false;

    std::uint8_t marker = 0;
    if (!m_in.u8(marker)) return false;
    TileSignature& signature = entry.signature;
    std::uint8_t opaque = 0;
    if (m_version < kFirstWholeSignatureVersion) {
      // Only the fine samples were stored: the other levels are derived.
      if (!m_in.skip(4) || !samples(signature, kFirstFineSample, kFineSampleCount)) return false;
      if (m_version >= kFirstRequiredOnlyVersion && (!m_in.u8(portrait) || !m_in.skip(4) || !m_in.u8(opaque)))
        return false;
      signature.portrait = portrait != 0 ? 1 : 0;
      signature.recompute_levels();
    } else {
      if (!samples(signature, 0, kSignatureSampleCount) || !m_in.u8(portrait) || !m_in.u8(opaque)) return false;
      signature.portrait = portrait != 0 ? 1 : 0;
      signature.opaque = opaque != 0 ? 1 : 0;
    }
    signature.analysed = 1;
    entry.required = required != 0 ? 1 : 0;
    entry.usable = 1;
    entry.variant_group = 0;
    return true;
  }

  ListReader& m_in;
  TileImageList& m_list;
  const std::filesystem::path& m_file;
  int m_version = kListFileVersion;
  bool m_rebase = false;
  std::string m_old_base;
  std::string m_new_base;
};

/// The share block after the entries, when the file has one; a block that
/// is there but cut short or followed by more bytes makes the file unreadable.
bool read_share(ListReader& in, ListShare& share) {
  share = ListShare{};
  if (in.left() == 0) return true;
  std::array<char, kShareMagic.size()> magic{};
  std::int32_t index = 0, count = 0, unusable = 0;
  std::int64_t scanned = 0, fingerprint = 0;
  if (in.left() < kShareFixedBytes || !in.bytes(magic.data(), magic.size()) || magic != kShareMagic) return false;
  if (!in.i32(index) || !in.i32(count) || !in.i64(scanned) || !in.i64(fingerprint)) return false;
  if (count < 1 || index < 1 || index > count || scanned < 0 || !read_count(in, 1, unusable)) return false;
  share.unusable.resize(static_cast<std::size_t>(unusable));
  for (std::string& path : share.unusable)
    if (!in.string(path)) return false;
  if (in.left() != 0) return false;
  share.index = index;
  share.count = count;
  share.scanned = static_cast<std::uint64_t>(scanned);
  share.fingerprint = static_cast<std::uint64_t>(fingerprint);
  return true;
}

ListLoadResult read_list(TileImageList& list, const std::filesystem::path& file, FileStamp& stamp, ListShare* share) {
  ListReader in;
  if (!in.open(file)) return ListLoadResult::unreadable;
  stamp = in.stamp();

  std::int32_t version = 0;
  if (!in.i32(version)) return ListLoadResult::unreadable;
  list.set_version(version);
  if (version < kOldestListFileVersion || version > kListFileVersion) return ListLoadResult::refused;
  std::int32_t columns = 0, rows = 0;
  if (!in.i32(columns) || !in.i32(rows)) return ListLoadResult::unreadable;
  if (columns != kGridColumnsStored || rows != kGridRowsStored) return ListLoadResult::refused;

  ListFileLoader loader(in, list, file);
  loader.set_version(version);
  if (!loader.read_body()) return ListLoadResult::unreadable;
  // Bytes after the entries are left alone unless the caller asks for a share.
  if (share != nullptr && !read_share(in, *share)) return ListLoadResult::unreadable;
  return ListLoadResult::loaded;
}

// ---------------------------------------------------------------------------
// Writing

class ListWriter {
 public:
  /// The list goes to a temporary that replaces `path` only in finish(), so
  /// a failed save leaves the earlier list as it was.
  bool open(const std::filesystem::path& path) {
    if (!m_file.open(path)) return false;
    m_ok = true;
    return true;
  }

  void bytes(const void* data, std::size_t count) {
    const auto* source = static_cast<const std::uint8_t*>(data);
    while (m_ok && count > 0) {
      if (m_used == m_buffer.size()) flush();
      const std::size_t n = std::min(count, m_buffer.size() - m_used);
      std::memcpy(m_buffer.data() + m_used, source, n);
      m_used += n;
      source += n;
      count -= n;
    }
  }

  void u8(std::uint8_t value) { bytes(&value, 1); }
  void u16(std::uint16_t value) {
    const std::uint8_t b[2] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
    bytes(b, 2);
  }
  void u32(std::uint32_t value) {
    const std::uint8_t b[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                               static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    bytes(b, 4);
  }
  void i16(std::int16_t value) { u16(static_cast<std::uint16_t>(value)); }
  void i32(std::int32_t value) { u32(static_cast<std::uint32_t>(value)); }
  void i64(std::int64_t value) {
    const auto raw = static_cast<std::uint64_t>(value);
    u32(static_cast<std::uint32_t>(raw));
    u32(static_cast<std::uint32_t>(raw >> 32));
  }

  void string(const std::string& text) {
    const std::size_t length = text.size();
    if (length <= kLastShortLength) {
      u8(static_cast<std::uint8_t>(length));
    } else if (length <= kLastMediumLength) {
      u8(kLongString);
      u16(static_cast<std::uint16_t>(length));
    } else if (length <= std::numeric_limits<std::uint32_t>::max()) {
      u8(kLongString);
      u16(kVeryLongString);
      u32(static_cast<std::uint32_t>(length));
    } else {
      m_ok = false;  // no length prefix can say it
      return;
    }
    bytes(text.data(), length);
  }

  /// Writes what is buffered and gives the file its name, whose version
  /// `stamp` then tells; false when any write, the last flush or the close
  /// failed (a full disk often shows up only there), and the earlier file is
  /// then untouched.
  bool finish(FileStamp& stamp) {
    flush();
    struct stat info {};
    if (m_ok && ::fstat(m_file.fd(), &info) == 0) {
      stamp = stamp_of(info);  // renaming keeps the file and its times
      return m_file.commit();
    }
    m_file.roll_back();
    return false;
  }

 private:
  void flush() {
    if (m_ok && m_used > 0 && !m_file.write(m_buffer.data(), m_used)) m_ok = false;
    m_used = 0;
  }

  FileSink m_file;
  std::array<std::uint8_t, kBufferSize> m_buffer{};
  std::size_t m_used = 0;
  bool m_ok = false;
};

void write_folder_set(ListWriter& out, const TileImageList::FolderSet& set) {
  out.i32(static_cast<std::int32_t>(set.size()));
  for (const auto& item : set) out.string(item);
}

void write_entry(ListWriter& out, const FotoInfo& entry) {
  out.string(entry.path);
  // The fields after the path go out as one block, laid out as the reader takes them.
  std::array<std::uint8_t, kEntryFieldBytes> block;
  std::uint8_t* b = block.data();
  const auto time = static_cast<std::uint64_t>(entry.modification_time);
  store_u32(b, static_cast<std::uint32_t>(time));
  store_u32(b + 4, static_cast<std::uint32_t>(time >> 32));
  store_u32(b + 8, static_cast<std::uint32_t>(entry.file_size));
  store_u16(b + 12, entry.required != 0 ? 1 : 0);
  store_u16(b + 14, entry.frame_count);
  store_u16(b + 16, entry.rate_code);
  b[18] = kSignatureMarker;
  std::uint8_t* samples = b + 19;
  if constexpr (std::endian::native == std::endian::little)
    std::memcpy(samples, entry.signature.samples.data(), kSampleBlockBytes);
  else
    for (std::size_t i = 0; i < kSignatureSampleCount; ++i) store_u32(samples + 4 * i, entry.signature.samples[i]);
  samples[kSampleBlockBytes] = entry.signature.portrait != 0 ? 1 : 0;
  samples[kSampleBlockBytes + 1] = entry.signature.opaque != 0 ? 1 : 0;
  out.bytes(block.data(), block.size());
}

void write_share(ListWriter& out, const ListShare& share) {
  out.bytes(kShareMagic.data(), kShareMagic.size());
  out.i32(share.index);
  out.i32(share.count);
  out.i64(static_cast<std::int64_t>(share.scanned));
  out.i64(static_cast<std::int64_t>(share.fingerprint));
  out.i32(static_cast<std::int32_t>(share.unusable.size()));
  for (const std::string& path : share.unusable) out.string(path);
}

bool write_list(const TileImageList& list, const std::filesystem::path& file, const ListShare* share,
                FileStamp& stamp) {
  constexpr auto kMaxCount = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
  if (list.entry_count() > kMaxCount) return false;
  ListWriter out;
  if (!out.open(file)) return false;
  out.i32(kListFileVersion);
  out.i32(kGridColumnsStored);
  out.i32(kGridRowsStored);
  out.u8(list.black_and_white() ? 1 : 0);
  out.string(file.string());
  for (const FolderKind kind : {FolderKind::include, FolderKind::exclude, FolderKind::required, FolderKind::video})
    write_folder_set(out, list.folders(kind));
  out.i32(static_cast<std::int32_t>(list.entry_count()));
  for (const auto& [path, entry] : list.entries()) write_entry(out, entry);
  if (share != nullptr && share->count > 0) {
    if (share->unusable.size() > kMaxCount) return false;
    write_share(out, *share);
  }
  return out.finish(stamp);
}

// --- two programs saving one list ---------------------------------------------

/// Holds an exclusive advisory lock on the list file itself, so that no
/// lock file is left beside a user's lists. A save replaces the file by a
/// new one: a program that waited for the lock takes it again where the
/// name has moved on to that new file. A file that does not exist yet
/// holds nothing another save could lose, and is not locked.
class ListLock {
 public:
  explicit ListLock(const std::filesystem::path& file) {
    constexpr int kTries = 1000;
    for (int i = 0; i < kTries; ++i) {
      m_fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
      if (m_fd < 0) return;
      struct stat locked {};
      if (::fstat(m_fd, &locked) != 0 || !S_ISREG(locked.st_mode)) break;
      while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
      }
      struct stat named {};
      if (::stat(file.c_str(), &named) == 0 && named.st_dev == locked.st_dev && named.st_ino == locked.st_ino) return;
      ::close(m_fd);
      m_fd = -1;
    }
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
  }
  ~ListLock() {
    if (m_fd >= 0) ::close(m_fd);  // closing releases the lock
  }
  ListLock(const ListLock&) = delete;
  ListLock& operator=(const ListLock&) = delete;

 private:
  int m_fd = -1;
};

/// Whether an item of `set` (a folder ending in "/" or a single file) holds `path`.
bool holds(const TileImageList::FolderSet& set, const std::string& path) {
  return std::any_of(set.begin(), set.end(), [&path](const std::string& item) {
    return item == path || (!item.empty() && item.back() == '/' && path.starts_with(item));
  });
}

/// Another program saved the list since `list` read or wrote it (say the
/// desktop program's list window and `list update`): its save is read
/// again and what `list` changed since is made on top of it, so neither
/// save is lost. Folder items follow each side's additions and removals,
/// the colour mode the side that switched it; every analysed picture of
/// either side that the merged folders still hold stays, this side's
/// analysis winning for a picture both hold.
void take_other_save(TileImageList& list, const std::filesystem::path& file) {
  const auto& base = list.file_base();
  // A new list, or one saved under another name, replaces the file.
  if (!base || base->path != file.string()) return;
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0 || stamp_of(info) == base->stamp) return;
  TileImageList theirs;
  if (!load_list_file(theirs, file)) return;  // nothing readable to keep

  const bool black_and_white =
      list.black_and_white() != base->black_and_white ? list.black_and_white() : theirs.black_and_white();
  for (int k = 0; k < kFolderKindCount; ++k) {
    const auto kind = static_cast<FolderKind>(k);
    const TileImageList::FolderSet ours = list.folders(kind);
    const TileImageList::FolderSet& before = base->folders[static_cast<std::size_t>(k)];
    for (const std::string& item : ours) (void)list.remove_folder(kind, item);
    for (const std::string& item : theirs.folders(kind))
      if (!before.contains(item) || ours.contains(item)) (void)list.add_folder(kind, item);
    for (const std::string& item : ours)
      if (!before.contains(item)) (void)list.add_folder(kind, item);
  }
  // Signatures of the other colour mode would compare wrongly.
  if (list.black_and_white() != black_and_white) list.clear_entries();
  list.set_black_and_white(black_and_white);
  if (theirs.black_and_white() == black_and_white)
    theirs.for_each_entry([&list](FotoInfo& entry) { (void)list.insert(entry); });

  std::vector<std::string> gone;
  list.for_each_entry([&list, &gone](FotoInfo& entry) {
    const bool excluded = holds(list.folders(FolderKind::exclude), entry.path);
    const bool required = holds(list.folders(FolderKind::required), entry.path);
    const bool held = entry.is_video() ? holds(list.folders(FolderKind::video), entry.path)
                                       : required || holds(list.folders(FolderKind::include), entry.path);
    if (excluded || !held) gone.push_back(entry.path);
    entry.required = required ? 1 : 0;
  });
  for (const std::string& path : gone) (void)list.erase(path);
  list.group_variants(kGroupingFrameNumbers);
}

}  // namespace

Status load_list_file(TileImageList& list, const std::filesystem::path& file, ListLoadResult* result,
                      ListShare* share) {
  list.set_path(file.string());
  list.clear();
  list.set_black_and_white(false);
  list.set_changed(false);

  FileStamp stamp;
  const ListLoadResult outcome = read_list(list, file, stamp, share);
  if (result != nullptr) *result = outcome;
  if (outcome != ListLoadResult::loaded) {
    list.clear();
    list.set_black_and_white(false);
    if (outcome == ListLoadResult::refused)
      return Status::failure(tr("This file was created using a different version of Tessellarium"), Icon::warning);
    return Status::refused();
  }
  list.group_variants(kGroupingFrameNumbers);
  list.set_changed(list.version() < kFirstCurrentListVersion);
  list.set_file_base(file.string(), stamp);
  return {};
}

Status save_list_file(TileImageList& list, const std::filesystem::path& file, const ListShare* share) {
  // Read again, changed and replaced whole under the lock: two programs
  // saving at once both keep their changes.
  const ListLock lock(file);
  take_other_save(list, file);
  FileStamp stamp;
  if (!write_list(list, file, share, stamp)) return Status::failure(format(tr("Unable to save file '%s'"), file.string()));
  list.set_path(file.string());
  list.set_version(kListFileVersion);
  list.set_changed(false);
  list.set_file_base(file.string(), stamp);
  return {};
}

Status unreadable_list() { return Status::failure(tr("Error while reading the Images List!")); }

Status open_list_file(TileImageList& list, const std::string& file) {
  std::error_code error;
  std::filesystem::path path = std::filesystem::absolute(file, error);
  if (error) path = file;
  ListLoadResult result = ListLoadResult::unreadable;
  Status status = load_list_file(list, path, &result);
  // A refused file carries its own reason.
  if (result == ListLoadResult::unreadable) return unreadable_list();
  return status;
}

}  // namespace tess
