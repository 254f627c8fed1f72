#include "images/foto.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <unistd.h>

#include "base/text.hpp"

namespace tess {

std::uint64_t pixel_memory_limit() {
  static const std::uint64_t limit = [] {
    long pages = ::sysconf(_SC_PHYS_PAGES);
    long page_size = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page_size <= 0) return std::uint64_t{1} << 32;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
  }();
  return limit;
}

namespace {

// Room for the report of an allocation that failed: its text, the prompt's
// copy of it and the terminal's or window's own needs.
constexpr std::size_t kMemoryReserveBytes = 256 * 1024;
std::atomic<void*> g_memory_reserve{std::malloc(kMemoryReserveBytes)};

}  // namespace

void renew_memory_reserve() {
  if (g_memory_reserve.load() != nullptr) return;
  void* reserve = std::malloc(kMemoryReserveBytes);
  void* none = nullptr;
  if (reserve != nullptr && !g_memory_reserve.compare_exchange_strong(none, reserve)) std::free(reserve);
}

std::string out_of_memory_text(int width, int height) {
  std::free(g_memory_reserve.exchange(nullptr));
  return format(tr("Out Of Memory while allocating an Image made of %ldx%ld Pixels"), static_cast<long>(width),
                static_cast<long>(height));
}

Foto::~Foto() { clear(); }

Foto::Foto(Foto&& other) noexcept
    : m_width(std::exchange(other.m_width, 0)),
      m_height(std::exchange(other.m_height, 0)),
      m_pixels(std::exchange(other.m_pixels, nullptr)) {}

Foto& Foto::operator=(Foto&& other) noexcept {
  if (this != &other) {
    clear();
    m_width = std::exchange(other.m_width, 0);
    m_height = std::exchange(other.m_height, 0);
    m_pixels = std::exchange(other.m_pixels, nullptr);
  }
  return *this;
}

void Foto::clear() {
  std::free(m_pixels);
  m_pixels = nullptr;
  m_width = 0;
  m_height = 0;
}

bool Foto::try_allocate(int width, int height) {
  clear();
  if (width <= 0 || height <= 0) return false;
  std::uint64_t bytes = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 4u;
  // Sizes come from file headers: one that the machine cannot hold is refused
  // before the allocator (which overcommits) is ever asked.
  if (bytes > pixel_memory_limit()) return false;
  auto* p = static_cast<std::uint32_t*>(std::malloc(static_cast<std::size_t>(bytes)));
  if (p == nullptr) return false;
  m_pixels = p;
  m_width = width;
  m_height = height;
  return true;
}

Status out_of_memory(int width, int height, const char* marks) {
  return Status::failure(out_of_memory_text(width, height) + marks, Icon::error, ENOMEM);
}

Status Foto::allocate(int width, int height) {
  if (try_allocate(width, height)) return {};
  if (width > 0 && height > 0) return out_of_memory(width, height);
  return Status::refused();
}

Status Foto::allocate_fill_bytes(int width, int height, std::uint8_t byte) {
  Status status = allocate(width, height);
  if (status) std::memset(m_pixels, byte, pixel_count() * 4u);
  return status;
}

Status Foto::allocate_fill(int width, int height, std::uint32_t word) {
  Status status = allocate(width, height);
  if (status) fill(word);
  return status;
}

bool Foto::try_allocate_fill(int width, int height, std::uint32_t word) {
  if (!try_allocate(width, height)) return false;
  fill(word);
  return true;
}

void Foto::fill(std::uint32_t word) {
  if (m_pixels != nullptr) std::fill_n(m_pixels, pixel_count(), word);
}

Foto Foto::clone() const {
  Foto copy;
  if (!empty() && copy.try_allocate(m_width, m_height)) std::memcpy(copy.m_pixels, m_pixels, pixel_count() * 4u);
  return copy;
}

}  // namespace tess
