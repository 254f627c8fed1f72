// SPDX-License-Identifier: GPL-3.0-or-later
// The main-image panel of the main window: the list of main images, added
// with the + button or dropped from a file manager.

#include "ui/main_window.hpp"

#include <algorithm>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMimeData>
#include <QPainter>
#include <QToolButton>
#include <QUrl>
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
#include "images/picture_files.hpp"
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

namespace {

constexpr const char* kMainImageKind = "ImageArchive";

constexpr const char* kDropHint = N_("Drop pictures here or add them with the + button");

// The main images list, which says what to do while it is empty.
class HintList final : public QListWidget {
 protected:
  void paintEvent(QPaintEvent* event) override {
    QListWidget::paintEvent(event);
    if (count() > 0) return;
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.drawText(viewport()->rect().adjusted(12, 12, -12, -12), Qt::AlignCenter | Qt::TextWordWrap,
                     qt(tess::tr(kDropHint)));
  }
};

// The files of a drop this window takes: pictures as main images, and a
// Tile Images List.
struct DroppedFiles {
  std::vector<std::string> images;
  std::string tile_list;
};
DroppedFiles dropped_files(const QMimeData* data) {
  DroppedFiles files;
  if (data == nullptr || !data->hasUrls()) return files;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) continue;
    const std::string path = url.toLocalFile().toStdString();
    if (has_picture_extension(path))
      files.images.push_back(path);
    else if (lower_extension(path) == ".tzc")
      files.tile_list = path;
  }
  return files;
}

}  // namespace

QWidget* MainWindow::build_images_box() {
  auto* box = new QGroupBox(qt(tess::tr("Main Images")));
  m_images_list = new HintList;
  m_images_list->setObjectName(QStringLiteral("mainImages"));
  m_images_list->setAccessibleName(qt(tess::tr("Main Images")));
  m_images_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  set_help(m_images_list, tess::tr("The Main Images: one Mosaic is created for every image of the list."));
  m_images_list->setMinimumHeight(96);
  connect(m_images_list, &QListWidget::currentRowChanged, this, [this] { show_main_image_picture(); });

  auto* add = picture_button(ButtonPicture::image_add, tess::tr("Add Main Image"));
  add->setObjectName(QStringLiteral("imageAdd"));
  set_help(add, tess::tr("Please add an Image using the + button"));
  connect(add, &QToolButton::clicked, this, &MainWindow::choose_main_images);
  auto* remove = picture_button(ButtonPicture::image_remove, tess::tr("Remove Main Image"));
  remove->setObjectName(QStringLiteral("imageRemove"));
  set_help(remove, tess::tr("Remove the selected Main Images from the list."));
  connect(remove, &QToolButton::clicked, this, &MainWindow::remove_main_image);
  auto* clear = picture_button(ButtonPicture::image_remove_all, tess::tr("Remove All Main Images"));
  clear->setObjectName(QStringLiteral("imageRemoveAll"));
  set_help(clear, tess::tr("Remove all the Main Images from the list."));
  connect(clear, &QToolButton::clicked, this, &MainWindow::remove_all_main_images);

  auto* buttons = new QVBoxLayout;
  buttons->addWidget(add);
  buttons->addWidget(remove);
  buttons->addWidget(clear);
  buttons->addStretch(1);
  auto* row = new QHBoxLayout(box);
  row->addWidget(m_images_list, 1);
  row->addLayout(buttons);
  m_idle_only.insert(m_idle_only.end(), {static_cast<QWidget*>(add), remove, clear});
  return box;
}

// ---- images and list --------------------------------------------------------------------

void MainWindow::choose_main_images() {
  const std::vector<std::string> files =
      m_prompt.choose_files(picture_file_request(tess::tr("Select a JPG/PNG image"), kMainImageKind, true));
  if (!files.empty()) add_main_images(files);
}

void MainWindow::add_main_images(const std::vector<std::string>& files) {
  for (const std::string& file : files) {
    int w = 0, h = 0;
    if (!read_main_image_size(file, w, h)) {
      m_prompt.message(format(tess::tr("Unable to load the image '%s'"), file), Icon::error);
      continue;
    }
    if (std::find(m_images.begin(), m_images.end(), file) == m_images.end()) m_images.push_back(file);
  }
  refresh_main_images();
}

void MainWindow::remove_main_image() {
  std::vector<int> rows;
  for (QListWidgetItem* item : m_images_list->selectedItems()) rows.push_back(m_images_list->row(item));
  if (rows.empty() && m_images_list->currentRow() >= 0) rows.push_back(m_images_list->currentRow());
  std::sort(rows.rbegin(), rows.rend());
  for (int row : rows)
    if (row >= 0 && row < static_cast<int>(m_images.size())) m_images.erase(m_images.begin() + row);
  refresh_main_images();
}

void MainWindow::remove_all_main_images() {
  m_images.clear();
  refresh_main_images();
}

void MainWindow::refresh_main_images() {
  {
    const QSignalBlocker quiet(m_images_list);
    m_images_list->clear();
    for (const std::string& image : m_images) {
      auto* item = new QListWidgetItem(file_name_of(image), m_images_list);
      item->setToolTip(qt(image));
    }
    if (!m_images.empty()) m_images_list->setCurrentRow(0);
  }
  // A picture that cannot be read leaves no size; the summary then says so.
  if (m_images.empty() || !read_main_image_size(m_images.front(), m_image_width, m_image_height))
    m_image_width = m_image_height = 0;
  show_main_image_picture();
  refresh_summary();
}

void MainWindow::show_main_image_picture() {
  // While a run goes on the panel belongs to its preview.
  if (m_run_active) return;
  const int row = m_images_list->currentRow();
  if (m_images.empty()) {
    show_picture({}, qt(tess::tr("Main Image")));
    return;
  }
  const std::string& file = m_images[static_cast<std::size_t>(std::clamp(row, 0, static_cast<int>(m_images.size()) - 1))];
  Foto foto;
  QImage picture;
  // A screen-sized copy is plenty; JPEGs are decoded scaled down.
  if (foto.load(file, 1024, 1024)) picture = picture_image({foto.width(), foto.height(), foto.pixels()}).copy();
  show_picture(picture, qt(tess::tr("Main Image")));
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  const DroppedFiles files = dropped_files(event->mimeData());
  if (!m_run_active && (!files.images.empty() || !files.tile_list.empty())) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const DroppedFiles files = dropped_files(event->mimeData());
  if (m_run_active || (files.images.empty() && files.tile_list.empty())) return;
  event->acceptProposedAction();
  if (!files.tile_list.empty()) load_tile_list(files.tile_list);
  if (!files.images.empty()) add_main_images(files.images);
}

}  // namespace tess
