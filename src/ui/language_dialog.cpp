#include "ui/language_dialog.hpp"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/ini_file.hpp"
#include "base/paths.hpp"
#include "base/prompt.hpp"
#include "base/text.hpp"
#include "settings/user_state.hpp"
#include "ui/windows.hpp"

namespace tess {
namespace {

constexpr int kCodeRole = Qt::UserRole;

QString qtr(const char* message_id) { return QString::fromStdString(tess::tr(message_id)); }

}  // namespace

std::vector<LanguageEntry> read_language_list(const std::filesystem::path& file) {
  std::vector<LanguageEntry> languages;
  IniFile ini;
  if (!ini.load(file)) return languages;
  for (const std::string& section : ini.sections()) {
    for (const std::string& name : ini.keys(section)) {
      std::string code = ini.get(section, name, "");
      // An entry without a code would stand for "(auto)" a second time.
      if (!code.empty()) languages.push_back({name, std::move(code)});
    }
  }
  return languages;
}

std::filesystem::path language_list_path() { return data_folder() / "locale" / "locale.txt"; }

LanguageDialog::LanguageDialog(QWidget* parent, const std::vector<LanguageEntry>& languages,
                               const std::string& current)
    : QDialog(parent) {
  setWindowTitle(QStringLiteral("Tessellarium"));

  m_list = new QListWidget(this);
  auto* label = new QLabel("&" + qtr("Select your prefered language:"), this);
  label->setBuddy(m_list);

  auto* automatic = new QListWidgetItem(qtr("(auto)"), m_list);
  automatic->setData(kCodeRole, QString());
  m_list->setCurrentItem(automatic);
  for (const LanguageEntry& language : languages) {
    auto* item = new QListWidgetItem(QString::fromStdString(language.name), m_list);
    item->setData(kCodeRole, QString::fromStdString(language.code));
    if (language.code == current) m_list->setCurrentItem(item);
  }

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  // Qt's own catalogue is not shipped: the button speaks the program's language.
  buttons->button(QDialogButtonBox::Cancel)->setText(qtr("Cancel"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(m_list, &QListWidget::itemActivated, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label);
  layout->addWidget(m_list);
  layout->addWidget(buttons);
  resize(340, 300);
  m_list->setFocus();
}

std::string LanguageDialog::chosen_code() const {
  const QListWidgetItem* item = m_list->currentItem();
  return item != nullptr ? item->data(kCodeRole).toString().toStdString() : std::string();
}

bool run_language_dialog(QWidget* parent, std::string& locale) {
  LanguageDialog dialog(parent, read_language_list(language_list_path()), locale);
  if (dialog.exec() != QDialog::Accepted) return false;
  locale = dialog.chosen_code();
  return true;
}

bool run_language_dialog(QWidget* parent, const ConfigFile& config, Prompt& prompt) {
  const UserState state(config);
  std::string locale = state.get_text("Locale");
  if (!run_language_dialog(parent, locale)) return false;
  if (!state.set_text("Locale", locale)) {
    prompt.message(format(tess::tr("Unable to save file '%s'"), config.path().string()), Icon::error);
    return true;
  }
  prompt.message(tess::tr("You must restart Tessellarium for this change to take effect."), Icon::information);
  return true;
}

}  // namespace tess
