#include "ui/picture_view.hpp"

#include <algorithm>

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

#include "base/text.hpp"

namespace tess {

QImage picture_image(const PictureView& view) {
  if (view.width <= 0 || view.height <= 0 || view.pixels == nullptr) return {};
  QImage image(view.width, view.height, QImage::Format_ARGB32);
  if (image.isNull()) return {};  // too large to hold
  for (int y = 0; y < view.height; ++y) {
    const std::uint32_t* source = view.pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(view.width);
    auto* target = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < view.width; ++x) {
      const std::uint32_t word = source[x];
      const int alpha = 255 - static_cast<int>((word >> 24) & 0xFF);
      target[x] = qRgba(static_cast<int>(word & 0xFF), static_cast<int>((word >> 8) & 0xFF),
                        static_cast<int>((word >> 16) & 0xFF), alpha);
    }
  }
  return image;
}

PictureViewDialog::PictureViewDialog(QWidget* parent, const QImage& picture, const QString& caption)
    : QDialog(parent), m_picture(picture) {
  setObjectName(QStringLiteral("PictureViewDialog"));
  setWindowTitle(caption);

  // Fit the picture into most of the screen, keeping its shape; a small
  // picture keeps its own size.
  QSize room(1200, 800);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    room = screen->availableGeometry().size() * 0.85 - QSize(40, 80);
  QImage shown = picture;
  if (!picture.isNull() && (picture.width() > room.width() || picture.height() > room.height()))
    shown = picture.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation);

  auto* label = new QLabel;
  label->setObjectName(QStringLiteral("picture"));
  label->setAlignment(Qt::AlignCenter);
  label->setPixmap(QPixmap::fromImage(shown));
  label->setToolTip(caption);

  auto* scroll = new QScrollArea;
  scroll->setWidget(label);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setMinimumSize(std::min(shown.width() + 4, room.width()), std::min(shown.height() + 4, room.height()));

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
  buttons->button(QDialogButtonBox::Close)->setText(QString::fromStdString(tess::tr("Close")));
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(scroll, 1);
  layout->addWidget(buttons);
}

void show_picture_dialog(QWidget* parent, const PictureView& view, const std::string& caption) {
  PictureViewDialog dialog(parent, picture_image(view), QString::fromStdString(caption));
  dialog.exec();
}

}  // namespace tess
