#pragma once
// Row sources: every mosaic writer pulls its picture one row at a time, top to
// bottom, so no writer ever needs the whole mosaic in memory. The band
// renderer is one source; FotoRowSource serves pictures that are already
// whole (individual tiles, mask and score images).

#include <cstdint>
#include <functional>

namespace tess {

class Foto;

class RowSource {
 public:
  virtual ~RowSource() = default;

  /// Pixels per row and rows in all.
  virtual int width() const = 0;
  virtual int height() const = 0;

  /// The next row from the top: width() pixels in the Foto layout (red in
  /// byte 0, green 1, blue 2; byte 3 is never written to a file). The row
  /// stays valid until the next call. Null when the source has ended, a
  /// stop was requested or a row could not be produced; a writer that gets
  /// null before its last row fails.
  virtual const std::uint32_t* next_row() = 0;

  /// True when rows ended because a stop was requested: the writer then
  /// fails without a message, since stopping is the user's own choice.
  [[nodiscard]] virtual bool stop_requested() const = 0;
};

/// A stop test, polled before every row; empty for a source that never stops.
using StopTest = std::function<bool()>;

/// The rows of a whole Foto, top to bottom. The Foto must outlive the source
/// and stay unchanged while rows are pulled.
class FotoRowSource final : public RowSource {
 public:
  explicit FotoRowSource(const Foto& foto, StopTest stop = {});

  int width() const override { return m_width; }
  int height() const override { return m_height; }
  const std::uint32_t* next_row() override;
  [[nodiscard]] bool stop_requested() const override { return m_stopped; }

 private:
  const Foto& m_foto;
  StopTest m_stop;
  int m_width;
  int m_height;
  int m_next = 0;
  bool m_stopped = false;
};

}  // namespace tess
