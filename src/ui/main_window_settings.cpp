// SPDX-License-Identifier: GPL-3.0-or-later
// The settings box of the main window: the named settings, loaded, saved
// and deleted, and "(Auto Save)".

#include "ui/main_window.hpp"

#include <algorithm>

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QToolButton>

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

QWidget* MainWindow::build_settings_box() {
  auto* box = new QGroupBox(qt(tess::tr("Mosaic Settings")));
  m_settings_box = new QComboBox;
  m_settings_box->setObjectName(QStringLiteral("settingsList"));
  m_settings_box->setAccessibleName(qt(tess::tr("Mosaic Settings")));
  connect(m_settings_box, &QComboBox::activated, this, [this] {
    load_selected_settings();
    refresh_fields();
    refresh_summary();
  });
  set_help(m_settings_box, tess::tr("Choose saved or automatic Mosaic Settings: they are loaded at once."));

  auto* load = picture_button(ButtonPicture::settings_load, tess::tr("Load Settings"));
  load->setObjectName(QStringLiteral("settingsLoad"));
  set_help(load, tess::tr("Load again the selected Mosaic Settings."));
  connect(load, &QToolButton::clicked, this, [this] {
    load_selected_settings();
    refresh_fields();
    refresh_summary();
  });
  auto* save = picture_button(ButtonPicture::settings_add, tess::tr("Save Settings"));
  save->setObjectName(QStringLiteral("settingsSave"));
  set_help(save, tess::tr("Save the current Mosaic Settings under a name."));
  connect(save, &QToolButton::clicked, this, &MainWindow::save_settings);
  m_settings_delete = picture_button(ButtonPicture::settings_remove, tess::tr("Delete Settings"));
  m_settings_delete->setObjectName(QStringLiteral("settingsDelete"));
  set_help(m_settings_delete, tess::tr("Delete the selected Mosaic Settings."));
  connect(m_settings_delete, &QToolButton::clicked, this, &MainWindow::delete_settings);

  auto* row = new QHBoxLayout(box);
  row->addWidget(m_settings_box, 1);
  row->addWidget(load);
  row->addWidget(save);
  row->addWidget(m_settings_delete);
  m_idle_only.insert(m_idle_only.end(), {m_settings_box, static_cast<QWidget*>(load), m_settings_delete});
  return box;
}

// ---- settings ----------------------------------------------------------------------

void MainWindow::fill_settings_list(const std::string& select_name, SettingsEntryCode select_code) {
  m_entries = settings_entries(m_settings.read());
  m_settings_box->clear();
  int selected = -1;
  for (std::size_t i = 0; i < m_entries.size(); ++i) {
    m_settings_box->addItem(qt(m_entries[i].name));
    const bool match = select_name.empty() ? m_entries[i].code == select_code && select_code != kSettingsUser
                                           : m_entries[i].name == select_name;
    if (match && selected < 0) selected = static_cast<int>(i);
  }
  if (selected < 0) {
    for (std::size_t i = 0; i < m_entries.size(); ++i)
      if (m_entries[i].code == kSettingsDefault) selected = static_cast<int>(i);
  }
  m_settings_box->setCurrentIndex(std::max(selected, 0));
}

void MainWindow::load_selected_settings() {
  const int index = m_settings_box->currentIndex();
  if (index < 0 || index >= static_cast<int>(m_entries.size())) return;
  const SettingsEntry& entry = m_entries[static_cast<std::size_t>(index)];
  const SettingsLoad load =
      load_settings_entry(entry, m_settings.read(), m_params, list_counts(), m_config.read(), m_prompt);
  if (load.loaded && !load.tile_list.empty() && load.tile_list != m_list.path()) load_tile_list(load.tile_list);
  m_settings_delete->setEnabled(entry.code == kSettingsUser && !m_run_active);
}

bool MainWindow::select_settings(const std::string& name) {
  const int index = m_settings_box->findText(qt(name));
  if (index < 0) return false;
  m_settings_box->setCurrentIndex(index);
  load_selected_settings();
  refresh_fields();
  refresh_summary();
  return true;
}

QStringList MainWindow::settings_names() const {
  QStringList names;
  for (int i = 0; i < m_settings_box->count(); ++i) names << m_settings_box->itemText(i);
  return names;
}

void MainWindow::save_settings() {
  if (!commit_fields()) return;
  std::string name;
  const int index = m_settings_box->currentIndex();
  if (index >= 0 && index < static_cast<int>(m_entries.size()))
    name = m_entries[static_cast<std::size_t>(index)].name;  // proposed when it is the user's own
  if (!run_save_settings_dialog(this, m_settings, m_params, m_list.path(), m_prompt, name)) return;
  fill_settings_list(name, kSettingsUser);
  m_settings_delete->setEnabled(true);
}

void MainWindow::delete_settings() {
  // The entry chosen in the list is the one deleted: the user is asked about
  // it, not made to pick it again.
  const int index = m_settings_box->currentIndex();
  if (index < 0 || index >= static_cast<int>(m_entries.size())) {
    m_prompt.message(tess::tr(kSelectSettingsToDeleteMessage), Icon::warning);
    return;
  }
  const SettingsEntry entry = m_entries[static_cast<std::size_t>(index)];
  if (entry.code != kSettingsUser) {
    m_prompt.message(tess::tr(kAutomaticSettingsUndeletableMessage), Icon::warning);
    return;
  }
  if (m_prompt.ask(tess::tr(kDeleteSettingsQuestion), Buttons::yes_no, Answer::no, Icon::question) != Answer::yes)
    return;
  if (!m_settings.remove(entry.name)) {
    m_prompt.message(format(tess::tr("Unable to save file '%s'"), m_settings.path().string()), Icon::error);
    return;
  }
  fill_settings_list({}, kSettingsDefault);
  m_settings_delete->setEnabled(false);
}

void MainWindow::save_auto_settings() {
  if (m_auto_saved) return;
  m_auto_saved = true;
  if (!m_settings.save(kAutoSaveSection, m_params, m_list.path(), true))
    m_prompt.message(format(tess::tr("Unable to save file '%s'"), m_settings.path().string()), Icon::error);
}

}  // namespace tess
