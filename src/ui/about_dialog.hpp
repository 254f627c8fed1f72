#pragma once
// "About Tessellarium": the program, its version, and how many mosaics this
// user has made since the first one.

#include <QDialog>

class QLabel;

namespace tess {

class UserState;

class AboutDialog final : public QDialog {
  Q_OBJECT

 public:
  /// Reads "MosaicCount" and "DateFirstMosaic" from `state`.
  AboutDialog(QWidget* parent, const UserState& state);

  /// The line with the number of mosaics, and the one with the date of the
  /// first mosaic (hidden before the first mosaic).
  QLabel* count_label() const { return m_count; }
  QLabel* first_date_label() const { return m_first_date; }

 private:
  QLabel* m_count = nullptr;
  QLabel* m_first_date = nullptr;
};

}  // namespace tess
