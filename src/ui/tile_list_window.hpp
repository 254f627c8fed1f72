#pragma once
// The Tile Images List window: the four folder sets and the All Images view
// of one list, the commands that build, analyse, open and save it, and the
// extraction of tiles from a video. The window is a view over a ListAnalysis:
// the commands are the list module's, the window only asks, shows and polls.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QAbstractListModel>
#include <QDialog>
#include <QStringList>

#include "settings/configuration.hpp"
#include "tilelist/list_analysis.hpp"
#include "tilelist/tile_image_list.hpp"
#include "ui/list_questions.hpp"
#include "ui/tile_list_support.hpp"

class QCheckBox;
class QComboBox;
class QLabel;
class QListView;
class QListWidget;
class QProgressBar;
class QStackedWidget;
class QTimer;

namespace tess {

class AviExtract;
class Prompt;

/// The All Images view: one row per entry in path order, each with its file
/// name, its path as tool tip and a thumbnail made from its signature when
/// the row is first shown. The rows are a copy of the paths taken by
/// refresh(), so a running analysis never changes them under the view.
class TileListEntriesModel final : public QAbstractListModel {
  Q_OBJECT

 public:
  TileListEntriesModel(ListAnalysis& analysis, QObject* parent = nullptr);

  /// Takes the entries' paths again (under the list lock).
  void refresh();
  /// Shows no rows (while an analysis rebuilds the entries).
  void empty();
  std::string path(int row) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;

  /// Thumbnails made so far and still held (at most 300).
  std::size_t thumbnails_held() const { return m_thumbnails.size(); }

 private:
  ListAnalysis& m_analysis;
  std::vector<std::string> m_paths;
  mutable ThumbnailRing m_thumbnails;
};

class TileListWindow final : public QDialog {
  Q_OBJECT

 public:
  /// The views of the folder type list, in its order.
  enum class View { include = 0, exclude = 1, required = 2, video = 3, all_images = 4 };

  /// Questions, messages and file dialogs go to `prompt`; `config` gives the
  /// advanced options (worker count, clip detection). All three must outlive
  /// the window.
  TileListWindow(Prompt& prompt, const ConfigFile& config, QWidget* parent = nullptr);
  ~TileListWindow() override;

  TileImageList& list() { return m_list; }
  ListAnalysis& analysis() { return *m_analysis; }

  /// Loads the main window's list when the window opens; false (nothing
  /// loaded) when the file cannot be read, which has been reported.
  bool load_list(const std::string& file);
  /// The list the main window should load: the one saved or opened last in
  /// this window; empty when none was.
  const std::string& chosen_list() const { return m_chosen_list; }

  View view() const { return m_view; }
  void show_view(View view);
  /// The items shown in a folder view, or the file names of All Images.
  QStringList shown_items() const;
  /// Selects the shown rows whose text is in `items`.
  void select_items(const QStringList& items);
  TileListEntriesModel& entries_model() { return *m_entries; }
  QListView& entries_view() { return *m_entries_view; }

  /// The status line as shown.
  QString status_line() const;
  /// Workers for analyses (from "Process Count" unless set).
  int thread_count() const { return m_threads; }
  void set_thread_count(int threads) { m_threads = std::max(threads, 1); }

  [[nodiscard]] bool analysing() const;
  bool extracting() const;

  // The window's commands, as its buttons run them.
  void new_list();
  void open_list();
  void save_list();
  void save_list_as();
  void reanalyse_list();
  void add_folder();
  void add_image();
  /// Files and folders dropped on the window.
  void add_paths(const QStringList& paths);
  void remove_selected();
  void extract_from_video();
  void set_black_and_white(bool on);

  /// Polls a running analysis or extraction (the 500 ms timer calls it).
  void poll();

  /// Closing asks to stop running work and to leave an unsaved list.
  void reject() override;

 signals:
  /// Every new text of the status line.
  void status_changed(const QString& text);
  /// A started analysis was completed, stopped or abandoned.
  void analysis_finished(int result);
  /// A started extraction has ended.
  void extraction_finished();

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  std::optional<FolderKind> shown_kind() const;
  LeaveQuestions questions(bool ask_save, bool ask_analyse);
  [[nodiscard]] bool may_leave();
  void start_analysis(bool save_as);
  void finish_analysis();
  void finish_extraction();
  void stop_extraction();
  void add_item(const std::string& path, bool is_folder);
  void show_list_status();
  void set_status_line(const std::string& text);
  void refresh_views();

  Prompt& m_prompt;
  const ConfigFile& m_config;
  TileImageList m_list;
  std::unique_ptr<ListAnalysis> m_analysis;
  std::unique_ptr<AviExtract> m_extract;
  int m_threads = 1;
  View m_view = View::include;
  std::string m_chosen_list;
  bool m_polling = false;  // a poll is showing a message: the next one waits
  bool m_analysis_started = false;
  bool m_extraction_started = false;

  TileListEntriesModel* m_entries = nullptr;
  QComboBox* m_view_choice = nullptr;
  QStackedWidget* m_pages = nullptr;
  QListWidget* m_folder_view = nullptr;
  QListView* m_entries_view = nullptr;
  QCheckBox* m_black_and_white = nullptr;
  QLabel* m_status = nullptr;
  QProgressBar* m_progress = nullptr;
  QTimer* m_timer = nullptr;
};

}  // namespace tess
