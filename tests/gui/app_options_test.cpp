// The desktop program's command line, its language and the start menu.

#include <filesystem>
#include <string>
#include <vector>

#include <QPushButton>

#include <gtest/gtest.h>

#include "app/app_options.hpp"
#include "base/paths.hpp"
#include "base/scripted_prompt.hpp"
#include "base/text.hpp"
#include "support/test_support.hpp"
#include "ui/main_window.hpp"

namespace tess {
namespace {

TEST(CommandLineTest, QuotedPathsLettersInAnyCaseAndOutputWithImage) {
  const CommandLine line = parse_command_line(R"(-I "/home/ann/my photos/beach.jpg" -O out.jpg)");
  EXPECT_EQ(line.main_image, "/home/ann/my photos/beach.jpg");
  EXPECT_EQ(line.output, "out.jpg");
  EXPECT_FALSE(line.about);
  EXPECT_FALSE(line.start_menu);

  EXPECT_EQ(parse_command_line("-i beach.jpg").main_image, "beach.jpg");
  EXPECT_EQ(parse_command_line("  -Ibeach.jpg  ").main_image, "beach.jpg");
  // Unknown letters are skipped with their argument.
  const CommandLine skipped = parse_command_line("-X whatever -i a.jpg");
  EXPECT_EQ(skipped.main_image, "a.jpg");
  // -O counts only together with -I.
  EXPECT_EQ(parse_command_line("-O out.jpg").output, "");
  EXPECT_EQ(parse_command_line("-o out.jpg -I a.jpg").output, "out.jpg");
}

TEST(CommandLineTest, AboutAndStartMenuStandAloneOrTakeAnArgument) {
  EXPECT_TRUE(parse_command_line("-A").about);
  EXPECT_TRUE(parse_command_line("-m").start_menu);
  const CommandLine both = parse_command_line("-a -I b.jpg");
  EXPECT_TRUE(both.about);
  EXPECT_EQ(both.main_image, "b.jpg");
  const CommandLine with_argument = parse_command_line("-M 1 -i c.jpg");
  EXPECT_TRUE(with_argument.start_menu);
  EXPECT_EQ(with_argument.main_image, "c.jpg");
  // Text that is no option ends the reading.
  EXPECT_EQ(parse_command_line("photo.jpg -I a.jpg").main_image, "");
  EXPECT_EQ(parse_command_line("").main_image, "");
}

TEST(CommandLineTest, AListFileHandedOverIsFoundBesideTheOptions) {
  struct Case {
    std::vector<const char*> argv;
    const char* list;
  };
  const Case cases[] = {
      {{"/home/ann/My Lists/beach.tzc"}, "/home/ann/My Lists/beach.tzc"},
      {{"-I", "a.jpg", "lists/B.TZC"}, "lists/B.TZC"},
      {{"first.tzc", "second.tzc"}, "second.tzc"},
      {{"-O", "out.tzc", "-I", "a.jpg"}, ""},  // an option's value, not a list
      {{"-A", "x.tzc"}, "x.tzc"},               // -A takes no value here
      {{"photo.jpg", "-Ilist.tzc"}, ""},
      {{}, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(tile_list_argument(static_cast<int>(c.argv.size()), c.argv.data()), c.list)
        << (c.argv.empty() ? "" : c.argv.front());
  }
}

TEST(CommandLineTest, ArgumentsAreJoinedWithQuotesAroundBlanks) {
  const char* argv[] = {"-I", "/tmp/my photo.jpg", "-O", "out.jpg"};
  const std::string text = join_arguments(4, argv);
  EXPECT_EQ(text, R"(-I "/tmp/my photo.jpg" -O out.jpg)");
  const CommandLine line = parse_command_line(text);
  EXPECT_EQ(line.main_image, "/tmp/my photo.jpg");
  EXPECT_EQ(line.output, "out.jpg");
}

TEST(LanguageTest, ChosenLanguageTranslatesAndEmptyKeepsTheEnvironment) {
  testing::ScopedEnv language("LANGUAGE", std::nullopt);
  apply_language("de");
  if (tr("tile, tiles") == "tile, tiles") GTEST_SKIP() << "the German catalogue is not built";
  EXPECT_EQ(tr("Please insert a valid value for the parameter"),
            "Bitte geben Sie einen gültigen Wert für den Parameter ein");
  EXPECT_EQ(trn("tile", "tiles", 1), "Kachel");
  EXPECT_EQ(trn("tile", "tiles", 2), "Kacheln");
  ::unsetenv("LANGUAGE");
  apply_language("");  // binding again also forgets what gettext translated before
  EXPECT_EQ(tr("Please insert a valid value for the parameter"), "Please insert a valid value for the parameter");
}

TEST(LanguageTest, GermanLocaleTheSystemLacksStillGivesGermanTextsAndGuide) {
  if (!std::filesystem::is_regular_file(data_folder() / "locale" / "de" / "LC_MESSAGES" / "tessellarium.mo"))
    GTEST_SKIP() << "the German catalogue is not built";
  {
    testing::ScopedEnv language("LANGUAGE", std::nullopt);
    testing::ScopedEnv all("LC_ALL", std::nullopt);
    testing::ScopedEnv messages("LC_MESSAGES", std::nullopt);
    testing::ScopedEnv lang("LANG", "de_DE.UTF-8");  // generated on German desktops, absent on build machines
    apply_language("");
    EXPECT_EQ(tr("Please insert a valid value for the parameter"),
              "Bitte geben Sie einen gültigen Wert für den Parameter ein");
    EXPECT_EQ(user_guide_file("").filename(), "index-de.html");
  }
  apply_language("");
  EXPECT_EQ(tr("Please insert a valid value for the parameter"), "Please insert a valid value for the parameter");
}

TEST(StartMenuTest, MissingCompanionIsNotOfferedAndReportedByNameIfStarted) {
  EXPECT_NE(companion_program(0).find("TessellariumSquare"), std::string::npos);
  EXPECT_NE(companion_program(3).find("TessellariumCinescope"), std::string::npos);
  EXPECT_EQ(companion_program(4), "");

  ScriptedPrompt prompt;
  StartMenu menu(prompt);
  auto* square = menu.findChild<QPushButton*>("tileType0");
  ASSERT_NE(square, nullptr);
  EXPECT_EQ(square->text().toStdString(), "Square Tiles (1:1)");
  // None of the companions lies beside the test program: no button leads to a failure.
  for (int i = 0; i < 4; ++i) {
    auto* button = menu.findChild<QPushButton*>(QStringLiteral("tileType%1").arg(i));
    ASSERT_NE(button, nullptr);
    EXPECT_FALSE(button->isEnabled()) << i;
    EXPECT_TRUE(button->toolTip().contains(QString::fromStdString(companion_program(i)))) << i;
  }
  square->click();
  EXPECT_TRUE(prompt.messages().empty());
  // One that vanished after the menu opened is still reported by name.
  menu.start_companion(0);
  ASSERT_EQ(prompt.messages().size(), 1u);
  EXPECT_EQ(prompt.messages().front(),
            format("Unable to run '%s'. Please reinstall Tessellarium!", companion_program(0)));
  EXPECT_TRUE(menu.isEnabled());
}

}  // namespace
}  // namespace tess
