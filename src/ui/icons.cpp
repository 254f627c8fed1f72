#include "ui/icons.hpp"

#include <cmath>

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace tess {
namespace {

// Colours of the pictures: calm tones that read on light and dark themes.
const QColor kInk(60, 64, 72);
const QColor kBlue(41, 121, 204);
const QColor kGreen(46, 160, 67);
const QColor kRed(207, 52, 52);
const QColor kAmber(230, 160, 30);
const QColor kPaper(250, 250, 246);

// Every picture is drawn on a 48 × 48 canvas and scaled by the painter.
constexpr double kCanvas = 48.0;

void badge_plus(QPainter& p, QPointF centre, const QColor& colour) {
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawEllipse(centre, 10, 10);
  p.setPen(QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(centre + QPointF(-5, 0), centre + QPointF(5, 0));
  p.drawLine(centre + QPointF(0, -5), centre + QPointF(0, 5));
}

void badge_minus(QPainter& p, QPointF centre, const QColor& colour) {
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawEllipse(centre, 10, 10);
  p.setPen(QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(centre + QPointF(-5, 0), centre + QPointF(5, 0));
}

void badge_cross(QPainter& p, QPointF centre, const QColor& colour) {
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawEllipse(centre, 10, 10);
  p.setPen(QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(centre + QPointF(-4.5, -4.5), centre + QPointF(4.5, 4.5));
  p.drawLine(centre + QPointF(-4.5, 4.5), centre + QPointF(4.5, -4.5));
}

// A small landscape photograph: sky, sun and a hill.
void photo(QPainter& p, const QRectF& r) {
  p.setPen(QPen(kInk, 2));
  p.setBrush(QColor(170, 210, 240));
  p.drawRoundedRect(r, 3, 3);
  p.setPen(Qt::NoPen);
  p.setBrush(kAmber);
  p.drawEllipse(QPointF(r.left() + r.width() * 0.72, r.top() + r.height() * 0.3), r.height() * 0.13,
                r.height() * 0.13);
  QPainterPath hill;
  hill.moveTo(r.left() + 1, r.bottom() - 1);
  hill.lineTo(r.left() + r.width() * 0.38, r.top() + r.height() * 0.45);
  hill.lineTo(r.left() + r.width() * 0.62, r.top() + r.height() * 0.7);
  hill.lineTo(r.left() + r.width() * 0.78, r.top() + r.height() * 0.55);
  hill.lineTo(r.right() - 1, r.bottom() - 1);
  hill.closeSubpath();
  p.setBrush(kGreen);
  p.drawPath(hill);
}

// A sheet of settings: a page with slider lines.
void sheet(QPainter& p) {
  p.setPen(QPen(kInk, 2));
  p.setBrush(kPaper);
  p.drawRoundedRect(QRectF(7, 4, 28, 36), 3, 3);
  p.setPen(QPen(kBlue, 2.5, Qt::SolidLine, Qt::RoundCap));
  for (int i = 0; i < 3; ++i) {
    const double y = 13 + i * 9;
    p.drawLine(QPointF(12, y), QPointF(30, y));
  }
  p.setBrush(kBlue);
  p.setPen(Qt::NoPen);
  p.drawEllipse(QPointF(17, 13), 3, 3);
  p.drawEllipse(QPointF(26, 22), 3, 3);
  p.drawEllipse(QPointF(20, 31), 3, 3);
}

// A grid of coloured tiles: the mosaic itself.
void tiles(QPainter& p, const QRectF& r, int columns, int rows) {
  static const QColor kTileColours[] = {QColor(41, 121, 204), QColor(230, 160, 30), QColor(46, 160, 67),
                                        QColor(207, 52, 52),  QColor(126, 87, 194), QColor(0, 150, 160)};
  const double w = r.width() / columns;
  const double h = r.height() / rows;
  p.setPen(QPen(kPaper, 1.5));
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < columns; ++x) {
      p.setBrush(kTileColours[(x * 2 + y * 3) % 6]);
      p.drawRect(QRectF(r.left() + x * w, r.top() + y * h, w, h));
    }
}

void gear(QPainter& p, QPointF centre, double radius) {
  QPainterPath path;
  constexpr int kTeeth = 8;
  for (int i = 0; i < kTeeth * 2; ++i) {
    const double angle = i * 3.14159265358979 / kTeeth;
    const double r = (i % 2 == 0) ? radius : radius * 0.78;
    const double a0 = angle - 0.18, a1 = angle + 0.18;
    const QPointF p0 = centre + QPointF(r * std::cos(a0), r * std::sin(a0));
    const QPointF p1 = centre + QPointF(r * std::cos(a1), r * std::sin(a1));
    if (i == 0)
      path.moveTo(p0);
    else
      path.lineTo(p0);
    path.lineTo(p1);
  }
  path.closeSubpath();
  path.addEllipse(centre, radius * 0.35, radius * 0.35);
  path.setFillRule(Qt::OddEvenFill);
  p.setPen(QPen(kInk, 1.5));
  p.setBrush(QColor(120, 130, 145));
  p.drawPath(path);
}

void circle_letter(QPainter& p, const QColor& colour, const QString& letter) {
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawEllipse(QPointF(24, 24), 20, 20);
  QFont font = p.font();
  font.setBold(true);
  font.setPixelSize(28);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRectF(4, 4, 40, 40), Qt::AlignCenter, letter);
}

void draw(QPainter& p, ButtonPicture picture) {
  switch (picture) {
    case ButtonPicture::settings_load:
      sheet(p);
      // An arrow into the sheet.
      p.setPen(QPen(kGreen, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.drawLine(QPointF(38, 22), QPointF(38, 42));
      p.drawLine(QPointF(31, 35), QPointF(38, 42));
      p.drawLine(QPointF(45, 35), QPointF(38, 42));
      break;
    case ButtonPicture::settings_add:
      sheet(p);
      badge_plus(p, QPointF(36, 36), kGreen);
      break;
    case ButtonPicture::settings_remove:
      sheet(p);
      badge_cross(p, QPointF(36, 36), kRed);
      break;
    case ButtonPicture::image_add:
      photo(p, QRectF(3, 6, 36, 28));
      badge_plus(p, QPointF(36, 36), kGreen);
      break;
    case ButtonPicture::image_remove:
      photo(p, QRectF(3, 6, 36, 28));
      badge_minus(p, QPointF(36, 36), kRed);
      break;
    case ButtonPicture::image_remove_all:
      photo(p, QRectF(9, 2, 34, 24));
      photo(p, QRectF(3, 9, 34, 24));
      badge_cross(p, QPointF(36, 36), kRed);
      break;
    case ButtonPicture::tile_images:
      photo(p, QRectF(14, 3, 31, 23));
      photo(p, QRectF(8, 12, 31, 23));
      photo(p, QRectF(2, 21, 31, 23));
      break;
    case ButtonPicture::options:
      gear(p, QPointF(24, 24), 19);
      break;
    case ButtonPicture::create_mosaic:
      tiles(p, QRectF(3, 3, 42, 42), 4, 4);
      break;
    case ButtonPicture::create_mosaic_stop:
      tiles(p, QRectF(3, 3, 42, 42), 4, 4);
      p.setPen(QPen(Qt::white, 2));
      p.setBrush(kRed);
      p.drawRoundedRect(QRectF(12, 12, 24, 24), 3, 3);
      p.setBrush(Qt::white);
      p.setPen(Qt::NoPen);
      p.drawRect(QRectF(18, 18, 12, 12));
      break;
    case ButtonPicture::help:
      circle_letter(p, kBlue, QStringLiteral("?"));
      break;
    case ButtonPicture::language: {
      // A globe: circle, equator, meridians.
      p.setPen(QPen(kBlue, 2.5));
      p.setBrush(QColor(225, 238, 250));
      p.drawEllipse(QPointF(24, 24), 19, 19);
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(QPointF(24, 24), 8, 19);
      p.drawLine(QPointF(5, 24), QPointF(43, 24));
      p.drawLine(QPointF(24, 5), QPointF(24, 43));
      p.drawLine(QPointF(9, 14), QPointF(39, 14));
      p.drawLine(QPointF(9, 34), QPointF(39, 34));
      break;
    }
    case ButtonPicture::about:
      circle_letter(p, kInk, QStringLiteral("i"));
      break;
  }
}

QPixmap render(ButtonPicture picture, int side) {
  QPixmap pixmap(side, side);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.scale(side / kCanvas, side / kCanvas);
  draw(painter, picture);
  return pixmap;
}

// The icon theme's name for the pictures whose meaning the freedesktop
// naming specification has a name for; the others are our own.
const char* theme_name(ButtonPicture picture) {
  switch (picture) {
    case ButtonPicture::help:
      return "help-contents";
    case ButtonPicture::about:
      return "help-about";
    case ButtonPicture::create_mosaic_stop:
      return "process-stop";
    default:
      return nullptr;
  }
}

}  // namespace

QIcon drawn_icon(ButtonPicture picture) {
  QIcon icon;
  for (int side : {16, 24, 32, 48}) icon.addPixmap(render(picture, side));
  return icon;
}

QIcon button_icon(ButtonPicture picture) {
  const char* name = theme_name(picture);
  return name != nullptr ? QIcon::fromTheme(QString::fromLatin1(name), drawn_icon(picture)) : drawn_icon(picture);
}

QIcon application_icon() {
  QIcon icon = drawn_icon(ButtonPicture::create_mosaic);
  for (int side : {64, 128, 256}) icon.addPixmap(render(ButtonPicture::create_mosaic, side));
  return QIcon::fromTheme(QStringLiteral("org.tessellarium.Tessellarium"), icon);
}

}  // namespace tess
