#include "ui/advanced_settings_window.hpp"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "ui/windows.hpp"

namespace tess {
namespace {

enum Column { kSectionColumn, kParameterColumn, kValueColumn };

QString qtr(const char* message_id) { return QString::fromStdString(tess::tr(message_id)); }

QString shown_value(std::size_t index, const std::string& word) {
  for (const auto& choice : advanced_option_table()[index].keywords)
    if (word == choice.word) return qtr(choice.label);
  return QString::fromStdString(word);
}

// Edits a value cell with the option's own control: a fixed list for keyword
// options, a list that also takes free text for options with offered
// values, a plain line otherwise.
class OptionValueDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    const auto row = static_cast<std::size_t>(index.row());
    if (index.column() != kValueColumn || row >= kAdvancedOptionCount)
      return QStyledItemDelegate::createEditor(parent, option, index);
    const AdvancedOptionInfo& info = advanced_option_table()[row];
    if (info.keywords.empty() && info.offered.empty()) return QStyledItemDelegate::createEditor(parent, option, index);
    auto* combo = new QComboBox(parent);
    combo->setEditable(info.keywords.empty());
    for (const auto& choice : info.keywords) combo->addItem(qtr(choice.label));
    for (const auto& value : info.offered) combo->addItem(QString::fromStdString(value));
    return combo;
  }

  void setEditorData(QWidget* editor, const QModelIndex& index) const override {
    if (auto* combo = qobject_cast<QComboBox*>(editor)) {
      const QString text = index.data(Qt::DisplayRole).toString();
      const int found = combo->findText(text);
      if (found >= 0) combo->setCurrentIndex(found);
      if (combo->isEditable()) combo->setEditText(text);
      return;
    }
    QStyledItemDelegate::setEditorData(editor, index);
  }

  void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override {
    if (auto* combo = qobject_cast<QComboBox*>(editor)) {
      model->setData(index, combo->currentText(), Qt::EditRole);
      return;
    }
    QStyledItemDelegate::setModelData(editor, model, index);
  }
};

}  // namespace

AdvancedSettingsWindow::AdvancedSettingsWindow(QWidget* parent, const AdvancedOptions& options, ConfigFile config,
                                               Prompt& prompt)
    : QDialog(parent), m_options(options), m_config(std::move(config)), m_prompt(prompt) {
  setWindowTitle(qtr("Advanced Settings"));

  m_table = new QTableWidget(static_cast<int>(kAdvancedOptionCount), 3, this);
  m_table->setHorizontalHeaderLabels({qtr("Section"), qtr("Parameter"), qtr("Value")});
  m_table->verticalHeader()->hide();
  m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 10);
  m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_table->setSelectionMode(QAbstractItemView::SingleSelection);
  m_table->setAlternatingRowColors(true);
  m_table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                           QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
  m_table->setItemDelegateForColumn(kValueColumn, new OptionValueDelegate(m_table));
  m_table->horizontalHeader()->setSectionResizeMode(kSectionColumn, QHeaderView::ResizeToContents);
  m_table->horizontalHeader()->setSectionResizeMode(kParameterColumn, QHeaderView::ResizeToContents);
  m_table->horizontalHeader()->setSectionResizeMode(kValueColumn, QHeaderView::Stretch);
  fill_rows();

  // The help of the current row, readable without hovering.
  auto* help_box = new QGroupBox(qtr("Help"), this);
  m_help = new QLabel(help_box);
  m_help->setWordWrap(true);
  m_help->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  m_help->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_help->setMinimumHeight(m_help->fontMetrics().lineSpacing() * 7);
  auto* help_layout = new QVBoxLayout(help_box);
  help_layout->addWidget(m_help);

  m_load_defaults = new QPushButton("&" + qtr("Load Default Values"), this);
  m_load_defaults->setToolTip(qtr("Set the Advanced Settings to the default values."));
  m_save_defaults = new QPushButton("&" + qtr("Save Default Values"), this);
  m_save_defaults->setToolTip(qtr("Replace the default values with the current Advanced Settings."));
  for (auto* button : {m_load_defaults, m_save_defaults}) button->setAutoDefault(false);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  // Qt's own catalogue is not shipped: the button speaks the program's language.
  buttons->button(QDialogButtonBox::Cancel)->setText(qtr("Cancel"));
  auto* button_row = new QHBoxLayout;
  button_row->addWidget(m_load_defaults);
  button_row->addWidget(m_save_defaults);
  button_row->addStretch(1);
  button_row->addWidget(buttons);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_table, 1);
  layout->addWidget(help_box);
  layout->addLayout(button_row);

  connect(m_table, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) { on_item_changed(item); });
  connect(m_table, &QTableWidget::currentCellChanged, this, [this](int row, int, int, int) { show_help(row); });
  connect(m_load_defaults, &QPushButton::clicked, this, [this] { load_default_values(); });
  connect(m_save_defaults, &QPushButton::clicked, this, [this] { save_default_values(); });
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  m_table->setCurrentCell(0, kValueColumn);
  show_help(0);
  resize(760, 640);
}

void AdvancedSettingsWindow::fill_rows() {
  m_filling = true;
  const auto& table = advanced_option_table();
  for (std::size_t i = 0; i < kAdvancedOptionCount; ++i) {
    const AdvancedOptionInfo& info = table[i];
    const int row = static_cast<int>(i);
    QString parameter = qtr(info.label);
    if (*info.unit_label != '\0') parameter += " (" + qtr(info.unit_label) + ")";
    const QString help = QString::fromStdString(advanced_option_help(i));
    auto* section = new QTableWidgetItem(qtr(info.group));
    auto* name = new QTableWidgetItem(parameter);
    for (auto* item : {section, name}) {
      item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
      item->setToolTip(help);
    }
    auto* value = new QTableWidgetItem;
    value->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);
    value->setToolTip(help);
    m_table->setItem(row, kSectionColumn, section);
    m_table->setItem(row, kParameterColumn, name);
    m_table->setItem(row, kValueColumn, value);
    show_value(i);
  }
  m_filling = false;
}

void AdvancedSettingsWindow::show_value(std::size_t index) {
  QTableWidgetItem* item = m_table->item(static_cast<int>(index), kValueColumn);
  if (item == nullptr) return;
  const bool was_filling = m_filling;
  m_filling = true;
  item->setText(shown_value(index, m_options.value(index)));
  m_filling = was_filling;
}

bool AdvancedSettingsWindow::edit_value(std::size_t index, const QString& text) {
  if (index >= kAdvancedOptionCount) return false;
  const bool accepted = normalise_advanced_value(index, text.trimmed().toStdString()).has_value();
  m_table->item(static_cast<int>(index), kValueColumn)->setText(text);
  return accepted;
}

void AdvancedSettingsWindow::on_item_changed(QTableWidgetItem* item) {
  if (m_filling || item == nullptr || item->column() != kValueColumn) return;
  const auto index = static_cast<std::size_t>(item->row());
  if (index >= kAdvancedOptionCount) return;
  // A keyword option stores its word, whichever of label or word was typed;
  // a text it does not know leaves the old value in place.
  if (auto word = normalise_advanced_value(index, item->text().trimmed().toStdString())) m_options.set_value(index, *word);
  show_value(index);
}

void AdvancedSettingsWindow::show_help(int row) {
  if (row < 0 || row >= static_cast<int>(kAdvancedOptionCount)) return;
  m_help->setText(QString::fromStdString(advanced_option_help(static_cast<std::size_t>(row))));
}

void AdvancedSettingsWindow::load_default_values() {
  m_options.initialise_all(true, m_config);
  fill_rows();
}

bool AdvancedSettingsWindow::save_default_values() {
  // A cell still open in its editor holds the user's latest text.
  if (QWidget* editor = m_table->indexWidget(m_table->currentIndex()))
    emit m_table->itemDelegateForColumn(kValueColumn)->commitData(editor);
  if (!m_options.save_defaults(m_config)) {
    m_prompt.message(format(tess::tr("Unable to save file '%s'"), m_config.path().string()), Icon::error);
    return false;
  }
  load_default_values();
  return true;
}

bool run_advanced_settings(QWidget* parent, AdvancedOptions& options, const ConfigFile& config, Prompt& prompt) {
  AdvancedSettingsWindow window(parent, options, config, prompt);
  if (window.exec() != QDialog::Accepted) return false;
  if (window.edited_options() == options) return false;
  options = window.edited_options();
  return true;
}

}  // namespace tess
