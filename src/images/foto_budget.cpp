// SPDX-License-Identifier: GPL-3.0-or-later
#include "images/foto_budget.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <limits>
#include <string>

#include "images/foto.hpp"

namespace tess {
namespace {

constexpr std::uint64_t kUnknown = std::numeric_limits<std::uint64_t>::max();

// A whole number of bytes from the start of `text`; kUnknown when there is none.
std::uint64_t leading_number(const std::string& text) {
  std::uint64_t value = 0;
  const char* begin = text.data();
  const char* end = begin + text.size();
  while (begin != end && *begin == ' ') ++begin;
  const auto [stop, error] = std::from_chars(begin, end, value);
  return error == std::errc() && stop != begin ? value : kUnknown;
}

std::uint64_t file_number(const char* path) {
  std::ifstream in(path);
  std::string line;
  return std::getline(in, line) ? leading_number(line) : kUnknown;
}

// The kernel's estimate of what can be had without swapping.
std::uint64_t system_available() {
  std::ifstream in("/proc/meminfo");
  std::string line;
  while (std::getline(in, line)) {
    if (!line.starts_with("MemAvailable:")) continue;
    const std::uint64_t kib = leading_number(line.substr(13));
    return kib == kUnknown ? kUnknown : kib * 1024;
  }
  const long pages = ::sysconf(_SC_AVPHYS_PAGES);
  const long page_size = ::sysconf(_SC_PAGE_SIZE);
  if (pages > 0 && page_size > 0) return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
  return kUnknown;
}

// What the control group (a container, a systemd slice) still lets us use.
std::uint64_t group_room() {
  const std::uint64_t most = file_number("/sys/fs/cgroup/memory.max");  // "max" reads as unknown
  if (most == kUnknown) return kUnknown;
  const std::uint64_t used = file_number("/sys/fs/cgroup/memory.current");
  return used == kUnknown || used >= most ? most : most - used;
}

std::uint64_t address_space_limit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kUnknown;
  return static_cast<std::uint64_t>(limit.rlim_cur);
}

}  // namespace

std::uint64_t automatic_decode_budget() {
  static const std::uint64_t budget = [] {
    std::uint64_t available = std::min({system_available(), group_room(), address_space_limit()});
    if (available == kUnknown) available = pixel_memory_limit();
    return std::max<std::uint64_t>(available / 4, 1);
  }();
  return budget;
}

DecodeBudget::DecodeBudget(std::uint64_t limit) : m_limit(limit != 0 ? limit : automatic_decode_budget()) {}

std::uint64_t DecodeBudget::limit() const {
  std::lock_guard lock(m_mutex);
  return m_limit;
}

std::uint64_t DecodeBudget::in_use() const {
  std::lock_guard lock(m_mutex);
  return m_in_use;
}

void DecodeBudget::set_limit(std::uint64_t limit) {
  {
    std::lock_guard lock(m_mutex);
    m_limit = limit != 0 ? limit : automatic_decode_budget();
  }
  m_freed.notify_all();
}

bool DecodeBudget::take(std::uint64_t bytes) {
  std::unique_lock lock(m_mutex);
  // Waiting ends when the share fits, or when it never can: only the limit
  // decides that, since every share held now is given back in the end.
  m_freed.wait(lock, [&] { return bytes > m_limit || bytes <= m_limit - std::min(m_in_use, m_limit); });
  if (bytes > m_limit) return false;
  m_in_use += bytes;
  return true;
}

void DecodeBudget::give_back(std::uint64_t bytes) {
  if (bytes == 0) return;
  {
    std::lock_guard lock(m_mutex);
    m_in_use -= std::min(bytes, m_in_use);
  }
  m_freed.notify_all();
}

DecodeBudget& decode_budget() {
  static DecodeBudget budget;
  return budget;
}

bool DecodeCharge::take(std::uint64_t bytes) {
  if (m_taken) return false;
  if (!m_budget.take(bytes)) return false;
  m_taken = true;
  m_bytes = bytes;
  return true;
}

}  // namespace tess
