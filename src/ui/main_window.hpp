#pragma once
// The main window: the settings list, the main images, the Tile Images List,
// the mosaic's parameters with their summary, and the Mosaic button that
// starts a run, follows it twice a second and stops it on request.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QDialog>
#include <QImage>

#include "base/prompt.hpp"

#include "engine/mosaic_builder.hpp"
#include "engine/run_controller.hpp"
#include "engine/run_driver.hpp"
#include "engine/run_plan.hpp"
#include "images/foto.hpp"
#include "output/gap_report.hpp"
#include "settings/automatic_settings.hpp"
#include "settings/configuration.hpp"
#include "settings/geometry.hpp"
#include "settings/settings_file.hpp"
#include "settings/user_state.hpp"
#include "tilelist/tile_image_list.hpp"

class QComboBox;
class QDragEnterEvent;
class QDropEvent;
class QKeyEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTimer;
class QToolButton;

namespace tess {

struct FieldBinding;
struct KeptFolders;

/// The prompt the window's runs speak through: everything goes to the
/// window's own prompt, except pictures (the fast preview), which the window
/// shows in its picture panel instead of a window of their own.
class RunPrompt final : public Prompt {
 public:
  explicit RunPrompt(Prompt& target) : m_target(target) {}
  void set_picture_sink(std::function<void(const PictureView&, const std::string&)> sink) { m_sink = std::move(sink); }

  void message(const std::string& text, Icon icon) override { m_target.message(text, icon); }
  Answer ask(const std::string& text, Buttons buttons, Answer default_answer, Icon icon) override {
    return m_target.ask(text, buttons, default_answer, icon);
  }
  std::vector<std::string> choose_files(const FileRequest& request) override { return m_target.choose_files(request); }
  std::string choose_folder(const FolderRequest& request) override { return m_target.choose_folder(request); }
  void show_picture(const PictureView& view, const std::string& caption) override {
    if (m_sink)
      m_sink(view, caption);
    else
      m_target.show_picture(view, caption);
  }

 private:
  Prompt& m_target;
  std::function<void(const PictureView&, const std::string&)> m_sink;
};

/// What the command line hands to the main window.
struct MainWindowOptions {
  std::string main_image;   ///< -I: loaded at start
  std::string output_file;  ///< -O: the mosaic's file for that image
};

/// What the window asks of the desktop; tests replace these.
struct ShellActions {
  std::function<void()> beep;
  /// Opens a folder, page or document with the desktop's program for it;
  /// false when that failed.
  std::function<bool(const std::string& path)> open_path;
};

/// The desktop's own: QApplication::beep and QDesktopServices::openUrl.
ShellActions desktop_shell_actions();

/// The user guide for the interface language `locale`: the data folder's
/// guide/index-<locale>.html when there is one, else guide/index.html. An
/// empty `locale` ("(auto)") takes the language of the catalogue in use.
std::filesystem::path user_guide_file(const std::string& locale);

/// Opens the user guide for `locale` with `open` (the desktop's browser);
/// a guide that is missing or that no browser showed is reported by `prompt`.
void open_user_guide(const std::string& locale, const std::function<bool(const std::string&)>& open,
                     Prompt& prompt);

/// The example list opened when no Tile Images List is loaded.
std::filesystem::path example_list_file();

class MainWindow : public QDialog {
  Q_OBJECT
 public:
  /// Fills the settings list and loads "(Auto Save)" or "Default Settings",
  /// loads the main image of `options`, the example list when no list was
  /// loaded, and starts the 500 ms timer. `prompt` answers every message and
  /// question, the run's included.
  MainWindow(Prompt& prompt, ConfigFile config, MainWindowOptions options = {}, QWidget* parent = nullptr);
  /// Waits for a run still going (asking it to stop) and saves "(Auto Save)".
  ~MainWindow() override;

  void set_shell_actions(ShellActions actions) { m_shell = std::move(actions); }
  /// The scheduled update check, called once on the timer's sixth tick
  /// (manual = false) and by "Check Now" in More Options (manual = true).
  void set_update_check(std::function<void(bool manual)> check) { m_update_check = std::move(check); }

  // --- state, for the program and its tests ---------------------------------
  const MosaicParameters& parameters() const { return m_params; }
  const TileImageList& tile_list() const { return m_list; }
  const std::vector<std::string>& main_images() const { return m_images; }
  /// The summary lines, "Tile Type:", "List Type:" and the verdict, as shown.
  QStringList summary_texts() const;
  QString validation_text() const;
  QString progress_text() const;
  /// The colour differences of the last mosaic written (empty before one).
  QString colour_figures_text() const;
  int progress_value() const;  ///< 0..10,000
  /// What the progress bar writes on itself ("42%"); empty while idle.
  QString progress_bar_text() const;
  /// The picture panel: its title ("Main Image", "Mosaic Preview") and
  /// whether it holds a picture.
  QString picture_title() const;
  [[nodiscard]] bool picture_shown() const;
  /// The picture the panel shows, at its own size (null when none).
  const QImage& picture() const { return m_picture_image; }
  [[nodiscard]] bool run_active() const { return m_run_active; }
  bool save_black_and_white() const { return m_save_black_and_white; }
  const MosaicRun& last_run() const { return m_plan.run; }

  // --- actions ----------------------------------------------------------------
  /// Loads a Tile Images List (reported when it cannot be used).
  bool load_tile_list(const std::string& file);
  /// Adds main images (pictures this program cannot read are reported and skipped).
  void add_main_images(const std::vector<std::string>& files);
  void remove_all_main_images();
  /// Loads the settings list entry named `name` (as the list shows it).
  [[nodiscard]] bool select_settings(const std::string& name);
  /// The names the settings list shows.
  QStringList settings_names() const;
  /// Reads every parameter box; a refused entry is reported, gets the focus
  /// back and gives false.
  [[nodiscard]] bool commit_fields();
  /// The gap report of the loaded list and, when a main image is chosen, of
  /// the first one with the current parameters (through the run's own
  /// preparation, questions included). False when refused (reported).
  [[nodiscard]] bool make_gap_report(GapReport& report, Foto& image);

 public slots:
  /// The Mosaic button: checks and starts a run, or asks to stop one.
  void mosaic_clicked();
  /// One tick of the 500 ms timer.
  void tick();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;
  /// Main images (and a Tile Images List) dropped from a file manager.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void build_ui();
  void add_shortcuts();
  QWidget* build_settings_box();
  QWidget* build_images_box();
  QWidget* build_list_box();
  QWidget* build_parameters_box();
  // The boxes of the parameter form.
  QLineEdit* bound_line_edit(const FieldBinding& binding);
  QWidget* make_mosaic_size_box();
  QWidget* make_pattern_box();
  QWidget* make_adaptation_box();
  QWidget* make_duplication_box();
  QWidget* make_colour_change_box();
  QWidget* make_variants_button();
  QWidget* make_format_box();
  QWidget* build_summary_box();
  QWidget* build_picture_box();
  QWidget* build_run_bar();
  void set_help(QWidget* widget, const std::string& help);
  void apply_tool_tips();

  void fill_settings_list(const std::string& select_name, SettingsEntryCode select_code);
  void load_selected_settings();
  void save_settings();
  void delete_settings();

  void choose_main_images();
  void remove_main_image();
  void refresh_main_images();
  void show_main_image_picture();
  void show_written_mosaic();
  void show_colour_figures();
  void show_run_sketch();
  void show_picture(const QImage& picture, const QString& title);
  void refresh_picture_scale();
  void open_tile_list_window();
  void open_gap_report();
  void open_more_options();
  void open_help();
  void open_language();
  void open_about();

  void refresh_fields();
  void refresh_summary();
  [[nodiscard]] bool apply_field(QWidget* box, const std::function<bool(const QString&)>& apply);
  bool apply_mosaic_size(const QString& text);
  void refresh_variants_button();
  ListCounts list_counts() const;
  MosaicLayout current_layout() const;

  void start_run(RunPlan plan);
  void set_running_look(bool running);
  void save_auto_settings();

  Prompt& m_prompt;
  ConfigFile m_config;
  UserState m_state;
  SettingsFile m_settings;
  MainWindowOptions m_options;
  ShellActions m_shell;
  std::function<void(bool)> m_update_check;

  MosaicParameters m_params;
  TileImageList m_list;
  std::vector<std::string> m_images;
  int m_image_width = 0;  // of the first main image
  int m_image_height = 0;
  std::vector<SettingsEntry> m_entries;

  RunPrompt m_run_prompt;  // before the builder, which speaks through it
  MosaicBuilder m_builder;
  RunController m_controller;
  RunPlan m_plan;  // the run going or the last one
  bool m_run_active = false;
  bool m_close_after_run = false;
  bool m_save_black_and_white = false;
  // Folders of somebody else's the user let the next run keep aside: from
  // the check before the run to the run.
  std::shared_ptr<KeptFolders> m_kept_folders;
  bool m_auto_saved = false;
  bool m_in_tick = false;
  bool m_reporting = false;
  int m_ticks = 0;
  QTimer* m_timer = nullptr;

  // Widgets.
  QComboBox* m_settings_box = nullptr;
  QToolButton* m_settings_delete = nullptr;
  QListWidget* m_images_list = nullptr;
  QLabel* m_list_path = nullptr;
  QLabel* m_list_type = nullptr;
  QComboBox* m_mosaic_size = nullptr;
  QLineEdit* m_resolution = nullptr;
  QLineEdit* m_tile_size = nullptr;
  QComboBox* m_pattern = nullptr;
  QComboBox* m_adaptation = nullptr;
  QComboBox* m_duplication = nullptr;
  QLineEdit* m_spacing = nullptr;
  QComboBox* m_colour_change = nullptr;
  QLineEdit* m_half_tiles = nullptr;
  QLineEdit* m_quarter_tiles = nullptr;
  QToolButton* m_variants = nullptr;
  QComboBox* m_format = nullptr;
  QLabel* m_summary = nullptr;
  QLabel* m_tile_type = nullptr;
  QLabel* m_validation = nullptr;
  QPushButton* m_mosaic_button = nullptr;
  QProgressBar* m_progress = nullptr;
  QLabel* m_status = nullptr;
  QLabel* m_colour_figures = nullptr;
  QGroupBox* m_picture_box = nullptr;
  QLabel* m_picture = nullptr;
  QImage m_picture_image;  // unscaled; the panel shows it fitted
  std::uint64_t m_sketch_serial = 0;  // the run's last sketch seen
  int m_fast_preview_mosaic = -1;     // the mosaic whose fast preview arrived
  std::vector<QWidget*> m_idle_only;  // disabled while a run goes on
  // The free-text boxes and how each is read into the parameters.
  std::vector<std::pair<QWidget*, std::function<bool(const QString&)>>> m_text_fields;
};

}  // namespace tess
