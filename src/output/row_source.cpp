#include "output/row_source.hpp"

#include <utility>

#include "images/foto.hpp"

namespace tess {

FotoRowSource::FotoRowSource(const Foto& foto, StopTest stop)
    : m_foto(foto), m_stop(std::move(stop)), m_width(foto.width()), m_height(foto.height()) {}

const std::uint32_t* FotoRowSource::next_row() {
  if (m_stopped || (m_stop && m_stop())) {
    m_stopped = true;
    return nullptr;
  }
  if (m_foto.empty() || m_next >= m_height) return nullptr;
  return m_foto.row(m_next++);
}

}  // namespace tess
