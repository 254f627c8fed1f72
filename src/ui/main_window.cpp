#include "ui/main_window.hpp"

#include <chrono>
#include <thread>
#include <utility>

#include <QApplication>
#include <QDesktopServices>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
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

// ---- free helpers ---------------------------------------------------------------

QToolButton* main_window_parts::picture_button(ButtonPicture picture, const std::string& text) {
  auto* button = new QToolButton;
  button->setIcon(button_icon(picture));
  button->setIconSize(QSize(24, 24));
  button->setText(qt(text));
  button->setAccessibleName(qt(text));
  button->setToolButtonStyle(Qt::ToolButtonIconOnly);
  button->setAutoRaise(false);
  return button;
}


ShellActions desktop_shell_actions() {
  ShellActions actions;
  actions.beep = [] { QApplication::beep(); };
  actions.open_path = [](const std::string& path) {
    return !path.empty() && QDesktopServices::openUrl(QUrl::fromLocalFile(qt(path)));
  };
  return actions;
}

std::filesystem::path user_guide_file(const std::string& locale) {
  // A guide in the user's language when the data folder has one, else the
  // English one. "(auto)" speaks whatever catalogue LANGUAGE or the locale
  // chose, so the guide follows that catalogue; "de_AT" reads the "de" guide.
  const std::string language = locale.empty() ? catalogue_language() : locale;
  for (const std::string& code : {language, language.substr(0, language.find_first_of("_.@"))}) {
    if (code.empty()) continue;
    const std::filesystem::path translated = data_folder() / "guide" / ("index-" + code + ".html");
    std::error_code error;
    if (std::filesystem::is_regular_file(translated, error)) return translated;
  }
  return data_folder() / "guide" / "index.html";
}

void open_user_guide(const std::string& locale, const std::function<bool(const std::string&)>& open,
                     Prompt& prompt) {
  const std::filesystem::path guide = user_guide_file(locale);
  std::error_code error;
  if (!std::filesystem::is_regular_file(guide, error)) {
    prompt.message(format(tess::tr("The User Guide '%s' is missing. Please reinstall Tessellarium!"), guide.string()),
                   Icon::error);
  } else if (!open || !open(guide.string())) {
    prompt.message(format(tess::tr("No web browser could open the User Guide. It is the file '%s': please open it "
                                   "in a web browser."),
                          guide.string()),
                   Icon::error);
  }
}

std::filesystem::path example_list_file() { return data_folder() / "example" / "example.tzc"; }

// ---- construction ------------------------------------------------------------------

MainWindow::MainWindow(Prompt& prompt, ConfigFile config, MainWindowOptions options, QWidget* parent)
    : QDialog(parent),
      m_prompt(prompt),
      m_config(std::move(config)),
      m_state(m_config),
      m_options(std::move(options)),
      m_shell(desktop_shell_actions()),
      m_params(MosaicParameters::created(m_config.read())),
      m_run_prompt(prompt),
      m_builder(m_run_prompt),
      m_controller(m_builder, RunController::FinalActions{
                                  [this] {
                                    if (m_shell.beep) m_shell.beep();
                                  },
                                  [this](const std::string& folder) {
                                    if (m_shell.open_path) m_shell.open_path(folder);
                                  },
                                  [this](const std::string& page) {
                                    if (m_shell.open_path) m_shell.open_path(page);
                                  }}) {
  setObjectName(QStringLiteral("MainWindow"));
  setWindowTitle(QStringLiteral("Tessellarium"));
  setWindowFlags(Qt::Window | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  setSizeGripEnabled(true);
  setAcceptDrops(true);
  build_ui();
  add_shortcuts();
  // The fast preview of a run lands in the picture panel.
  m_run_prompt.set_picture_sink([this](const PictureView& view, const std::string& caption) {
    // Asked for, it is the better picture: the sketch leaves it standing.
    m_fast_preview_mosaic = m_builder.sketch().mosaic;
    show_picture(picture_image(view), qt(caption));
  });
  // Enter confirms the box being edited; it never starts a run or opens a window.
  for (QPushButton* button : findChildren<QPushButton*>()) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }

  // Opening: the settings, the main image of the command line, a list.
  const IniFile settings = m_settings.read();
  fill_settings_list({}, startup_settings_code(settings));
  load_selected_settings();
  if (!m_options.main_image.empty()) add_main_images({m_options.main_image});
  if (m_list.path().empty()) {
    std::error_code error;
    if (std::filesystem::is_regular_file(example_list_file(), error)) load_tile_list(example_list_file().string());
  }
  refresh_fields();
  refresh_summary();
  show_main_image_picture();
  apply_tool_tips();

  m_timer = new QTimer(this);
  m_timer->setInterval(RunController::kPollIntervalMs);
  connect(m_timer, &QTimer::timeout, this, &MainWindow::tick);
  m_timer->start();
  // Never larger than the screen the window opens on.
  QSize size(1180, 720);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    size = size.boundedTo(screen->availableGeometry().size() - QSize(16, 48));
  resize(size);
}

MainWindow::~MainWindow() {
  m_timer->stop();
  // The worker may be waiting for an answer on this thread: keep serving
  // events until it has seen the stop request and ended.
  if (m_controller.running()) {
    m_builder.request_stop();
    while (m_controller.running()) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  m_controller.wait();
  save_auto_settings();
}

void MainWindow::add_shortcuts() {
  // The keys a Linux user reaches for first; they work wherever the focus is
  // in the window.
  const auto shortcut = [this](const QKeySequence& keys, void (MainWindow::*slot)()) {
    connect(new QShortcut(keys, this), &QShortcut::activated, this, slot);
  };
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_O), &MainWindow::choose_main_images);
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_Return), &MainWindow::mosaic_clicked);
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_Enter), &MainWindow::mosaic_clicked);
  shortcut(QKeySequence(Qt::Key_F1), &MainWindow::open_help);
  connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this), &QShortcut::activated, this, &QWidget::close);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  // The main window is a dialog, whose Esc would close it and end the
  // program: Esc closes dialogs, never the program.
  if (event->matches(QKeySequence::Cancel)) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void MainWindow::build_ui() {
  auto* left = new QVBoxLayout;
  left->addWidget(build_settings_box());
  left->addWidget(build_images_box(), 1);
  left->addWidget(build_list_box());

  auto* right = new QVBoxLayout;
  right->addWidget(build_summary_box());
  right->addWidget(build_picture_box(), 1);

  auto* columns = new QHBoxLayout;
  columns->addLayout(left, 4);
  columns->addWidget(build_parameters_box(), 4);
  columns->addLayout(right, 4);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(columns, 1);
  layout->addWidget(build_run_bar());
}

QWidget* MainWindow::build_list_box() {
  auto* box = new QGroupBox(qt(tess::tr("Tile Images List")));
  auto* button = new QPushButton(button_icon(ButtonPicture::tile_images), qt(tess::tr("&Tile Images List...")));
  button->setObjectName(QStringLiteral("tileListButton"));
  button->setIconSize(QSize(32, 32));
  set_help(button, tess::tr("Please load or create a Tile Images List. This List will be used to build the Mosaic."));
  connect(button, &QPushButton::clicked, this, &MainWindow::open_tile_list_window);
  m_list_path = new QLabel;
  m_list_path->setObjectName(QStringLiteral("tileListPath"));
  m_list_path->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_list_path->setWordWrap(true);
  m_list_type = new QLabel;
  m_list_type->setObjectName(QStringLiteral("listType"));
  auto* gaps = new QPushButton(qt(tess::tr("&Gap Report...")));
  gaps->setObjectName(QStringLiteral("gapReportButton"));
  set_help(gaps, tess::tr("Show which colours the Tile Images List lacks and, with a Main Image, which parts of "
                          "it no tile matches."));
  connect(gaps, &QPushButton::clicked, this, &MainWindow::open_gap_report);
  auto* layout = new QVBoxLayout(box);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(button, 1);
  buttons->addWidget(gaps);
  layout->addLayout(buttons);
  layout->addWidget(m_list_path);
  layout->addWidget(m_list_type);
  m_idle_only.push_back(button);
  m_idle_only.push_back(gaps);
  return box;
}

void MainWindow::set_help(QWidget* widget, const std::string& help) {
  widget->setProperty("help", qt(help));
  if (widget->accessibleDescription().isEmpty()) widget->setAccessibleDescription(qt(help));
}

void MainWindow::apply_tool_tips() {
  const bool on = m_state.get_int("ShowToolTips", 1) != 0;
  for (QWidget* widget : findChildren<QWidget*>()) {
    const QVariant help = widget->property("help");
    if (help.isValid()) widget->setToolTip(on ? help.toString() : QString());
  }
}

bool MainWindow::load_tile_list(const std::string& file) {
  TileImageList list;
  if (!open_list_file(list, file).ok_or_show(m_prompt)) return false;
  list.group_variants(m_params.processing);
  m_list = std::move(list);
  refresh_summary();
  return true;
}

void MainWindow::open_tile_list_window() {
  std::string path = m_list.path();
  if (run_tile_list_window(this, path, m_config, m_state) && !path.empty()) load_tile_list(path);
  refresh_summary();
}

bool MainWindow::make_gap_report(GapReport& report, Foto& image) {
  if (!commit_fields()) return false;
  report = GapReport();
  image.clear();
  if (m_list.path().empty() || m_list.entry_count() == 0) {
    m_prompt.message(tess::tr("Please load or create a Tile Images List. This List will be used to build the Mosaic."),
                     Icon::warning);
    return false;
  }
  report.list_file = m_list.path();
  if (m_images.empty()) {
    report.coverage = analyse_list_coverage(list_colours(m_list));
    return true;
  }
  // The cells are those a run would cut: the run's own preparation gives them.
  RunRequest request;
  request.parameters = m_params;
  request.list_file = m_list.path();
  request.main_images = {m_images.front()};
  PlanResult planned = prepare_run(request, m_prompt);
  if (!planned.plan) return false;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  apply_decode_budget(planned.plan->parameters.advanced);
  ImageGapsResult measured =
      measure_image_gaps(*planned.plan, configured_thread_count(planned.plan->parameters.advanced, m_config), m_prompt);
  if (measured.ok) report.coverage = analyse_list_coverage(list_colours(planned.plan->list));
  QApplication::restoreOverrideCursor();
  if (!measured.ok) {
    m_prompt.message(format(tess::tr("The Gap Report cannot be made: %s"), measured.reason), Icon::error);
    return false;
  }
  report.main_image = m_images.front();
  report.image_gaps = std::move(measured.gaps);
  image = std::move(measured.image);
  return true;
}

void MainWindow::open_gap_report() {
  GapReport report;
  Foto image;
  if (!make_gap_report(report, image)) return;
  GapReportWindow window(std::move(report), std::move(image), m_prompt, this);
  window.exec();
}

ListCounts MainWindow::list_counts() const {
  ListCounts counts;
  counts.landscape_images = static_cast<std::size_t>(m_list.landscape_images());
  counts.portrait_images = static_cast<std::size_t>(m_list.portrait_images());
  counts.landscape_clips = static_cast<std::size_t>(m_list.landscape_clips());
  counts.portrait_clips = static_cast<std::size_t>(m_list.portrait_clips());
  counts.total = m_list.entry_count();
  return counts;
}

// ---- the other windows ----------------------------------------------------------------

void MainWindow::open_more_options() {
  if (!commit_fields()) return;
  PropertyActions actions;
  actions.check_now = [this] {
    if (m_update_check) m_update_check(true);
  };
  actions.show_advanced = [this](AdvancedOptions& options) {
    return run_advanced_settings(this, options, m_config, m_prompt);
  };
  if (run_more_options(this, m_params, m_state, m_prompt, std::move(actions))) {
    refresh_fields();
    refresh_summary();
    apply_tool_tips();
  }
}

void MainWindow::open_help() { open_user_guide(m_state.get_text("Locale"), m_shell.open_path, m_prompt); }

void MainWindow::open_language() { run_language_dialog(this, m_config, m_prompt); }

void MainWindow::open_about() { show_about_dialog(this, m_state); }

}  // namespace tess
