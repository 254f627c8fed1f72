#pragma once
// "More Options": the grouped property list that edits the rest of a
// mosaic's parameters (processing, comparison, output format and location,
// RezIroriz, border) and two user settings (tool tips, update schedule),
// each row with its help text.

#include <functional>
#include <string>
#include <vector>

#include <QDialog>
#include <QWidget>

#include "settings/mosaic_parameters.hpp"

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace tess {

class Prompt;
class UserState;
struct PropertyRowSpec;

/// One entry of a choice list: the label (message id) and the stored value.
struct ChoiceEntry {
  const char* label;
  std::int32_t value;
};

/// What the rows that act rather than edit do.
struct PropertyActions {
  std::function<void()> check_now;      ///< "Check Now"
  /// "Show Advanced Settings": edits the options; true when they changed.
  std::function<bool(AdvancedOptions& options)> show_advanced;
};

/// The property list itself. It edits its own copy of the parameters; the
/// caller reads parameters() after commit() succeeded.
class PropertyEditor : public QWidget {
  Q_OBJECT
 public:
  PropertyEditor(const MosaicParameters& parameters, const UserState* state, Prompt& prompt,
                 PropertyActions actions, QWidget* parent = nullptr);

  /// Reads every free-text row. On a refused entry shows "Please insert a
  /// valid value for the parameter", puts the focus on that row and returns
  /// false; the parameters keep their last accepted values.
  [[nodiscard]] bool commit();

  const MosaicParameters& parameters() const { return m_params; }
  /// Replaces the parameters (the advanced settings changed them) and
  /// refreshes every row.
  void set_parameters(const MosaicParameters& parameters);

  [[nodiscard]] bool show_tool_tips() const { return m_show_tool_tips; }
  std::int32_t update_schedule() const { return m_update_schedule; }

  /// The row labels in order, translated and without their "&&" escapes.
  std::vector<std::string> row_labels() const;
  /// The help text of the row labelled `label_id` (the untranslated label).
  std::string help_of(const std::string& label_id) const;
  /// "Show Advanced Settings", for the window to place in its button row.
  QPushButton* advanced_button() const { return m_advanced_button; }
  /// The text of the help panel below the list.
  QString help_text() const;

 private:
  struct Row {
    const char* label_id;
    std::string help;
    QWidget* editor = nullptr;
    std::function<void()> refresh;   // parameters into the editor
    std::function<bool()> commit;    // editor into the parameters; false: refused
    QTreeWidgetItem* item = nullptr;
  };

  /// A heading: a group of the list, or a sub-heading under `parent`.
  QTreeWidgetItem* add_group(const char* title, QTreeWidgetItem* parent = nullptr);
  /// The hint the help panel shows while no row is chosen.
  static QString general_help();
  void add_row(QTreeWidgetItem* group, Row row);
  /// Rows of a table: choices, on/off boxes and typed numbers.
  void add_rows(QTreeWidgetItem* group, const std::vector<PropertyRowSpec>& specs);
  void build_rows();
  // The rows that are more than a table row.
  void add_border_colour_row(QTreeWidgetItem* group);
  void add_user_interface_rows(QTreeWidgetItem* group);
  void add_file_format_row(QTreeWidgetItem* group);
  void add_directory_row(QTreeWidgetItem* group);
  void refresh_rows();
  void show_help(QTreeWidgetItem* item);

  MosaicParameters m_params;
  const UserState* m_state;
  Prompt& m_prompt;
  PropertyActions m_actions;
  bool m_show_tool_tips = true;
  std::int32_t m_update_schedule = 3;
  QTreeWidget* m_tree = nullptr;
  QLabel* m_help = nullptr;
  QPushButton* m_advanced_button = nullptr;
  std::vector<Row> m_rows;
};

/// The "More Options" window around a PropertyEditor, with OK and Cancel.
class MoreOptionsDialog : public QDialog {
  Q_OBJECT
 public:
  MoreOptionsDialog(QWidget* parent, const MosaicParameters& parameters, const UserState* state, Prompt& prompt,
                    PropertyActions actions);
  PropertyEditor* editor() const { return m_editor; }

  void accept() override;

 private:
  PropertyEditor* m_editor;
};

/// Runs "More Options" modally. On OK the parameters take the edited values,
/// "ShowToolTips" and "CheckVersion" are stored in `state`, and true comes back.
[[nodiscard]] bool run_more_options(QWidget* parent, MosaicParameters& parameters, const UserState& state, Prompt& prompt,
                      PropertyActions actions);

}  // namespace tess
