#pragma once
// The picture-view window: shows a picture the run left for the user (the
// fast preview, a queued message with a picture) with its text as caption.

#include <string>

#include <QDialog>
#include <QImage>

#include "base/prompt.hpp"

class QLabel;

namespace tess {

/// The pixels of `view` as an image (transparency becomes alpha). A null
/// image for an empty view or one whose pixel pointer is null.
QImage picture_image(const PictureView& view);

class PictureViewDialog : public QDialog {
  Q_OBJECT
 public:
  /// The picture scaled down (never up) to fit the screen, with `caption`
  /// as the window title.
  PictureViewDialog(QWidget* parent, const QImage& picture, const QString& caption);

  const QImage& picture() const { return m_picture; }

 private:
  QImage m_picture;
};

/// Shows the picture modally; returns when the window is closed.
void show_picture_dialog(QWidget* parent, const PictureView& view, const std::string& caption);

}  // namespace tess
