#include "base/paths.hpp"

#include <map>

#include <gtest/gtest.h>

#include "support/test_support.hpp"

namespace tess {
namespace {

using testing::TempDir;
namespace fs = std::filesystem;

EnvLookup fake_env(std::map<std::string, std::string> vars) {
  return [vars](const char* name) -> std::optional<std::string> {
    auto it = vars.find(name);
    if (it == vars.end()) return std::nullopt;
    return it->second;
  };
}

TEST(SettingsFolder, ConfigPathVariableWinsOverXdg) {
  TempDir data, conf;
  std::string p = (conf.path() / "cfg").string();
  fs::path folder = resolve_settings_folder(data.path(), fake_env({{"TESSELLARIUM_CONFIG_PATH", p},
                                                                   {"XDG_CONFIG_HOME", conf.path().string()}}));
  EXPECT_EQ(folder, fs::path(p + "/Tessellarium Standard/"));
  EXPECT_TRUE(fs::is_directory(folder));
}

TEST(SettingsFolder, ShortConfigPathIsIgnored) {
  TempDir data, xdg;
  fs::path folder = resolve_settings_folder(
      data.path(), fake_env({{"TESSELLARIUM_CONFIG_PATH", "/tmp/"}, {"XDG_CONFIG_HOME", xdg.path().string()}}));
  EXPECT_EQ(folder, xdg.path() / "Tessellarium/Tessellarium Standard/");
}

TEST(SettingsFolder, HomeConfigThenProgramFolder) {
  TempDir data, home;
  EXPECT_EQ(resolve_settings_folder(data.path(), fake_env({{"HOME", home.path().string()}})),
            home.path() / ".config/Tessellarium/Tessellarium Standard/");
  EXPECT_EQ(resolve_settings_folder(data.path(), fake_env({})),
            data.path() / "Settings/Tessellarium Standard/");
}

TEST(SettingsFolder, PortablePackageKeepsSettingsBesideTheProgram) {
  TempDir data, conf;
  ASSERT_TRUE(testing::write_file(data / "package.txt", "[package]\r\npackage = windowsportable\r\n"));
  fs::path folder = resolve_settings_folder(
      data.path(), fake_env({{"TESSELLARIUM_CONFIG_PATH", (conf.path() / "cfg").string()}}));
  EXPECT_EQ(folder, data.path() / "Settings/Tessellarium Standard/");
  EXPECT_TRUE(fs::is_directory(folder));
}

TEST(SettingsFolder, ProcessFolderFollowsEnvironmentAndIsCached) {
  TempDir conf;
  testing::ScopedEnv env("TESSELLARIUM_CONFIG_PATH", conf.path().string());
  reset_settings_folder();
  EXPECT_EQ(config_file_path(), conf.path() / "Tessellarium Standard/TessellariumConfig.txt");
  reset_settings_folder();
}

}  // namespace
}  // namespace tess
