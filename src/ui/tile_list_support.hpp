#pragma once
// Small pieces the list window and its two companion windows share: texts as
// Qt strings with keyboard mnemonics, Foto pixels as a QImage, and the
// thumbnails of the All Images view, made from signatures and kept in a ring.

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include <QImage>
#include <QSet>
#include <QString>

namespace tess {

class Foto;
struct TileSignature;

/// A translated UTF-8 text as a QString.
inline QString to_qstring(const std::string& text) { return QString::fromStdString(text); }

/// Hands out keyboard mnemonics within one window: each label gets "&"
/// before its first letter or digit that no earlier label took, so every
/// language gets working mnemonics without marking them in the catalogue.
/// Labels that already carry one ("&x") keep it; "&&" stays a plain "&".
class MnemonicSet {
 public:
  QString label(const std::string& text);

 private:
  QSet<QChar> m_used;
};

/// The picture of a Foto for display: transparency becomes alpha.
QImage foto_to_image(const Foto& foto);

/// The All Images view's thumbnail size.
inline constexpr int kThumbnailWidth = 24;
inline constexpr int kThumbnailHeight = 18;
/// Thumbnails held at once; the oldest slot is reused after that.
inline constexpr std::size_t kThumbnailRingSize = 300;

/// The 24 × 18 thumbnail of a list entry, made from its signature alone so no
/// picture file is read: the 12 × 9 fine samples resampled to 24 × 18, a
/// portrait signature's 9 × 12 resampled to 14 × 18 and centred on empty
/// pixels. False (with `out` empty) when the signature holds no samples.
[[nodiscard]] bool signature_thumbnail(const TileSignature& signature, Foto& out);

/// Thumbnails of view rows in at most `capacity` slots, reused as a ring:
/// once all are taken, each new thumbnail replaces the slot after the last
/// one written.
class ThumbnailRing {
 public:
  explicit ThumbnailRing(std::size_t capacity = kThumbnailRingSize) : m_capacity(capacity) {}

  /// The thumbnail held for `row`, or null.
  const QImage* find(int row) const;
  /// Keeps `image` for `row` and returns where it is held.
  const QImage& store(int row, QImage image);
  /// Forgets every thumbnail (the rows changed meaning).
  void clear();
  std::size_t size() const { return m_slots.size(); }

 private:
  struct Slot {
    int row;
    QImage image;
  };
  std::size_t m_capacity;
  std::vector<Slot> m_slots;
  std::unordered_map<int, std::size_t> m_slot_of_row;
  std::size_t m_next = 0;  // the slot written next once the ring is full
};

}  // namespace tess
