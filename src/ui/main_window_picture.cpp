// SPDX-License-Identifier: GPL-3.0-or-later
// The picture panel of the main window: the main image, the mosaic growing
// during a run, the mosaic written and how close its colours came.

#include "ui/main_window.hpp"

#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

#include "base/paths.hpp"
#include "base/prompt.hpp"
#include "base/text.hpp"
#include "engine/colour_fidelity.hpp"
#include "engine/image_gaps.hpp"
#include "engine/pattern_generator.hpp"
#include "engine/run_controller.hpp"
#include "engine/run_threads.hpp"
#include "images/foto.hpp"
#include "output/gap_report.hpp"
#include "output/mosaic_saver.hpp"
#include "output/run_outputs.hpp"
#include "settings/keyword_table.hpp"
#include "settings/summary.hpp"
#include "settings/units.hpp"
#include "tilelist/list_file.hpp"
#include "ui/advanced_settings_window.hpp"
#include "ui/gap_report_window.hpp"
#include "ui/icons.hpp"
#include "ui/language_dialog.hpp"
#include "ui/picture_view.hpp"
#include "ui/property_editor.hpp"
#include "ui/settings_dialogs.hpp"
#include "ui/windows.hpp"
#include "ui/main_window_parts.hpp"

namespace tess {

using namespace main_window_parts;

QWidget* MainWindow::build_picture_box() {
  m_picture_box = new QGroupBox(qt(tess::tr("Main Image")));
  m_picture_box->setObjectName(QStringLiteral("pictureBox"));
  m_picture = new QLabel;
  m_picture->setObjectName(QStringLiteral("picture"));
  m_picture->setAlignment(Qt::AlignCenter);
  m_picture->setWordWrap(true);
  // The panel takes the room the window gives it; the picture is fitted in.
  m_picture->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  m_picture->setMinimumSize(120, 90);
  m_picture->installEventFilter(this);
  auto* layout = new QVBoxLayout(m_picture_box);
  layout->addWidget(m_picture, 1);
  return m_picture_box;
}

void MainWindow::show_written_mosaic() {
  // The worker has ended: its results are this thread's to read. The last
  // mosaic written as one picture the window can read replaces the preview.
  for (auto it = m_plan.run.results.rbegin(); it != m_plan.run.results.rend(); ++it) {
    const RunResult& result = it->second;
    if (!result.success || result.written_files.size() != 1) continue;
    Foto foto;
    if (!foto.load(result.written_files.front(), 1024, 1024)) continue;
    show_picture(picture_image({foto.width(), foto.height(), foto.pixels()}).copy(),
                 file_name_of(result.written_files.front()));
    return;
  }
}

void MainWindow::show_colour_figures() {
  // The last mosaic that was written and measured, like the picture shown.
  for (auto it = m_plan.run.results.rbegin(); it != m_plan.run.results.rend(); ++it) {
    const RunResult& result = it->second;
    if (!result.success || result.colour_fidelity.cells == 0) continue;
    m_colour_figures->setText(qt(colour_fidelity_text(result.colour_fidelity)));
    m_colour_figures->setVisible(true);
    return;
  }
}

void MainWindow::show_run_sketch() {
  // The worker draws the mosaic as far as it has got whenever it is asked,
  // so the copy is only taken here, once a poll, never for every tile.
  m_builder.request_sketch();
  const MosaicBuilder::Sketch sketch = m_builder.sketch();
  if (sketch.serial == m_sketch_serial) return;
  m_sketch_serial = sketch.serial;
  if (sketch.pixels.empty() || sketch.mosaic == m_fast_preview_mosaic) return;
  show_picture(picture_image({sketch.width, sketch.height, sketch.pixels.data()}), qt(tess::tr("Mosaic Preview")));
}

void MainWindow::show_picture(const QImage& picture, const QString& title) {
  m_picture_image = picture;
  m_picture_box->setTitle(title);
  if (picture.isNull()) {
    m_picture->setPixmap({});
    m_picture->setText(qt(tess::tr("The chosen Main Image is shown here.")));
  } else {
    m_picture->setText({});
  }
  refresh_picture_scale();
}

void MainWindow::refresh_picture_scale() {
  if (m_picture_image.isNull()) return;
  const QSize room = m_picture->contentsRect().size() * m_picture->devicePixelRatioF();
  // Fitted both ways: the run's sketch is small, and on a screen at 200 %
  // a picture left at its own size would fill a quarter of the panel.
  QPixmap pixmap = QPixmap::fromImage(m_picture_image.size() == room
                                          ? m_picture_image
                                          : m_picture_image.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  pixmap.setDevicePixelRatio(m_picture->devicePixelRatioF());
  m_picture->setPixmap(pixmap);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  // The panel's own size decides, whenever the layout gives it one: the
  // window's size changes before its layout has placed the panel (a picture
  // given with -I is loaded before the window is first shown).
  if (watched == m_picture && event->type() == QEvent::Resize) refresh_picture_scale();
  return QDialog::eventFilter(watched, event);
}

}  // namespace tess
