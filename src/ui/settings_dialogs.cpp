#include "ui/settings_dialogs.hpp"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "ui/windows.hpp"

namespace tess {
namespace {

QString qtr(const char* message_id) { return QString::fromStdString(tess::tr(message_id)); }

constexpr int kEntryCodeRole = Qt::UserRole;

}  // namespace

// --- save ------------------------------------------------------------------

SaveSettingsDialog::SaveSettingsDialog(QWidget* parent, SettingsFile file, bool list_loaded, Prompt& prompt,
                                       bool with_choices)
    : QDialog(parent), m_file(std::move(file)), m_prompt(prompt) {
  setWindowTitle(qtr("Save Current Mosaic Settings"));

  m_name = new QLineEdit(this);
  m_name->setMinimumWidth(m_name->fontMetrics().averageCharWidth() * 40);
  auto* name_label = new QLabel("&" + qtr("Save as:"), this);
  name_label->setBuddy(m_name);

  auto* form = new QFormLayout;
  form->addRow(name_label, m_name);

  m_tile_list = new QCheckBox(this);
  m_tile_list->setToolTip(qtr("If selected then the currently loaded Tile Images List will be saved into the settings."));
  // Without a loaded list there is nothing to store.
  m_tile_list->setChecked(list_loaded);
  m_tile_list->setEnabled(list_loaded);
  m_advanced = new QCheckBox(this);
  m_advanced->setToolTip(qtr("If selected then the advanced settings are also saved into the settings else the "
                             "default values will be used when loading the settings."));
  if (with_choices) {
    auto* list_label = new QLabel("&" + qtr("Images List:"), this);
    list_label->setBuddy(m_tile_list);
    list_label->setToolTip(m_tile_list->toolTip());
    form->addRow(list_label, m_tile_list);
    auto* advanced_label = new QLabel("&" + qtr("Advanced Settings"), this);
    advanced_label->setBuddy(m_advanced);
    advanced_label->setToolTip(m_advanced->toolTip());
    form->addRow(advanced_label, m_advanced);
  } else {
    m_tile_list->hide();
    m_advanced->hide();
  }

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  // Qt's own catalogue is not shipped: the button speaks the program's language.
  buttons->button(QDialogButtonBox::Cancel)->setText(qtr("Cancel"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addStretch(1);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetMinimumSize);
  m_name->setFocus();
}

void SaveSettingsDialog::accept() {
  const auto name = valid_settings_name(m_name->text().toStdString());
  if (!name) {
    m_prompt.message(tess::tr(kInvalidSettingsNameMessage), Icon::warning);
    m_name->setFocus();
    m_name->selectAll();
    return;
  }
  if (m_file.contains(*name) &&
      m_prompt.ask(tess::tr(kOverwriteSettingsQuestion), Buttons::yes_no, Answer::no, Icon::question) != Answer::yes) {
    m_name->setFocus();
    return;
  }
  m_choice.name = *name;
  m_choice.with_tile_list = m_tile_list->isEnabled() && m_tile_list->isChecked();
  m_choice.with_advanced = m_advanced->isChecked();
  QDialog::accept();
}

bool run_save_settings_dialog(QWidget* parent, const SettingsFile& file, const MosaicParameters& params,
                              const std::string& tile_list, Prompt& prompt, std::string& name) {
  SaveSettingsDialog dialog(parent, file, !tile_list.empty(), prompt);
  if (valid_settings_name(name)) dialog.name_edit()->setText(QString::fromStdString(name));
  if (dialog.exec() != QDialog::Accepted) return false;
  const SaveSettingsChoice& choice = dialog.choice();
  if (!file.save(choice.name, params, choice.with_tile_list ? tile_list : std::string(), choice.with_advanced)) {
    prompt.message(format(tess::tr("Unable to save file '%s'"), file.path().string()), Icon::error);
    return false;
  }
  name = choice.name;
  return true;
}

// --- delete ----------------------------------------------------------------

DeleteSettingsDialog::DeleteSettingsDialog(QWidget* parent, SettingsFile file, const std::string& selected,
                                           Prompt& prompt)
    : QDialog(parent), m_file(std::move(file)), m_prompt(prompt) {
  setWindowTitle(qtr("Delete Settings"));

  m_list = new QListWidget(this);
  for (const SettingsEntry& entry : settings_entries(m_file.read())) {
    auto* item = new QListWidgetItem(QString::fromStdString(entry.name), m_list);
    item->setData(kEntryCodeRole, static_cast<int>(entry.code));
    if (entry.code != kSettingsUser) item->setForeground(palette().brush(QPalette::Disabled, QPalette::Text));
    if (entry.name == selected) m_list->setCurrentItem(item);
  }

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
  // Qt's own catalogue is not shipped: the button speaks the program's language.
  buttons->button(QDialogButtonBox::Cancel)->setText(qtr("Cancel"));
  m_delete = buttons->addButton(qtr("Delete"), QDialogButtonBox::AcceptRole);
  m_delete->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(m_list, &QListWidget::currentItemChanged, this, [this] { update_button(); });
  connect(m_list, &QListWidget::itemActivated, this, [this] { accept(); });

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_list);
  layout->addWidget(buttons);
  update_button();
  resize(380, 320);
  m_list->setFocus();
}

void DeleteSettingsDialog::update_button() {
  const QListWidgetItem* item = m_list->currentItem();
  m_delete->setEnabled(item != nullptr && item->data(kEntryCodeRole).toInt() == kSettingsUser);
}

void DeleteSettingsDialog::accept() {
  const QListWidgetItem* item = m_list->currentItem();
  if (item == nullptr) {
    m_prompt.message(tess::tr(kSelectSettingsToDeleteMessage), Icon::warning);
    return;
  }
  if (item->data(kEntryCodeRole).toInt() != kSettingsUser) {
    m_prompt.message(tess::tr(kAutomaticSettingsUndeletableMessage), Icon::warning);
    return;
  }
  if (m_prompt.ask(tess::tr(kDeleteSettingsQuestion), Buttons::yes_no, Answer::no, Icon::question) != Answer::yes) return;
  m_chosen = item->text().toStdString();
  QDialog::accept();
}

bool run_delete_settings_dialog(QWidget* parent, const SettingsFile& file, Prompt& prompt, std::string& name) {
  DeleteSettingsDialog dialog(parent, file, name, prompt);
  if (dialog.exec() != QDialog::Accepted) return false;
  if (!file.remove(dialog.chosen())) {
    prompt.message(format(tess::tr("Unable to save file '%s'"), file.path().string()), Icon::error);
    return false;
  }
  name = dialog.chosen();
  return true;
}

}  // namespace tess
