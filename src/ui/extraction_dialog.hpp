#pragma once
// "Extract Frames from Video/Movie": the part of the frame and the frames to
// take from a video, shown on a sample frame with the crop area drawn as a
// white rectangle, and checked before the extraction may start.

#include <cstdint>

#include <QDialog>
#include <QImage>

#include "video/avi_extract.hpp"
#include "video/avi_stream.hpp"

class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace tess {

class Prompt;

class ExtractionDialog final : public QDialog {
  Q_OBJECT

 public:
  /// `stream` is the open video; it is read for sample frames while the
  /// window is open and must outlive it. Refusals go to `prompt`.
  ExtractionDialog(CAviStream& stream, Prompt& prompt, QWidget* parent = nullptr);

  /// The choices as they stand in the fields.
  ExtractParameters parameters() const;
  void set_parameters(const ExtractParameters& parameters);

  /// The frame shown (from 0) and its picture with the crop rectangle.
  std::int64_t sample_frame() const { return m_sample; }
  const QImage& sample_picture() const { return m_picture; }
  /// Shows frame `index` of the video (held to the frames there are).
  void show_frame(std::int64_t index);
  /// Redraws the sample with the crop rectangle of the fields.
  void show_rectangle();
  /// "Auto": the video's default frame range and count for the format.
  void fill_auto();
  /// "Max": every frame, each one taken.
  void fill_max();

  /// "Extract": checks Left + Width, Top + Height and the frame range and
  /// closes only when they are accepted.
  void accept() override;

 private:
  ExtractMode mode() const;
  void update_enabled();

  CAviStream& m_stream;
  Prompt& m_prompt;
  std::int64_t m_sample = 0;
  QImage m_frame;    // the sample as decoded
  QImage m_picture;  // the sample with the rectangle, as shown

  QLabel* m_view = nullptr;
  QSpinBox* m_left = nullptr;
  QSpinBox* m_top = nullptr;
  QSpinBox* m_width = nullptr;
  QSpinBox* m_height = nullptr;
  QSpinBox* m_first = nullptr;
  QSpinBox* m_last = nullptr;
  QSpinBox* m_count = nullptr;
  QComboBox* m_format = nullptr;
  QSpinBox* m_quality = nullptr;
  QLineEdit* m_prefix = nullptr;
};

}  // namespace tess
