#include "ui/about_dialog.hpp"

#include <QColor>
#include <QDate>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/text.hpp"
#include "base/version.hpp"
#include "settings/user_state.hpp"
#include "ui/windows.hpp"

namespace tess {
namespace {

constexpr const char* kProductName = "Tessellarium";

QString qtr(const char* message_id) { return QString::fromStdString(tess::tr(message_id)); }

// The program's emblem: a small mosaic of warm and cool tiles, drawn here
// rather than shipped as a picture.
QPixmap emblem(int size) {
  static const QColor kTiles[] = {QColor(0xd9, 0x6c, 0x3d), QColor(0xf2, 0xb1, 0x4c), QColor(0x3f, 0x7c, 0xac),
                                  QColor(0x6a, 0xa8, 0x5b), QColor(0x8e, 0x5a, 0x9e), QColor(0x2f, 0x4f, 0x6f)};
  static const int kLayout[] = {0, 1, 2, 3, 4, 3, 0, 5, 1, 2, 5, 0, 3, 0, 4, 1};
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const int cells = 4;
  const double gap = size / 32.0;
  const double cell = (size - gap * (cells + 1)) / cells;
  for (int y = 0; y < cells; ++y) {
    for (int x = 0; x < cells; ++x) {
      const QRectF rect(gap + x * (cell + gap), gap + y * (cell + gap), cell, cell);
      painter.setPen(Qt::NoPen);
      painter.setBrush(kTiles[kLayout[y * cells + x]]);
      painter.drawRoundedRect(rect, cell / 6, cell / 6);
    }
  }
  return pixmap;
}

// "DateFirstMosaic" is stored as YYYY-MM-DD; shown in the user's own way.
QString shown_date(const std::string& stored) {
  const QString text = QString::fromStdString(stored);
  const QDate date = QDate::fromString(text, Qt::ISODate);
  return date.isValid() ? QLocale().toString(date, QLocale::LongFormat) : text;
}

}  // namespace

AboutDialog::AboutDialog(QWidget* parent, const UserState& state) : QDialog(parent) {
  setWindowTitle(QString::fromStdString(format(tess::tr("About %s"), kProductName)));

  auto* picture = new QLabel(this);
  picture->setPixmap(emblem(96));
  picture->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

  auto* name = new QLabel(QString::fromUtf8(kProductName), this);
  QFont big = name->font();
  big.setPointSizeF(big.pointSizeF() * 1.8);
  big.setBold(true);
  name->setFont(big);
  auto* version = new QLabel(QString::fromStdString(format(tess::tr("Version %s"), kVersionText)), this);
  auto* purpose = new QLabel(qtr("Photographic mosaics made of your own pictures and video clips."), this);
  purpose->setWordWrap(true);

  const long count = state.get_int("MosaicCount");
  m_count = new QLabel(QString::fromStdString(format(
                           trn("You have created %ld Mosaic.", "You have created %ld Mosaics.",
                               static_cast<unsigned long>(count < 0 ? 0 : count)),
                           count < 0 ? 0L : count)),
                       this);
  const std::string first = state.get_text("DateFirstMosaic");
  m_first_date =
      new QLabel(QString::fromStdString(format(tess::tr("First Mosaic: %s"), shown_date(first).toStdString())), this);
  m_first_date->setVisible(count > 0 && !first.empty());

  auto* text = new QVBoxLayout;
  text->addWidget(name);
  text->addWidget(version);
  text->addSpacing(8);
  text->addWidget(purpose);
  text->addSpacing(8);
  text->addWidget(m_count);
  text->addWidget(m_first_date);
  text->addStretch(1);

  auto* body = new QHBoxLayout;
  body->addWidget(picture);
  body->addSpacing(16);
  body->addLayout(text, 1);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(body);
  layout->addWidget(buttons);
  setMinimumWidth(440);
}

void show_about_dialog(QWidget* parent, const UserState& state) {
  AboutDialog dialog(parent, state);
  dialog.exec();
}

}  // namespace tess
