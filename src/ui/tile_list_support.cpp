#include "ui/tile_list_support.hpp"

#include <algorithm>
#include <utility>

#include "base/prompt.hpp"
#include "images/foto.hpp"
#include "tilelist/tile_signature.hpp"

namespace tess {

QString MnemonicSet::label(const std::string& text) {
  QString label = to_qstring(text);
  // An explicit mnemonic is kept; "&&" is a literal ampersand.
  for (qsizetype i = 0; i + 1 < label.size(); ++i) {
    if (label[i] != u'&') continue;
    if (label[i + 1] == u'&') {
      ++i;
      continue;
    }
    m_used.insert(label[i + 1].toLower());
    return label;
  }
  for (qsizetype i = 0; i < label.size(); ++i) {
    if (label[i] == u'&') {
      ++i;  // skip the second '&' of "&&"
      continue;
    }
    const QChar key = label[i].toLower();
    if (!key.isLetterOrNumber() || m_used.contains(key)) continue;
    m_used.insert(key);
    label.insert(i, u'&');
    return label;
  }
  return label;
}

QImage foto_to_image(const Foto& foto) {
  if (foto.empty()) return {};
  QImage image(foto.width(), foto.height(), QImage::Format_ARGB32);
  for (int y = 0; y < foto.height(); ++y) {
    const std::uint32_t* source = foto.row(y);
    auto* target = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < foto.width(); ++x) {
      const std::uint32_t p = source[x];
      target[x] = qRgba(static_cast<int>(pixel_red(p)), static_cast<int>(pixel_green(p)),
                        static_cast<int>(pixel_blue(p)), 255 - static_cast<int>(pixel_transparency(p)));
    }
  }
  return image;
}

bool signature_thumbnail(const TileSignature& signature, Foto& out) {
  out.clear();
  Foto samples;
  if (!signature.thumbnail(samples)) return false;
  // A row whose thumbnail cannot be made shows none; the list goes on.
  if (!signature.portrait) return samples.resample(kThumbnailWidth, kThumbnailHeight, 0, 0, 0, 0, out).ok();
  // An upright picture keeps its shape inside the landscape slot of the view.
  constexpr int kPortraitWidth = (kThumbnailHeight * 3 + 2) / 4;  // 18 × 3/4, rounded: 14
  Foto upright;
  if (!samples.resample(kPortraitWidth, kThumbnailHeight, 0, 0, 0, 0, upright)) return false;
  return upright.pad(kThumbnailWidth, kThumbnailHeight, (kThumbnailWidth - kPortraitWidth) / 2, 0, out).ok();
}

const QImage* ThumbnailRing::find(int row) const {
  const auto slot = m_slot_of_row.find(row);
  return slot == m_slot_of_row.end() ? nullptr : &m_slots[slot->second].image;
}

const QImage& ThumbnailRing::store(int row, QImage image) {
  if (const auto held = m_slot_of_row.find(row); held != m_slot_of_row.end()) {
    m_slots[held->second].image = std::move(image);
    return m_slots[held->second].image;
  }
  std::size_t slot = m_slots.size();
  if (m_slots.size() < m_capacity) {
    m_slots.push_back(Slot{row, std::move(image)});
  } else {
    slot = m_next;
    m_slot_of_row.erase(m_slots[slot].row);
    m_slots[slot] = Slot{row, std::move(image)};
  }
  m_next = (slot + 1) % std::max<std::size_t>(m_capacity, 1);
  m_slot_of_row[row] = slot;
  return m_slots[slot].image;
}

void ThumbnailRing::clear() {
  m_slots.clear();
  m_slot_of_row.clear();
  m_next = 0;
}

}  // namespace tess
