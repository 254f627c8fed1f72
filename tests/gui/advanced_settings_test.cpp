#include "ui/advanced_settings_window.hpp"

#include <QAbstractItemDelegate>
#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include <gtest/gtest.h>

#include "base/scripted_prompt.hpp"
#include "support/test_support.hpp"
#include "ui/windows.hpp"

namespace tess {
namespace {

using testing::TempDir;
using testing::write_file;

constexpr int kValueColumn = 2;

struct AdvancedSetup {
  AdvancedSetup() : config(dir / "TessellariumConfig.txt") { options.initialise_all(true, config); }
  TempDir dir;
  ConfigFile config;
  AdvancedOptions options;
};

QString cell(const AdvancedSettingsWindow& window, std::size_t index, int column) {
  return window.table()->item(static_cast<int>(index), column)->text();
}

TEST(AdvancedSettingsWindow, OneRowPerOptionWithGroupLabelAndHelp) {
  AdvancedSetup setup;
  ScriptedPrompt prompt;
  AdvancedSettingsWindow window(nullptr, setup.options, setup.config, prompt);
  ASSERT_EQ(window.table()->rowCount(), static_cast<int>(kAdvancedOptionCount));
  EXPECT_EQ(window.table()->horizontalHeaderItem(0)->text(), "Section");
  EXPECT_EQ(window.table()->horizontalHeaderItem(1)->text(), "Parameter");
  EXPECT_EQ(window.table()->horizontalHeaderItem(2)->text(), "Value");

  EXPECT_EQ(cell(window, kOptThreadCount, 0), "Options");
  EXPECT_EQ(cell(window, kOptThreadCount, 1), "Process Count");
  EXPECT_EQ(cell(window, kOptThreadCount, kValueColumn), "0");
  EXPECT_EQ(cell(window, kOptMemoryMaxSize, 1), "Max Memory (MByte)");
  EXPECT_EQ(cell(window, kOptMemoryMaxSize, kValueColumn), "1500");
  // Keyword options show their label, No / Yes options their word.
  EXPECT_EQ(cell(window, kOptPriority, kValueColumn), "very low");
  EXPECT_EQ(cell(window, kOptFinalAction, kValueColumn), "ask");
  EXPECT_EQ(cell(window, kOptNativeFileOpen, kValueColumn), "Yes");
  EXPECT_EQ(cell(window, kOptExtractStaticVideo, 0), "Extract Video");
  EXPECT_EQ(cell(window, kOptExtractStaticVideo, kValueColumn), "No");
  for (std::size_t i = 0; i < kAdvancedOptionCount; ++i)
    EXPECT_EQ(window.table()->item(static_cast<int>(i), kValueColumn)->toolTip().toStdString(),
              advanced_option_help(i));
  EXPECT_FALSE(window.load_defaults_button()->toolTip().isEmpty());
  EXPECT_FALSE(window.save_defaults_button()->toolTip().isEmpty());
}

TEST(AdvancedSettingsWindow, EditsStoreWordsAndRefuseUnknownKeywords) {
  AdvancedSetup setup;
  ScriptedPrompt prompt;
  AdvancedSettingsWindow window(nullptr, setup.options, setup.config, prompt);
  EXPECT_TRUE(window.edit_value(kOptThreadCount, "4"));
  EXPECT_EQ(window.edited_options().value(kOptThreadCount), "4");
  EXPECT_TRUE(window.edit_value(kOptFinalAction, "open folder"));
  EXPECT_EQ(window.edited_options().value(kOptFinalAction), "openfolder");
  EXPECT_EQ(cell(window, kOptFinalAction, kValueColumn), "open folder");
  EXPECT_TRUE(window.edit_value(kOptPriority, "highest"));
  EXPECT_EQ(window.edited_options().value(kOptPriority), "HIGHEST");
  EXPECT_TRUE(window.edit_value(kOptMosaicFastPreview, "yes"));
  EXPECT_EQ(window.edited_options().value(kOptMosaicFastPreview), "1");
  EXPECT_EQ(cell(window, kOptMosaicFastPreview, kValueColumn), "Yes");

  EXPECT_FALSE(window.edit_value(kOptFinalAction, "sometimes"));
  EXPECT_EQ(window.edited_options().value(kOptFinalAction), "openfolder");
  EXPECT_EQ(cell(window, kOptFinalAction, kValueColumn), "open folder");
  // The caller's options are untouched until OK.
  EXPECT_EQ(setup.options.value(kOptThreadCount), "0");
}

TEST(AdvancedSettingsWindow, ValueCellsEditWithTheOptionsOwnList) {
  AdvancedSetup setup;
  ScriptedPrompt prompt;
  AdvancedSettingsWindow window(nullptr, setup.options, setup.config, prompt);
  window.show();
  QTableWidget* table = window.table();

  const QModelIndex priority = table->model()->index(kOptPriority, kValueColumn);
  table->setCurrentIndex(priority);
  table->edit(priority);
  auto* fixed = qobject_cast<QComboBox*>(table->indexWidget(priority));
  ASSERT_NE(fixed, nullptr);
  EXPECT_FALSE(fixed->isEditable());
  EXPECT_EQ(fixed->count(), 6);
  EXPECT_EQ(fixed->currentText(), "very low");
  fixed->setCurrentIndex(fixed->findText("normal"));
  emit table->itemDelegateForColumn(kValueColumn)->commitData(fixed);
  EXPECT_EQ(window.edited_options().value(kOptPriority), "NORMAL");

  const QModelIndex memory = table->model()->index(kOptMemoryBlockSize, kValueColumn);
  table->setCurrentIndex(memory);
  table->edit(memory);
  auto* offered = qobject_cast<QComboBox*>(table->indexWidget(memory));
  ASSERT_NE(offered, nullptr);
  EXPECT_TRUE(offered->isEditable());  // the offered values, or any other
  offered->setEditText("250");
  emit table->itemDelegateForColumn(kValueColumn)->commitData(offered);
  EXPECT_EQ(window.edited_options().value(kOptMemoryBlockSize), "250");
}

TEST(AdvancedSettingsWindow, SaveAndLoadDefaultValues) {
  AdvancedSetup setup;
  ScriptedPrompt prompt;
  AdvancedSettingsWindow window(nullptr, setup.options, setup.config, prompt);
  EXPECT_TRUE(window.edit_value(kOptThreadCount, "4"));
  window.save_defaults_button()->click();
  EXPECT_TRUE(prompt.calls().empty());
  EXPECT_EQ(setup.config.get("Default Values", "Options.ThreadCount", ""), "4");
  AdvancedOptions fresh;
  fresh.initialise_all(true, setup.config);
  EXPECT_EQ(fresh.value(kOptThreadCount), "4");  // a new record starts with the saved default

  EXPECT_TRUE(window.edit_value(kOptThreadCount, "2"));
  EXPECT_TRUE(window.edit_value(kOptFinalAction, "nothing"));
  window.load_defaults_button()->click();
  EXPECT_EQ(window.edited_options().value(kOptThreadCount), "4");
  EXPECT_EQ(window.edited_options().value(kOptFinalAction), "ask");
  EXPECT_EQ(cell(window, kOptThreadCount, kValueColumn), "4");
}

TEST(AdvancedSettingsWindow, UnwritableDefaultsAreReported) {
  TempDir dir;
  ASSERT_TRUE(write_file(dir / "not a folder", "x"));
  ConfigFile config(dir / "not a folder" / "TessellariumConfig.txt");
  AdvancedOptions options;
  options.initialise_all(true, config);
  ScriptedPrompt prompt;
  AdvancedSettingsWindow window(nullptr, options, config, prompt);
  EXPECT_TRUE(window.edit_value(kOptThreadCount, "4"));
  EXPECT_FALSE(window.save_default_values());
  EXPECT_EQ(prompt.messages(), std::vector<std::string>{"Unable to save file '" + config.path().string() + "'"});
  EXPECT_EQ(window.edited_options().value(kOptThreadCount), "4");  // the edit is not lost
}

TEST(AdvancedSettingsWindow, OkTakesTheEditsAndCancelDropsThem) {
  AdvancedSetup setup;
  ScriptedPrompt prompt;
  QTimer::singleShot(0, [] {
    auto* window = qobject_cast<AdvancedSettingsWindow*>(QApplication::activeModalWidget());
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->edit_value(kOptMemoryMaxSize, "750"));
    window->reject();
  });
  EXPECT_FALSE(run_advanced_settings(nullptr, setup.options, setup.config, prompt));
  EXPECT_EQ(setup.options.value(kOptMemoryMaxSize), "1500");

  QTimer::singleShot(0, [] {
    auto* window = qobject_cast<AdvancedSettingsWindow*>(QApplication::activeModalWidget());
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->edit_value(kOptMemoryMaxSize, "750"));
    window->accept();
  });
  EXPECT_TRUE(run_advanced_settings(nullptr, setup.options, setup.config, prompt));
  EXPECT_EQ(setup.options.value(kOptMemoryMaxSize), "750");
  // Only "Save Default Values" touches the configuration file.
  EXPECT_EQ(setup.config.get("Default Values", "Options.MemoryMaxSizeMB"), std::nullopt);
}

}  // namespace
}  // namespace tess
