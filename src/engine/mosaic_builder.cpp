#include "engine/mosaic_builder.hpp"

namespace tess {
namespace {

constexpr std::size_t kMaxStatusCharacters = 255;

// The first `limit` characters of a UTF-8 text, never cutting one in two.
std::string first_characters(const std::string& text, std::size_t limit) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (chars == limit) return text.substr(0, i);
      ++chars;
    }
  }
  return text;
}

}  // namespace

MosaicBuilder::MosaicBuilder(Prompt& prompt) : m_prompt(prompt) {}

MosaicBuilder::~MosaicBuilder() = default;

void MosaicBuilder::set_status(const std::string& text, int code) {
  std::string kept = first_characters(text, kMaxStatusCharacters);
  std::lock_guard lock(m_lock);
  m_status = std::move(kept);
  m_status_code = code;
  m_refresh.store(false, std::memory_order_relaxed);
}

std::string MosaicBuilder::status() const {
  std::lock_guard lock(m_lock);
  return m_status;
}

int MosaicBuilder::status_code() const {
  std::lock_guard lock(m_lock);
  return m_status_code;
}

void MosaicBuilder::begin_progress_stage(int stage, double total) {
  std::lock_guard lock(m_lock);
  m_progress.begin_stage(stage, total);
}

void MosaicBuilder::add_progress(double amount) {
  std::lock_guard lock(m_lock);
  m_progress.add_progress(amount);
}

void MosaicBuilder::close_progress_stage() {
  std::lock_guard lock(m_lock);
  m_progress.close_stage();
}

void MosaicBuilder::reset_progress() {
  std::lock_guard lock(m_lock);
  m_progress.reset();
}

ProgressModel MosaicBuilder::progress() const {
  std::lock_guard lock(m_lock);
  return m_progress;
}

}  // namespace tess
