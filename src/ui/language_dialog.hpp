#pragma once
// The language window: "(auto)" and every language of the data folder's
// locale/locale.txt (display name = locale code, in the key/value format of
// the configuration file), with the stored language preselected.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <QDialog>

class QListWidget;

namespace tess {

class ConfigFile;
class Prompt;

/// One language of the list.
struct LanguageEntry {
  std::string name;  ///< shown as it is: each language names itself
  std::string code;  ///< "de", "en", ...; empty for automatic
};

/// The languages of `file`, in file order (every key of every section); an
/// empty list when the file is missing or unreadable.
std::vector<LanguageEntry> read_language_list(const std::filesystem::path& file);

/// data_folder() / "locale/locale.txt".
std::filesystem::path language_list_path();

class LanguageDialog final : public QDialog {
  Q_OBJECT

 public:
  /// `languages` follow "(auto)"; the entry whose code is `current` is
  /// preselected ("(auto)" when none is).
  LanguageDialog(QWidget* parent, const std::vector<LanguageEntry>& languages, const std::string& current);

  /// The code of the selected entry (empty for "(auto)").
  std::string chosen_code() const;

  QListWidget* list() const { return m_list; }

 private:
  QListWidget* m_list = nullptr;
};

/// The whole language step of the main window: the window over the data
/// folder's list, preselecting "Locale" of `config`'s "UserSettings"; on OK the chosen code is
/// stored under "Locale" and "You must restart Tessellarium for this change
/// to take effect." is shown. True when OK was pressed.
bool run_language_dialog(QWidget* parent, const ConfigFile& config, Prompt& prompt);

}  // namespace tess
