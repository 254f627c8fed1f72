#pragma once
// The windows that save the current mosaic settings under a name of the
// user's and delete a saved one. Names are checked as the settings file
// wants them; every message goes through the Prompt.

#include <string>

#include <QDialog>

#include "settings/settings_file.hpp"

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace tess {

class Prompt;

/// What the save window was told.
struct SaveSettingsChoice {
  std::string name;             ///< trimmed, valid
  bool with_tile_list = false;  ///< store the loaded Tile Images List with the settings
  bool with_advanced = false;   ///< store the advanced options with the settings
};

/// "Save Current Mosaic Settings": the name ("Save as:") and, when
/// `with_choices`, the check boxes "Images List:" (on by default, off and
/// disabled without a loaded list) and "Advanced Settings" (off). OK refuses
/// an invalid name with "Please insert a valid name for the settings", and
/// asks before replacing settings of the same name (No preselected); the
/// window stays open after a refusal or a No.
class SaveSettingsDialog final : public QDialog {
  Q_OBJECT

 public:
  SaveSettingsDialog(QWidget* parent, SettingsFile file, bool list_loaded, Prompt& prompt, bool with_choices = true);

  /// Valid after the window was accepted.
  const SaveSettingsChoice& choice() const { return m_choice; }

  void accept() override;

  QLineEdit* name_edit() const { return m_name; }
  QCheckBox* tile_list_box() const { return m_tile_list; }
  QCheckBox* advanced_box() const { return m_advanced; }

 private:
  SettingsFile m_file;
  Prompt& m_prompt;
  QLineEdit* m_name = nullptr;
  QCheckBox* m_tile_list = nullptr;
  QCheckBox* m_advanced = nullptr;
  SaveSettingsChoice m_choice;
};

/// "Delete Settings": the settings list as the main window shows it, with
/// `selected` preselected. The Delete button is enabled only for a user's
/// settings; OK without an entry says "Select first a Settings to delete",
/// with an automatic entry "The automatic settings cannot be deleted", and
/// otherwise asks "Do you want to delete the selected Settings?" (No
/// preselected); the window stays open after a refusal or a No.
class DeleteSettingsDialog final : public QDialog {
  Q_OBJECT

 public:
  DeleteSettingsDialog(QWidget* parent, SettingsFile file, const std::string& selected, Prompt& prompt);

  /// The entry confirmed for deletion; valid after the window was accepted.
  const std::string& chosen() const { return m_chosen; }

  void accept() override;

  QListWidget* list() const { return m_list; }
  QPushButton* delete_button() const { return m_delete; }

 private:
  void update_button();

  SettingsFile m_file;
  Prompt& m_prompt;
  QListWidget* m_list = nullptr;
  QPushButton* m_delete = nullptr;
  std::string m_chosen;
};

/// The whole "save settings" step of the main window: the window, then
/// `params` written into the settings file under the chosen name (with
/// `tile_list` when the user kept "Images List:" on, and the advanced
/// options when asked). A file that cannot be written is reported with
/// "Unable to save file '%s'". True with `name` set when the settings were
/// saved; the caller then refills its settings list.
bool run_save_settings_dialog(QWidget* parent, const SettingsFile& file, const MosaicParameters& params,
                              const std::string& tile_list, Prompt& prompt, std::string& name);

/// The whole "delete settings" step: the window, then the section removed
/// from the settings file (a failed write is reported). `name` preselects an
/// entry and names the deleted one on return. True when a section was
/// removed; the caller then refills its settings list.
bool run_delete_settings_dialog(QWidget* parent, const SettingsFile& file, Prompt& prompt, std::string& name);

}  // namespace tess
