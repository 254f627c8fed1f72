// SPDX-License-Identifier: GPL-3.0-or-later
#include "tilelist/skipped_files.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <string_view>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/file_descriptor.hpp"
#include "base/file_sink.hpp"
#include "images/bounded_input.hpp"

namespace tess {
namespace {

constexpr const char* kHeader = "# Tessellarium: pictures left out of the list (path, size, time, reason)\n";
// A list of millions of bad files stays far below this; a file larger than
// that is not ours, and only its start is read.
constexpr std::uint64_t kMostBytesRead = std::uint64_t{1} << 30;
// A longer line is not one we wrote: it is passed over, not held.
constexpr std::size_t kLongestLine = 64 * 1024;

bool writable(std::string_view text) { return text.find_first_of("\t\r\n") == std::string_view::npos; }

template <typename Number>
bool parse_number(std::string_view text, Number& value) {
  if (text.empty() || text.size() > 20) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

/// One line as we write it, or false.
bool parse_line(std::string_view line, SkippedFile& file) {
  std::string_view fields[4];
  for (int i = 0; i < 3; ++i) {
    const auto tab = line.find('\t');
    if (tab == std::string_view::npos) return false;
    fields[i] = line.substr(0, tab);
    line.remove_prefix(tab + 1);
  }
  fields[3] = line;
  if (fields[0].empty() || fields[0].front() != '/' || fields[3].find('\t') != std::string_view::npos) return false;
  if (!parse_number(fields[1], file.stamp.size) || !parse_number(fields[2], file.stamp.modified_ns)) return false;
  file.path.assign(fields[0]);
  file.reason.assign(fields[3]);
  return true;
}

}  // namespace

bool read_file_stamp(const std::string& path, FileStamp& stamp) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  stamp.size = static_cast<std::uint64_t>(info.st_size);
  stamp.modified_ns = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
  return true;
}

void SkippedFiles::load(const std::string& file) {
  m_files.clear();
  const FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return;
  BoundedInput input{fd.get(), 0, kMostBytesRead};
  std::string line;
  bool overlong = false;
  char buffer[64 * 1024];
  const auto finish_line = [&] {
    SkippedFile skipped;
    if (!overlong && !line.starts_with('#') && parse_line(line, skipped)) {
      std::string path = skipped.path;
      m_files.insert_or_assign(std::move(path), std::move(skipped));
    }
    line.clear();
    overlong = false;
  };
  for (std::size_t got; (got = input.read(buffer, sizeof buffer)) > 0;) {
    for (std::string_view rest(buffer, got); !rest.empty();) {
      const auto end = rest.find('\n');
      const std::string_view piece = rest.substr(0, end);
      if (!overlong && line.size() + piece.size() <= kLongestLine)
        line.append(piece);
      else
        overlong = true;
      if (end == std::string_view::npos) break;
      finish_line();
      rest.remove_prefix(end + 1);
    }
  }
  // A last line without its line end was cut short: it is not trusted.
}

const std::string* SkippedFiles::unchanged(const std::string& path, const FileStamp& stamp) const {
  const auto it = m_files.find(path);
  return it != m_files.end() && it->second.stamp == stamp ? &it->second.reason : nullptr;
}

std::string skipped_files_text(const std::vector<SkippedFile>& files) {
  std::string text = kHeader;
  for (const SkippedFile& file : files) {
    if (file.path.empty() || file.path.front() != '/' || !writable(file.path)) continue;
    std::string reason = file.reason;
    for (char& c : reason)
      if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    text += file.path + '\t' + std::to_string(file.stamp.size) + '\t' + std::to_string(file.stamp.modified_ns) + '\t' +
            reason + '\n';
  }
  return text;
}

bool save_skipped_files(const std::string& file, const std::vector<SkippedFile>& files) {
  if (files.empty()) {
    // Nothing was left out: an older file would only name files now listed.
    if (::unlink(file.c_str()) == 0 || errno == ENOENT) return true;
    return false;
  }
  return write_file_atomically(file, skipped_files_text(files));
}

}  // namespace tess
