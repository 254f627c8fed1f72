#include "ui/tile_list_window.hpp"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "engine/run_threads.hpp"
#include "images/foto.hpp"
#include "images/picture_files.hpp"
#include "output/extraction_job.hpp"
#include "settings/advanced_options.hpp"
#include "ui/extraction_dialog.hpp"
#include "ui/qt_prompt.hpp"
#include "ui/windows.hpp"
#include "video/avi_extract.hpp"
#include "video/avi_stream.hpp"

namespace tess {
namespace {

// The texts of the folder type list, in the order of TileListWindow::View.
constexpr const char* kViewLabels[] = {
    N_("Include Images/Folders (Populate using Drag&Drop or Add Image/Folder button)"),
    N_("Exclude Images/Folders (Place here images that will never be used)"),
    N_("Required Images/Folders (Place here images to use ALWAYS)"),
    N_("Video Folders (Place here videos to use as tiles)"),
    N_("All Images (this list is populated after you Save the List)"),
};

// Remembered start folders of the window's dialogs.
constexpr const char* kIncludeFolderKind = "Include";
constexpr const char* kImageFileKind = "ImageList";
constexpr const char* kVideoFileKind = "ExtractMovie";

// The progress bar counts tenths of a percent.
constexpr int kProgressSteps = 1000;

std::string file_name_of(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The status line under the views, with the progress of an analysis beside it.
QHBoxLayout* make_status_row(QWidget* window, QLabel*& status, QProgressBar*& progress) {
  status = new QLabel(window);
  status->setObjectName(QStringLiteral("status"));
  status->setWordWrap(true);
  status->setTextInteractionFlags(Qt::TextSelectableByMouse);
  progress = new QProgressBar(window);
  progress->setRange(0, kProgressSteps);
  progress->setTextVisible(false);
  progress->setMaximumWidth(220);
  progress->hide();
  auto* row = new QHBoxLayout;
  row->addWidget(status, 1);
  row->addWidget(progress);
  return row;
}

}  // namespace

// --- the All Images view -------------------------------------------------

TileListEntriesModel::TileListEntriesModel(ListAnalysis& analysis, QObject* parent)
    : QAbstractListModel(parent), m_analysis(analysis) {}

void TileListEntriesModel::refresh() {
  beginResetModel();
  m_paths.clear();
  m_thumbnails.clear();
  {
    std::lock_guard lock(m_analysis.mutex());
    const TileImageList& list = m_analysis.list();
    m_paths.reserve(list.entry_count());
    for (const auto& [path, entry] : list.entries()) m_paths.emplace_back(path);
  }
  endResetModel();
}

void TileListEntriesModel::empty() {
  beginResetModel();
  m_paths.clear();
  m_thumbnails.clear();
  endResetModel();
}

std::string TileListEntriesModel::path(int row) const {
  return row >= 0 && static_cast<std::size_t>(row) < m_paths.size() ? m_paths[static_cast<std::size_t>(row)]
                                                                    : std::string();
}

int TileListEntriesModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_paths.size());
}

QVariant TileListEntriesModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const std::string& path = m_paths[static_cast<std::size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
      return to_qstring(file_name_of(path));
    case Qt::ToolTipRole:
      return to_qstring(path);
    case Qt::DecorationRole: {
      if (const QImage* held = m_thumbnails.find(index.row())) return *held;
      TileSignature signature;
      {
        std::lock_guard lock(m_analysis.mutex());
        const FotoInfo* entry = m_analysis.list().find(path);
        if (entry == nullptr) return {};
        signature = entry->signature;
      }
      Foto thumbnail;
      if (!signature_thumbnail(signature, thumbnail)) return {};
      return m_thumbnails.store(index.row(), foto_to_image(thumbnail));
    }
    default:
      return {};
  }
}

// --- the window ------------------------------------------------------------

namespace {

// The buttons of the window, made in the order their access keys are taken.
struct ListCommands {
  QPushButton* new_list;
  QPushButton* open;
  QPushButton* save;
  QPushButton* save_as;
  QPushButton* reanalyse;
  QPushButton* add_folder;
  QPushButton* add_image;
  QPushButton* remove;
  QPushButton* extract;
  QDialogButtonBox* close = nullptr;
};

ListCommands make_commands(QWidget* window, MnemonicSet& keys) {
  const auto button = [&](const char* text) { return new QPushButton(keys.label(tess::tr(text)), window); };
  ListCommands c{};
  c.new_list = button(N_("New List"));
  c.open = button(N_("Open List..."));
  c.save = button(N_("Save List"));
  c.save_as = button(N_("Save List As..."));
  c.reanalyse = button(N_("Analyze All Again"));
  c.save->setObjectName(QStringLiteral("save_list"));
  c.reanalyse->setObjectName(QStringLiteral("reanalyse_list"));
  c.add_folder = button(N_("Add Folder"));
  c.add_image = button(N_("Add Image"));
  c.remove = button(N_("Remove Selected"));
  c.extract = button(N_("Extract Tiles from Video..."));
  c.add_folder->setObjectName(QStringLiteral("add_folder"));
  c.remove->setObjectName(QStringLiteral("remove_selected"));
  return c;  // the Close button comes after the colour mode's box, whose key comes first
}

// What every control does, shown when the mouse rests on it.
void add_tool_tips(const ListCommands& c, QComboBox* view_choice, QCheckBox* black_and_white) {
  const auto tip = [](QWidget* widget, const char* text) { widget->setToolTip(to_qstring(tess::tr(text))); };
  tip(c.new_list, N_("Start an empty Tile Images List."));
  tip(c.open, N_("Open a saved Tile Images List (.tzc)."));
  tip(c.save, N_("Analyze the folders and save the Tile Images List."));
  tip(c.save_as, N_("Analyze the folders and save the Tile Images List under a new name."));
  tip(c.reanalyse, N_("Analyze every picture again, changed or not, and retry those that could not be used, then save "
                      "the Tile Images List: after an update of Tessellarium that reads more kinds of pictures or "
                      "their colour profiles."));
  tip(view_choice, N_("Which part of the list is shown: included, excluded or required images, video folders, or "
                      "every analyzed image."));
  tip(c.add_folder, N_("Add a folder to the part of the list shown. Folders can also be dropped here."));
  tip(c.add_image, N_("Add one or more pictures to the part of the list shown."));
  tip(c.remove, N_("Remove the selected folders or images from the part of the list shown."));
  tip(c.extract, N_("Save frames of a video as pictures or short clips to use as tiles."));
  tip(black_and_white, N_("Compare the images in black and white, for a Mosaic in black and white."));
}

}  // namespace

TileListWindow::TileListWindow(Prompt& prompt, const ConfigFile& config, QWidget* parent)
    : QDialog(parent), m_prompt(prompt), m_config(config) {
  m_analysis = std::make_unique<ListAnalysis>(m_list, m_prompt);
  AdvancedOptions options;
  options.initialise_all(true, m_config);
  m_threads = configured_thread_count(options, m_config);
  apply_decode_budget(options);

  setWindowTitle(to_qstring(tess::tr("Tile Images List")));
  setAcceptDrops(true);
  MnemonicSet keys;

  ListCommands c = make_commands(this, keys);

  // The folder type list and the view it chooses.
  m_view_choice = new QComboBox(this);
  m_view_choice->setObjectName(QStringLiteral("view"));
  for (const char* label : kViewLabels) m_view_choice->addItem(to_qstring(tess::tr(label)));
  m_view_choice->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);

  m_folder_view = new QListWidget(this);
  m_folder_view->setObjectName(QStringLiteral("folders"));
  m_folder_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_folder_view->setAlternatingRowColors(true);

  m_entries = new TileListEntriesModel(*m_analysis, this);
  m_entries_view = new QListView(this);
  m_entries_view->setObjectName(QStringLiteral("all_images"));
  m_entries_view->setModel(m_entries);
  m_entries_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_entries_view->setIconSize(QSize(kThumbnailWidth, kThumbnailHeight));
  // Rows of one height let the view ask only for the rows it shows.
  m_entries_view->setUniformItemSizes(true);
  m_entries_view->setAlternatingRowColors(true);

  m_pages = new QStackedWidget(this);
  m_pages->addWidget(m_folder_view);
  m_pages->addWidget(m_entries_view);

  // The item commands beside the view.
  m_black_and_white = new QCheckBox(keys.label(tess::tr("Black && White")), this);
  m_black_and_white->setObjectName(QStringLiteral("black_and_white"));
  c.close = new QDialogButtonBox(QDialogButtonBox::Close, this);
  c.close->button(QDialogButtonBox::Close)->setText(keys.label(tess::tr("Close")));
  auto* item_buttons = new QVBoxLayout;
  for (QPushButton* button : {c.add_folder, c.add_image, c.remove, c.extract}) item_buttons->addWidget(button);
  item_buttons->addSpacing(12);
  item_buttons->addWidget(m_black_and_white);
  item_buttons->addStretch(1);
  item_buttons->addWidget(c.close);
  add_tool_tips(c, m_view_choice, m_black_and_white);

  // Nothing is pressed by Enter: every command here asks or starts work.
  for (QPushButton* button : findChildren<QPushButton*>()) button->setAutoDefault(false);

  QHBoxLayout* status_row = make_status_row(this, m_status, m_progress);

  auto* middle = new QHBoxLayout;
  auto* view_column = new QVBoxLayout;
  view_column->addWidget(m_view_choice);
  view_column->addWidget(m_pages, 1);
  middle->addLayout(view_column, 1);
  middle->addLayout(item_buttons);

  auto* list_buttons = new QHBoxLayout;
  for (QPushButton* button : {c.new_list, c.open, c.save, c.save_as, c.reanalyse}) list_buttons->addWidget(button);
  list_buttons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(list_buttons);
  layout->addLayout(middle, 1);
  layout->addLayout(status_row);
  resize(900, 600);

  m_timer = new QTimer(this);
  m_timer->setInterval(static_cast<int>(kAnalysisPollInterval.count()));
  connect(m_timer, &QTimer::timeout, this, &TileListWindow::poll);

  connect(c.new_list, &QPushButton::clicked, this, &TileListWindow::new_list);
  connect(c.open, &QPushButton::clicked, this, &TileListWindow::open_list);
  connect(c.save, &QPushButton::clicked, this, &TileListWindow::save_list);
  connect(c.save_as, &QPushButton::clicked, this, &TileListWindow::save_list_as);
  connect(c.reanalyse, &QPushButton::clicked, this, &TileListWindow::reanalyse_list);
  connect(c.add_folder, &QPushButton::clicked, this, &TileListWindow::add_folder);
  connect(c.add_image, &QPushButton::clicked, this, &TileListWindow::add_image);
  connect(c.remove, &QPushButton::clicked, this, &TileListWindow::remove_selected);
  connect(c.extract, &QPushButton::clicked, this, &TileListWindow::extract_from_video);
  connect(m_black_and_white, &QCheckBox::clicked, this, &TileListWindow::set_black_and_white);
  connect(c.close, &QDialogButtonBox::rejected, this, &TileListWindow::reject);
  connect(m_view_choice, &QComboBox::activated, this,
          [this](int index) { show_view(static_cast<View>(index)); });

  // Status changes come from commands on this thread; a change from anywhere
  // else is carried over rather than touching the label there.
  m_analysis->set_status_observer([this](const std::string& text) {
    if (QThread::currentThread() == thread())
      set_status_line(text);
    else
      QMetaObject::invokeMethod(this, [this, text] { set_status_line(text); }, Qt::QueuedConnection);
  });

  setTabOrder(c.new_list, c.open);
  setTabOrder(c.open, c.save);
  setTabOrder(c.save, c.save_as);
  setTabOrder(c.save_as, m_view_choice);
  setTabOrder(m_view_choice, m_folder_view);
  setTabOrder(m_folder_view, m_entries_view);
  setTabOrder(m_entries_view, c.add_folder);

  refresh_views();
  m_analysis->set_status(list_status_text(m_list));
  show_list_status();
}

TileListWindow::~TileListWindow() {
  m_timer->stop();
  // Running work ends before the list it works on goes.
  m_extract.reset();
  m_analysis->stop();
  // The view and its model read the analysis: they go before it does.
  m_entries_view->setModel(nullptr);
  delete m_entries_view;
  delete m_entries;
}

bool TileListWindow::analysing() const { return m_analysis->active(); }

bool TileListWindow::extracting() const { return m_extract != nullptr && m_extract->running(); }

QString TileListWindow::status_line() const { return m_status->text(); }

void TileListWindow::set_status_line(const std::string& text) {
  const QString shown = to_qstring(text);
  if (m_status->text() == shown) return;
  m_status->setText(shown);
  emit status_changed(shown);
}

void TileListWindow::show_list_status() { set_status_line(m_analysis->status_text()); }

std::optional<FolderKind> TileListWindow::shown_kind() const {
  if (m_view == View::all_images) return std::nullopt;
  return static_cast<FolderKind>(static_cast<int>(m_view));
}

void TileListWindow::show_view(View view) {
  m_view = view;
  m_view_choice->setCurrentIndex(static_cast<int>(view));
  refresh_views();
}

void TileListWindow::refresh_views() {
  if (const std::optional<FolderKind> kind = shown_kind()) {
    m_folder_view->clear();
    std::lock_guard lock(m_analysis->mutex());
    for (const std::string& item : m_list.folders(*kind)) m_folder_view->addItem(to_qstring(item));
    m_pages->setCurrentWidget(m_folder_view);
  } else {
    // The entries change shape only outside an analysis.
    if (!analysing()) m_entries->refresh();
    m_pages->setCurrentWidget(m_entries_view);
  }
  const QSignalBlocker quiet(m_black_and_white);
  std::lock_guard lock(m_analysis->mutex());
  m_black_and_white->setChecked(m_list.black_and_white());
}

QStringList TileListWindow::shown_items() const {
  QStringList items;
  if (m_view == View::all_images) {
    for (int row = 0; row < m_entries->rowCount(); ++row)
      items.push_back(m_entries->data(m_entries->index(row), Qt::DisplayRole).toString());
  } else {
    for (int row = 0; row < m_folder_view->count(); ++row) items.push_back(m_folder_view->item(row)->text());
  }
  return items;
}

void TileListWindow::select_items(const QStringList& items) {
  if (m_view == View::all_images) {
    m_entries_view->clearSelection();
    for (int row = 0; row < m_entries->rowCount(); ++row) {
      const QModelIndex index = m_entries->index(row);
      if (items.contains(m_entries->data(index, Qt::DisplayRole).toString()))
        m_entries_view->selectionModel()->select(index, QItemSelectionModel::Select);
    }
  } else {
    for (int row = 0; row < m_folder_view->count(); ++row) {
      QListWidgetItem* item = m_folder_view->item(row);
      item->setSelected(items.contains(item->text()));
    }
  }
}

LeaveQuestions TileListWindow::questions(bool ask_save, bool ask_analyse) {
  LeaveQuestions leave;
  leave.ask_save = ask_save;
  leave.ask_analyse = ask_analyse;
  leave.video_extraction = VideoExtractionControl{[this] { return extracting(); }, [this] { stop_extraction(); }};
  return leave;
}

// --- list commands ---------------------------------------------------------

bool TileListWindow::load_list(const std::string& file) {
  const OpenListResult result = tess::open_list(*m_analysis, file, m_threads, LeaveQuestions{});
  if (result == OpenListResult::upgrading) {
    m_analysis_started = true;
    m_timer->start();
  }
  refresh_views();
  show_list_status();
  return result == OpenListResult::opened || result == OpenListResult::upgrading;
}

void TileListWindow::new_list() {
  if (tess::new_list(*m_analysis, questions(true, false))) {
    show_view(View::include);
    show_list_status();
  }
}

void TileListWindow::open_list() {
  const OpenListResult result = tess::open_list(*m_analysis, {}, m_threads, questions(true, true));
  switch (result) {
    case OpenListResult::opened:
      m_chosen_list = m_list.path();
      break;
    case OpenListResult::upgrading:
      m_analysis_started = true;
      m_entries->empty();
      m_progress->setValue(0);
      m_progress->show();
      m_timer->start();
      break;
    case OpenListResult::cancelled:
      return;
    default:
      break;
  }
  refresh_views();
  if (!analysing()) show_list_status();
}

void TileListWindow::save_list() { start_analysis(false); }

void TileListWindow::save_list_as() { start_analysis(true); }

void TileListWindow::reanalyse_list() {
  {
    std::lock_guard lock(m_analysis->mutex());
    m_list.request_reanalysis();
  }
  start_analysis(false);
  // Refused or cancelled: the next save is an ordinary one.
  if (!analysing()) {
    std::lock_guard lock(m_analysis->mutex());
    static_cast<void>(m_list.take_reanalysis_request());
  }
}

void TileListWindow::start_analysis(bool save_as) {
  if (m_analysis_started) {
    // One analysis at a time: the running one is stopped only on request.
    if (!leave_check(*m_analysis, LeaveQuestions{})) return;
    poll();
  }
  const ListSaveResult result = tess::start_analysis(*m_analysis, m_threads, save_as, questions(false, false));
  if (result != ListSaveResult::started) {
    show_list_status();
    return;
  }
  m_analysis_started = true;
  m_entries->empty();
  m_progress->setValue(0);
  m_progress->show();
  m_timer->start();
}

void TileListWindow::poll() {
  // A completion may show messages, during which the timer fires again.
  if (m_polling) return;
  m_polling = true;
  if (m_analysis_started) {
    const AnalysisProgress progress = m_analysis->progress();
    if (!m_analysis->active()) {
      // Stopped by a leave check: what was analysed is kept.
      m_analysis_started = false;
      refresh_views();
      show_list_status();
      emit analysis_finished(static_cast<int>(ListSaveResult::stopped));
    } else {
      set_status_line(progress_text(progress));
      m_progress->setValue(static_cast<int>(progress.percentage * kProgressSteps / 100.0));
      if (!progress.workers_alive) finish_analysis();
    }
  }
  if (m_extraction_started) {
    if (m_extract->running()) {
      set_status_line(m_extract->status());
      m_progress->setValue(static_cast<int>(m_extract->progress() * kProgressSteps));
    } else {
      finish_extraction();
    }
  }
  if (!m_analysis_started && !m_extraction_started) {
    m_timer->stop();
    m_progress->hide();
  }
  m_polling = false;
}

void TileListWindow::finish_analysis() {
  const ListSaveResult result = m_analysis->complete();
  m_analysis_started = false;
  // The list itself is saved even when the file of its unusable pictures is not.
  if (result == ListSaveResult::saved || result == ListSaveResult::error_file_failed) {
    m_chosen_list = m_list.path();
    show_view(View::all_images);
  } else {
    refresh_views();
  }
  show_list_status();
  emit analysis_finished(static_cast<int>(result));
}

// --- item commands ---------------------------------------------------------

void TileListWindow::add_item(const std::string& path, bool is_folder) {
  const std::optional<FolderKind> kind = shown_kind();
  if (!kind || path.empty()) return;
  {
    std::lock_guard lock(m_analysis->mutex());
    m_list.add_item(*kind, path, is_folder);
  }
}

void TileListWindow::add_folder() {
  if (m_view == View::all_images) show_view(View::include);
  FolderRequest request;
  request.caption = m_view == View::video ? tess::tr("Please select a Folder containing Videos:")
                                          : tess::tr("Please select a Folder containing JPG/PNG images:");
  request.kind = kIncludeFolderKind;
  const std::string folder = m_prompt.choose_folder(request);
  if (folder.empty()) return;
  add_item(folder, true);
  refresh_views();
  m_analysis->set_status(list_status_text(m_list));
  show_list_status();
}

void TileListWindow::add_image() {
  if (m_view == View::all_images) show_view(View::include);
  const std::vector<std::string> files =
      m_prompt.choose_files(picture_file_request(tess::tr("Select one or more JPG/PNG images"), kImageFileKind, true));
  if (files.empty()) return;
  for (const std::string& file : files) add_item(file, false);
  refresh_views();
  m_analysis->set_status(list_status_text(m_list));
  show_list_status();
}

void TileListWindow::add_paths(const QStringList& paths) {
  if (m_view == View::all_images) show_view(View::include);
  for (const QString& path : paths) {
    const std::string item = path.toStdString();
    std::error_code error;
    add_item(item, std::filesystem::is_directory(item, error));
  }
  refresh_views();
  m_analysis->set_status(list_status_text(m_list));
  show_list_status();
}

void TileListWindow::remove_selected() {
  std::vector<std::string> selected;
  if (m_view == View::all_images) {
    for (const QModelIndex& index : m_entries_view->selectionModel()->selectedIndexes())
      selected.push_back(m_entries->path(index.row()));
  } else {
    for (const QListWidgetItem* item : m_folder_view->selectedItems()) selected.push_back(item->text().toStdString());
  }
  if (selected.empty()) return;
  tess::remove_selected(*m_analysis, shown_kind(), selected);
  if (m_view != View::all_images) refresh_views();
  show_list_status();
}

void TileListWindow::set_black_and_white(bool on) {
  if (!switch_black_and_white(*m_analysis, on)) {
    // Declined (or an analysis runs): the box shows the list as it is.
    const QSignalBlocker quiet(m_black_and_white);
    std::lock_guard lock(m_analysis->mutex());
    m_black_and_white->setChecked(m_list.black_and_white());
    return;
  }
  refresh_views();
  show_list_status();
}

// --- video extraction ------------------------------------------------------

void TileListWindow::extract_from_video() {
  if (extracting()) {
    if (m_prompt.ask(tess::tr("There is a Video Extraction Process running. Do you want to stop it?"), Buttons::yes_no,
                     Answer::no, Icon::question) != Answer::yes)
      return;
    stop_extraction();
  }
  FileRequest request;
  request.caption = tess::tr("Select a Video/Movie File");
  request.kind = kVideoFileKind;
  request.filter = tess::tr("Video") + " (*.avi *.divx *.xvid *.mov *.mpg *.mpeg *.mp4 *.mkv *.wmv)";
  const std::vector<std::string> files = m_prompt.choose_files(request);
  if (files.empty() || files.front().empty()) return;
  const std::string video = files.front();

  set_status_line(tess::tr("Load Video..."));
  CAviStream stream;
  stream.show_messages(m_prompt);
  if (!stream.open(video)) {
    show_list_status();
    return;
  }
  set_status_line(tess::tr("Select Parameters..."));
  ExtractionDialog dialog(stream, m_prompt, this);
  if (dialog.exec() != QDialog::Accepted) {
    show_list_status();
    return;
  }

  AdvancedOptions options;
  options.initialise_all(true, m_config);
  AviExtract::Job job = extraction_job(video, dialog.parameters(), options, m_threads);
  // The extraction opens the video again on its own thread.
  stream.close();

  m_extract = std::make_unique<AviExtract>(m_prompt);
  if (!m_extract->start(std::move(job))) {
    show_list_status();
    return;
  }
  m_extraction_started = true;
  m_progress->setValue(0);
  m_progress->show();
  set_status_line(m_extract->status());
  m_timer->start();
}

void TileListWindow::finish_extraction() {
  m_extract->wait();
  m_extraction_started = false;
  // The last status ("Extracted 12 Images.", "Ready") stays until the next change.
  set_status_line(m_extract->status());
  emit extraction_finished();
}

void TileListWindow::stop_extraction() {
  if (!m_extract) return;
  m_extract->request_stop();
  set_status_line(m_extract->status());
  m_extract->wait();
  if (m_extraction_started) finish_extraction();
}

// --- drops and closing -----------------------------------------------------

void TileListWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TileListWindow::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths.push_back(url.toLocalFile());
  if (paths.isEmpty()) return;
  add_paths(paths);
  event->acceptProposedAction();
}

bool TileListWindow::may_leave() { return leave_check(*m_analysis, questions(true, false)); }

void TileListWindow::reject() {
  if (!may_leave()) return;
  m_timer->stop();
  m_analysis_started = false;
  QDialog::reject();
}

// --- entry from the main window ----------------------------------------------

bool run_tile_list_window(QWidget* parent, std::string& list_path, const ConfigFile& config,
                          const UserState& state) {
  QtPrompt prompt(parent, &state);
  TileListWindow window(prompt, config, parent);
  prompt.set_parent(&window);
  if (!list_path.empty()) window.load_list(list_path);
  window.exec();
  if (window.chosen_list().empty()) return false;
  list_path = window.chosen_list();
  return true;
}

}  // namespace tess
