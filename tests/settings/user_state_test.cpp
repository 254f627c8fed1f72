#include "settings/user_state.hpp"

#include <gtest/gtest.h>

#include "support/test_support.hpp"

namespace tess {
namespace {

using testing::TempDir;

TEST(UserState, TextAndIntegersLiveInUserSettings) {
  TempDir dir;
  ConfigFile config(dir / "TessellariumConfig.txt");
  UserState state(config);
  EXPECT_EQ(state.get_text("Locale", "en"), "en");
  EXPECT_EQ(state.get_int("MosaicCount"), 0);
  EXPECT_EQ(state.get_int("MosaicCount", 7), 7);
  ASSERT_TRUE(state.set_int("MosaicCount", 12));
  ASSERT_TRUE(state.set_text("Locale", "de"));
  EXPECT_EQ(state.get_int("mosaiccount"), 12);
  EXPECT_EQ(config.get("UserSettings", "Locale", ""), "de");
  ASSERT_TRUE(state.set_text("ShowToolTips", "yes"));
  EXPECT_EQ(state.get_int("ShowToolTips", 5), 0);  // read as text and converted
  ASSERT_TRUE(state.set_text("CheckVersion", " -3 days"));
  EXPECT_EQ(state.get_int("CheckVersion"), -3);
}

TEST(UserState, FileDialogsReopenWhereTheyWereLeft) {
  TempDir dir;
  UserState state(ConfigFile(dir / "TessellariumConfig.txt"));
  EXPECT_EQ(state.file_dialog_folder("ImageList", "/home/u/Pictures"), "/home/u/Pictures");
  ASSERT_TRUE(state.remember_file_choice("ImageList", "/a/b/list.tzc"));
  EXPECT_EQ(state.file_dialog_folder("ImageList", "/home/u/Pictures"), "/a/b");
  EXPECT_EQ(state.get_text("FileDialog.ImageList.Path"), "/a/b");
  EXPECT_EQ(state.file_dialog_folder("MaskFile", "/x"), "/x");  // each kind remembers its own
  ASSERT_TRUE(state.remember_file_choice("MaskFile", "/m.png"));
  EXPECT_EQ(state.file_dialog_folder("MaskFile"), "/");
}

TEST(UserState, FolderDialogsRememberTheChosenFolder) {
  TempDir dir;
  UserState state(ConfigFile(dir / "TessellariumConfig.txt"));
  ASSERT_TRUE(state.remember_folder_choice("SavePath", "/out/mosaics"));
  EXPECT_EQ(state.folder_dialog_folder("SavePath", "/tmp"), "/out/mosaics");
  EXPECT_EQ(state.get_text("FolderDialog.SavePath.Path"), "/out/mosaics");
  EXPECT_EQ(state.folder_dialog_folder("Include", "/tmp"), "/tmp");
}

}  // namespace
}  // namespace tess
