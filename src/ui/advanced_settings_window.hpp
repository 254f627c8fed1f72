#pragma once
// The "Advanced Settings" window: one row per advanced option (section,
// parameter, value), the value edited in place as free text or from the
// option's drop-down list, and the buttons that load and save the
// configuration's "Default Values".

#include <QDialog>

#include "settings/advanced_options.hpp"
#include "settings/configuration.hpp"

class QLabel;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;

namespace tess {

class Prompt;

class AdvancedSettingsWindow final : public QDialog {
  Q_OBJECT

 public:
  /// Edits a copy of `options`; the caller takes edited_options() after OK.
  AdvancedSettingsWindow(QWidget* parent, const AdvancedOptions& options, ConfigFile config, Prompt& prompt);

  /// The values as edited so far.
  const AdvancedOptions& edited_options() const { return m_options; }

  /// Sets option `index` as if the user had typed `text` into its value
  /// cell: a keyword option takes its label or stored word (an unknown
  /// text is refused and the cell shows the old value again); a free option
  /// takes any single-line text. True when the value was taken.
  [[nodiscard]] bool edit_value(std::size_t index, const QString& text);

  /// "Load Default Values": every option from "Default Values", else its
  /// factory default.
  void load_default_values();
  /// "Save Default Values": writes the edited values into "Default Values",
  /// then reloads them from there. A file that cannot be written is
  /// reported and the edited values stay.
  bool save_default_values();

  QTableWidget* table() const { return m_table; }
  QPushButton* load_defaults_button() const { return m_load_defaults; }
  QPushButton* save_defaults_button() const { return m_save_defaults; }

 private:
  void fill_rows();
  void show_value(std::size_t index);
  void on_item_changed(QTableWidgetItem* item);
  void show_help(int row);

  AdvancedOptions m_options;
  ConfigFile m_config;
  Prompt& m_prompt;
  QTableWidget* m_table = nullptr;
  QLabel* m_help = nullptr;
  QPushButton* m_load_defaults = nullptr;
  QPushButton* m_save_defaults = nullptr;
  bool m_filling = false;
};

/// The advanced settings window: every option with its label, help and
/// choices; "Save as Default" writes the configuration's "Default Values".
/// True when OK was pressed and the values differ from `options` (which then
/// hold them).
bool run_advanced_settings(QWidget* parent, AdvancedOptions& options, const ConfigFile& config, Prompt& prompt);

}  // namespace tess
