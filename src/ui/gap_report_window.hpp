#pragma once
// The gap report window: the coverage chart and holes of the loaded Tile
// Images List and, with a main image, the heat map of its cells, the share
// no tile matches and the colours to add; the report can be saved as a page.

#include <QDialog>
#include <QString>

#include "images/foto.hpp"
#include "output/gap_report.hpp"

class QLabel;

namespace tess {

class Prompt;

class GapReportWindow final : public QDialog {
  Q_OBJECT

 public:
  /// `image` is the main image as analysed (empty without one).
  GapReportWindow(GapReport report, Foto image, Prompt& prompt, QWidget* parent = nullptr);

  /// The figures as shown (coverage, holes and, with an image, the share
  /// unmatched and the colours to add), as plain text.
  QString figures_text() const;
  /// Asks for a folder (proposing the one beside the list) and writes the
  /// page and its pictures there; false when cancelled or not written.
  bool save_report();

 private:
  GapReport m_report;
  Foto m_image;
  Prompt& m_prompt;
  QLabel* m_figures = nullptr;
};

}  // namespace tess
