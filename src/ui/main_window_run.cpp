// SPDX-License-Identifier: GPL-3.0-or-later
// Run control of the main window: the Mosaic button, the start of a run,
// the progress it shows and the end of the run.

#include "ui/main_window.hpp"

#include <algorithm>
#include <utility>

#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
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
#include "output/web_pyramid.hpp"
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

QWidget* MainWindow::build_run_bar() {
  auto* bar = new QWidget;
  m_progress = new QProgressBar;
  m_progress->setObjectName(QStringLiteral("progressBar"));
  m_progress->setRange(0, 10000);
  m_progress->setTextVisible(true);
  m_progress->setFormat(QStringLiteral("%p%"));
  m_progress->setValue(0);
  m_progress->setAccessibleName(qt(tess::tr("Progress")));
  m_progress->setMinimumWidth(120);
  m_status = new QLabel;
  m_status->setObjectName(QStringLiteral("progressText"));
  m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_status->setWordWrap(true);
  m_status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  // Under the status: how close the finished mosaic's cells came to the
  // main image, so the colour change's share of the likeness is in view.
  m_colour_figures = new QLabel;
  m_colour_figures->setObjectName(QStringLiteral("colourFigures"));
  m_colour_figures->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_colour_figures->setWordWrap(true);
  m_colour_figures->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  m_colour_figures->setVisible(false);

  auto* more = new QPushButton(button_icon(ButtonPicture::options), qt(tess::tr("More &Options...")));
  more->setObjectName(QStringLiteral("moreOptions"));
  set_help(more, tess::tr("More Options: processing, image comparison, output format and location, RezIroriz and "
                    "the advanced settings."));
  connect(more, &QPushButton::clicked, this, &MainWindow::open_more_options);
  auto* help = picture_button(ButtonPicture::help, tess::tr("Help"));
  help->setObjectName(QStringLiteral("helpButton"));
  set_help(help, tess::tr("Open the User Guide."));
  connect(help, &QToolButton::clicked, this, &MainWindow::open_help);
  auto* language = picture_button(ButtonPicture::language, tess::tr("Language"));
  language->setObjectName(QStringLiteral("languageButton"));
  set_help(language, tess::tr("Select your prefered language:"));
  connect(language, &QToolButton::clicked, this, &MainWindow::open_language);
  auto* about = picture_button(ButtonPicture::about, tess::tr("About"));
  about->setObjectName(QStringLiteral("aboutButton"));
  set_help(about, format(tess::tr("About %s"), "Tessellarium"));
  connect(about, &QToolButton::clicked, this, &MainWindow::open_about);

  m_mosaic_button = new QPushButton(button_icon(ButtonPicture::create_mosaic), qt(tess::tr("&Mosaic")));
  m_mosaic_button->setObjectName(QStringLiteral("mosaicButton"));
  m_mosaic_button->setIconSize(QSize(32, 32));
  m_mosaic_button->setCheckable(true);
  m_mosaic_button->setMinimumWidth(160);
  QFont font = m_mosaic_button->font();
  font.setBold(true);
  m_mosaic_button->setFont(font);
  set_help(m_mosaic_button, tess::tr("Build the Mosaic. While a Mosaic is being built, press again to stop it."));
  // The button's checked look mirrors the run; a click never toggles it itself.
  connect(m_mosaic_button, &QPushButton::clicked, this, [this] {
    m_mosaic_button->setChecked(m_run_active);
    mosaic_clicked();
  });

  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(more);
  row->addWidget(help);
  row->addWidget(language);
  row->addWidget(about);
  row->addWidget(m_progress, 2);
  auto* texts = new QVBoxLayout;
  texts->setContentsMargins(0, 0, 0, 0);
  texts->addWidget(m_status);
  texts->addWidget(m_colour_figures);
  row->addLayout(texts, 3);
  row->addWidget(m_mosaic_button);
  m_idle_only.push_back(more);
  return bar;
}

// ---- the run ---------------------------------------------------------------------------------

void MainWindow::mosaic_clicked() {
  if (m_controller.running()) {
    const bool was_stopping = m_builder.stop_requested();
    m_controller.request_stop();
    // A stop asked from the button keeps the window open.
    if (!was_stopping && m_builder.stop_requested()) m_close_after_run = false;
    return;
  }
  if (!commit_fields()) return;
  // The checks before a run are the run plan's, the same for the command line.
  m_save_black_and_white = false;
  RunRequest request;
  request.parameters = m_params;
  request.list_file = m_list.path();
  request.main_images = m_images;
  // Masks and the priority map are chosen with the other questions and
  // checked before the run, as the command line's are.
  request.ask_for_inputs = true;
  // No output may replace what the run reads: the same check as the command line's.
  RunOutputOptions outputs;
  if (m_images.size() == 1 && m_images.front() == m_options.main_image) outputs.output_file = m_options.output_file;
  // A folder of somebody else's where the mosaic's goes is asked about here,
  // and kept under another name by the run if the user says so.
  m_kept_folders = std::make_shared<KeptFolders>();
  outputs.kept_folders = m_kept_folders;
  request.check_outputs = make_output_check(outputs);
  request.before_start = warn_of_web_links;  // what the web page will link, said once
  PlanResult planned = prepare_run(request, m_prompt);
  if (!planned.plan) return;
  // A Yes to "no duplicates" shows in the boxes.
  m_params = planned.plan->parameters;
  refresh_fields();
  refresh_summary();
  m_save_black_and_white = planned.plan->save_black_and_white;
  start_run(std::move(*planned.plan));
}

void MainWindow::start_run(RunPlan plan) {
  RunOutputOptions options;
  if (m_params.split_mosaic) {
    const MosaicLayout& layout = plan.run.layout;
    SplitPieceSize split;
    if (!run_split_dialog(this, m_params, static_cast<int>(layout.final_width), static_cast<int>(layout.final_height),
                          static_cast<int>(layout.tile_width), static_cast<int>(layout.tile_height), split))
      return;
    options.split = split;
  }
  if (!m_settings.save_run_settings(m_params, m_list.path()))
    m_prompt.message(format(tess::tr("Unable to save file '%s'"), m_settings.path().string()), Icon::error);

  m_plan = std::move(plan);
  // Figures of an earlier mosaic would read as this one's.
  m_colour_figures->clear();
  m_colour_figures->setVisible(false);
  // -O names the file of the command line's image only.
  if (m_images.size() == 1 && m_images.front() == m_options.main_image) options.output_file = m_options.output_file;
  options.user_state = &m_state;
  options.kept_folders = std::exchange(m_kept_folders, nullptr);
  const bool started =
      start_planned_run(m_controller, m_builder, m_plan, m_config, [&options](int threads, ThreadPriority priority) {
        options.threads = threads;
        options.priority = priority;
        return make_run_outputs(options);
      });
  if (!started) return;
  m_run_active = true;
  m_close_after_run = false;
  set_running_look(true);
}

void MainWindow::set_running_look(bool running) {
  m_mosaic_button->setChecked(running);
  m_mosaic_button->setIcon(button_icon(running ? ButtonPicture::create_mosaic_stop : ButtonPicture::create_mosaic));
  m_mosaic_button->setText(qt(running ? tess::tr("&Stop") : tess::tr("&Mosaic")));
  for (QWidget* widget : m_idle_only) widget->setEnabled(!running);
  if (!running) {
    const int index = m_settings_box->currentIndex();
    m_settings_delete->setEnabled(index >= 0 && index < static_cast<int>(m_entries.size()) &&
                                  m_entries[static_cast<std::size_t>(index)].code == kSettingsUser);
  }
}

void MainWindow::tick() {
  // A message shown from a tick runs its own event loop; the ticks it lets
  // through wait for it.
  if (m_in_tick) return;
  m_in_tick = true;
  ++m_ticks;
  if (m_ticks == 6 && m_update_check) m_update_check(false);  // the scheduled update check, once after start

  // Whether the worker had ended is read before the poll, so the run is
  // only closed after a poll that saw the worker's end (and the final action).
  const bool run_ended = m_run_active && !m_controller.running();
  std::string status_text;
  if (m_run_active || m_controller.running()) {
    const MosaicBuilder::ProgressText progress = m_controller.poll();
    status_text = progress.text;
    m_status->setText(qt(progress.text));
    const int value = static_cast<int>(std::clamp(progress.percent, 0.0, 100.0) * 100.0);
    if (m_progress->value() != value) m_progress->setValue(value);
    show_run_sketch();
  }
  if (run_ended) {
    m_controller.wait();
    m_run_active = false;
    set_running_look(false);
    // A stage that failed ends with the texts of a stop; the status line
    // adds why, so nobody takes it for a cancel.
    if (!m_plan.run.stopped && !m_plan.run.failure.empty())
      m_status->setText(qt(status_text + " " + m_plan.run.failure));
    show_written_mosaic();
    show_colour_figures();
    if (m_close_after_run) {
      m_in_tick = false;
      close();
      return;
    }
  }
  m_in_tick = false;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (m_controller.running()) {
    m_controller.request_stop();
    // Stopping: the window closes once the run has ended.
    if (m_builder.stop_requested()) m_close_after_run = true;
    event->ignore();
    return;
  }
  save_auto_settings();
  event->accept();
  // QDialog's own close handling would call reject(), which closes again.
  done(QDialog::Rejected);
}

void MainWindow::reject() { close(); }

}  // namespace tess
