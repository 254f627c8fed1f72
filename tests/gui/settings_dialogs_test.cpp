#include "ui/settings_dialogs.hpp"

#include <functional>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include "base/scripted_prompt.hpp"
#include "settings/user_state.hpp"
#include "support/test_support.hpp"
#include "ui/about_dialog.hpp"
#include "ui/language_dialog.hpp"
#include "ui/windows.hpp"

namespace tess {
namespace {

using testing::ScopedEnv;
using testing::TempDir;
using testing::write_file;

// Works on the modal window that exec() is about to show, then lets the
// test go on once it was closed.
void when_modal(std::function<void(QWidget*)> work) {
  QTimer::singleShot(0, [work = std::move(work)] {
    QWidget* modal = QApplication::activeModalWidget();
    ASSERT_NE(modal, nullptr);
    work(modal);
  });
}

struct SettingsSetup {
  SettingsSetup() : file(dir / "TessellariumSettings12x9.txt"), config(dir / "TessellariumConfig.txt") {}
  TempDir dir;
  SettingsFile file;
  IniFile config_ini;
  ConfigFile config;
};

QStringList item_texts(const QListWidget* list) {
  QStringList texts;
  for (int i = 0; i < list->count(); ++i) texts << list->item(i)->text();
  return texts;
}

// --- save ---------------------------------------------------------------------

TEST(SaveSettingsDialog, RefusesNamesOfTheAutomaticEntries) {
  SettingsSetup setup;
  ScriptedPrompt prompt;
  SaveSettingsDialog dialog(nullptr, setup.file, true, prompt);
  for (const char* name : {"", "   ", "(Mine", "Mine)", "(Last Mosaic)"}) {
    prompt.clear();
    dialog.name_edit()->setText(name);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Rejected) << name;
    EXPECT_EQ(prompt.messages(), std::vector<std::string>{"Please insert a valid name for the settings"}) << name;
  }
  dialog.name_edit()->setText("  Holiday 2024  ");
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.choice().name, "Holiday 2024");
}

TEST(SaveSettingsDialog, CheckBoxesFollowTheLoadedList) {
  SettingsSetup setup;
  ScriptedPrompt prompt;
  SaveSettingsDialog with_list(nullptr, setup.file, true, prompt);
  EXPECT_TRUE(with_list.tile_list_box()->isChecked());
  EXPECT_TRUE(with_list.tile_list_box()->isEnabled());
  EXPECT_FALSE(with_list.advanced_box()->isChecked());
  EXPECT_FALSE(with_list.tile_list_box()->toolTip().isEmpty());
  with_list.advanced_box()->setChecked(true);
  with_list.name_edit()->setText("A");
  with_list.accept();
  EXPECT_TRUE(with_list.choice().with_tile_list);
  EXPECT_TRUE(with_list.choice().with_advanced);

  SaveSettingsDialog without_list(nullptr, setup.file, false, prompt);
  EXPECT_FALSE(without_list.tile_list_box()->isChecked());
  EXPECT_FALSE(without_list.tile_list_box()->isEnabled());
  without_list.name_edit()->setText("B");
  without_list.accept();
  EXPECT_FALSE(without_list.choice().with_tile_list);
}

TEST(SaveSettingsDialog, AsksBeforeReplacingSettings) {
  SettingsSetup setup;
  MosaicParameters params;
  ASSERT_TRUE(setup.file.save("Poster", params, "", false));
  ScriptedPrompt prompt;
  SaveSettingsDialog dialog(nullptr, setup.file, false, prompt);
  dialog.name_edit()->setText("poster");  // the same section, whatever the letter case
  dialog.accept();  // no planned answer: No is preselected
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  ASSERT_EQ(prompt.calls().size(), 1u);
  EXPECT_EQ(prompt.calls()[0].text, "Do you want to overwrite the existing settings?");
  prompt.plan_answer(Answer::yes);
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST(SaveSettingsDialog, SavedSettingsLoadBack) {
  SettingsSetup setup;
  MosaicParameters params;
  params.advanced.initialise_all(true, setup.config_ini);
  params.tile_duplication = 7;
  params.advanced.set_value(kOptThreadCount, "3");
  ScriptedPrompt prompt;
  when_modal([](QWidget* modal) {
    auto* dialog = qobject_cast<SaveSettingsDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    dialog->name_edit()->setText("Big Poster");
    dialog->advanced_box()->setChecked(true);
    dialog->accept();
  });
  std::string name;
  ASSERT_TRUE(run_save_settings_dialog(nullptr, setup.file, params, "/lists/holiday.tzc", prompt, name));
  EXPECT_EQ(name, "Big Poster");
  EXPECT_TRUE(prompt.calls().empty());
  EXPECT_EQ(setup.file.user_settings(), std::vector<std::string>{"Big Poster"});

  MosaicParameters loaded;
  loaded.advanced.initialise_all(true, setup.config_ini);
  const SettingsLoad load = setup.file.load("Big Poster", loaded, setup.config_ini);
  ASSERT_TRUE(load.loaded);
  EXPECT_EQ(load.tile_list, "/lists/holiday.tzc");
  EXPECT_EQ(loaded.tile_duplication, 7);
  EXPECT_EQ(loaded.advanced.value(kOptThreadCount), "3");
}

TEST(SaveSettingsDialog, UnwritableFileIsReported) {
  TempDir dir;
  ASSERT_TRUE(write_file(dir / "not a folder", "x"));
  SettingsFile file(dir / "not a folder" / "TessellariumSettings12x9.txt");
  ScriptedPrompt prompt;
  when_modal([](QWidget* modal) {
    auto* dialog = qobject_cast<SaveSettingsDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    dialog->name_edit()->setText("Lost");
    dialog->accept();
  });
  std::string name;
  EXPECT_FALSE(run_save_settings_dialog(nullptr, file, MosaicParameters{}, "", prompt, name));
  EXPECT_EQ(prompt.messages(), std::vector<std::string>{"Unable to save file '" + file.path().string() + "'"});
  EXPECT_EQ(name, "");
}

// --- delete -------------------------------------------------------------------

TEST(DeleteSettingsDialog, OnlyTheUsersSettingsCanBeDeleted) {
  SettingsSetup setup;
  ASSERT_TRUE(setup.file.save("Poster", MosaicParameters{}, "", false));
  ASSERT_TRUE(setup.file.save("Postcard", MosaicParameters{}, "", false));
  ScriptedPrompt prompt;
  DeleteSettingsDialog dialog(nullptr, setup.file, "Postcard", prompt);
  const QStringList entries = item_texts(dialog.list());
  ASSERT_GE(entries.size(), 3);
  EXPECT_EQ(entries[0], "Poster");
  EXPECT_EQ(entries[1], "Postcard");
  EXPECT_TRUE(entries.contains("(Default Settings)"));
  EXPECT_EQ(dialog.list()->currentItem()->text(), "Postcard");
  EXPECT_TRUE(dialog.delete_button()->isEnabled());

  dialog.list()->setCurrentRow(static_cast<int>(entries.indexOf("(Default Settings)")));
  EXPECT_FALSE(dialog.delete_button()->isEnabled());
  dialog.accept();  // Enter on the list reaches this too
  EXPECT_EQ(prompt.messages(), std::vector<std::string>{"The automatic settings cannot be deleted"});

  prompt.clear();
  dialog.list()->setCurrentItem(nullptr);
  dialog.accept();
  EXPECT_EQ(prompt.messages(), std::vector<std::string>{"Select first a Settings to delete"});
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST(DeleteSettingsDialog, DeletesAfterYes) {
  SettingsSetup setup;
  ASSERT_TRUE(setup.file.save("Poster", MosaicParameters{}, "", false));
  ASSERT_TRUE(setup.file.save("Postcard", MosaicParameters{}, "", false));
  ScriptedPrompt prompt;
  when_modal([](QWidget* modal) {
    auto* dialog = static_cast<QDialog*>(modal);
    dialog->accept();  // No is preselected: the window stays open
    EXPECT_TRUE(dialog->isVisible());
    dialog->reject();
  });
  std::string name = "Poster";
  EXPECT_FALSE(run_delete_settings_dialog(nullptr, setup.file, prompt, name));
  EXPECT_EQ(setup.file.user_settings().size(), 2u);

  prompt.clear();
  prompt.plan_answer(Answer::yes);
  when_modal([](QWidget* modal) { static_cast<QDialog*>(modal)->accept(); });
  ASSERT_TRUE(run_delete_settings_dialog(nullptr, setup.file, prompt, name));
  ASSERT_EQ(prompt.calls().size(), 1u);
  EXPECT_EQ(prompt.calls()[0].text, "Do you want to delete the selected Settings?");
  EXPECT_EQ(name, "Poster");
  EXPECT_EQ(setup.file.user_settings(), std::vector<std::string>{"Postcard"});
}

// --- language -----------------------------------------------------------------

TEST(LanguageDialog, ListsAutoThenTheLocaleFile) {
  TempDir data;
  ScopedEnv env("TESSELLARIUM_DATA_DIR", data.path().string());
  EXPECT_TRUE(read_language_list(language_list_path()).empty());
  {
    LanguageDialog dialog(nullptr, read_language_list(language_list_path()), "de");
    EXPECT_EQ(item_texts(dialog.list()), QStringList{"(auto)"});  // a missing list leaves "(auto)" alone
    EXPECT_EQ(dialog.chosen_code(), "");
  }
  std::filesystem::create_directories(data / "locale");
  ASSERT_TRUE(write_file(data / "locale" / "locale.txt", "[Languages]\nEnglish = en\nDeutsch = de\nFrançais = fr\n"));
  const auto languages = read_language_list(language_list_path());
  LanguageDialog dialog(nullptr, languages, "de");
  EXPECT_EQ(item_texts(dialog.list()), (QStringList{"(auto)", "English", "Deutsch", "Français"}));
  EXPECT_EQ(dialog.list()->currentItem()->text(), "Deutsch");
  EXPECT_EQ(dialog.chosen_code(), "de");
  dialog.list()->setCurrentRow(3);
  EXPECT_EQ(dialog.chosen_code(), "fr");
}

TEST(LanguageDialog, ChoiceIsStoredForTheNextStart) {
  TempDir data;
  ScopedEnv env("TESSELLARIUM_DATA_DIR", data.path().string());
  std::filesystem::create_directories(data / "locale");
  ASSERT_TRUE(write_file(data / "locale" / "locale.txt", "[Languages]\nEnglish = en\nDeutsch = de\n"));
  ConfigFile config(data / "TessellariumConfig.txt");
  ScriptedPrompt prompt;
  when_modal([](QWidget* modal) {
    auto* dialog = qobject_cast<LanguageDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->chosen_code(), "");  // nothing stored yet: "(auto)"
    dialog->list()->setCurrentRow(2);
    dialog->accept();
  });
  ASSERT_TRUE(run_language_dialog(nullptr, config, prompt));
  EXPECT_EQ(UserState(config).get_text("Locale"), "de");
  EXPECT_EQ(prompt.messages(), std::vector<std::string>{"You must restart Tessellarium for this change to take effect."});

  prompt.clear();
  when_modal([](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
  EXPECT_FALSE(run_language_dialog(nullptr, config, prompt));
  EXPECT_EQ(UserState(config).get_text("Locale"), "de");
  EXPECT_TRUE(prompt.calls().empty());
}

TEST(LanguageDialog, BuildStagesEnglishAndGerman) {
  // The test program runs on the build tree's data folder.
  const auto languages = read_language_list(language_list_path());
  ASSERT_EQ(languages.size(), 2u);
  EXPECT_EQ(languages[0].code, "en");
  EXPECT_EQ(languages[1].code, "de");
}

// --- about --------------------------------------------------------------------

TEST(AboutDialog, ShowsCountAndFirstDate) {
  TempDir dir;
  UserState state(ConfigFile(dir / "TessellariumConfig.txt"));
  {
    AboutDialog dialog(nullptr, state);
    EXPECT_EQ(dialog.windowTitle(), "About Tessellarium");
    EXPECT_EQ(dialog.count_label()->text(), "You have created 0 Mosaics.");
    EXPECT_TRUE(dialog.first_date_label()->isHidden());
  }
  ASSERT_TRUE(state.set_text("MosaicCount", "1"));
  ASSERT_TRUE(state.set_text("DateFirstMosaic", "2024-03-05"));
  AboutDialog one(nullptr, state);
  EXPECT_EQ(one.count_label()->text(), "You have created 1 Mosaic.");
  EXPECT_FALSE(one.first_date_label()->isHidden());
  EXPECT_TRUE(one.first_date_label()->text().contains("2024")) << one.first_date_label()->text().toStdString();
  ASSERT_TRUE(state.set_text("MosaicCount", "12"));
  AboutDialog twelve(nullptr, state);
  EXPECT_EQ(twelve.count_label()->text(), "You have created 12 Mosaics.");
}

}  // namespace
}  // namespace tess
