#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/scripted_prompt.hpp"
#include "output/output_names.hpp"
#include "settings/mosaic_parameters.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::write_file;

class OutputNaming : public ::testing::Test {
 protected:
  OutputNaming() {
    parameters.subfolder_rule = kSubfolderNone;
    parameters.file_name_rule = kFileNameOverwrite;
    parameters.web_output = false;
    fs::create_directories(dir / "p");
  }

  // The base name of the mosaic of <dir>/p/beach.jpg.
  std::string base_name(const std::string& label = "Mosaic", const std::string& output_file = "") {
    OutputNames names;
    EXPECT_TRUE(make_output_names(image, label, parameters, output_file, names, prompt));
    return names.base_name;
  }

  TempDir dir;
  std::string p = (dir / "p").string();
  std::string image = p + "/beach.jpg";
  MosaicParameters parameters;
  ScriptedPrompt prompt;
};

TEST_F(OutputNaming, SubfolderRules) {
  EXPECT_EQ(base_name(), p + "/beach Mosaic");
  EXPECT_FALSE(fs::exists(p + "/beach Mosaic"));

  parameters.subfolder_rule = kSubfolderOverwrite;
  EXPECT_EQ(base_name(), p + "/beach Mosaic/Mosaic");
  EXPECT_TRUE(fs::is_directory(p + "/beach Mosaic"));
  EXPECT_EQ(base_name(), p + "/beach Mosaic/Mosaic");  // the same folder again

  // A NEW sub-folder skips every name an existing folder begins with.
  parameters.subfolder_rule = kSubfolderNew;
  EXPECT_EQ(base_name(), p + "/beach Mosaic02/Mosaic");
  EXPECT_TRUE(fs::is_directory(p + "/beach Mosaic02"));
  fs::create_directories(p + "/beach Mosaic03 old");
  EXPECT_EQ(base_name(), p + "/beach Mosaic04/Mosaic");
  // Files do not take a folder name.
  ASSERT_TRUE(write_file(p + "/beach Mosaic05.jpg", "x"));
  EXPECT_EQ(base_name(), p + "/beach Mosaic05/Mosaic");
  EXPECT_TRUE(prompt.calls().empty());
}

TEST_F(OutputNaming, NewMosaicsAreNumbered) {
  parameters.file_name_rule = kFileNameNew;
  EXPECT_EQ(base_name(), p + "/beach Mosaic");
  ASSERT_TRUE(write_file(p + "/beach Mosaic.jpg", "x"));
  EXPECT_EQ(base_name(), p + "/beach Mosaic02");
  // Any file whose name begins with the candidate takes it.
  ASSERT_TRUE(write_file(p + "/beach Mosaic02 Text Report.csv", "x"));
  EXPECT_EQ(base_name(), p + "/beach Mosaic03");
  // So does a folder of exactly that name holding a file, not an empty one.
  fs::create_directories(p + "/beach Mosaic03");
  EXPECT_EQ(base_name(), p + "/beach Mosaic03");
  ASSERT_TRUE(write_file(p + "/beach Mosaic03/index.html", "x"));
  EXPECT_EQ(base_name(), p + "/beach Mosaic04");

  // Overwriting keeps the name, unless a RezIroriz is made.
  parameters.file_name_rule = kFileNameOverwrite;
  EXPECT_EQ(base_name(), p + "/beach Mosaic");
  parameters.web_output = true;
  EXPECT_EQ(base_name(), p + "/beach Mosaic04");
}

TEST_F(OutputNaming, DestinationFolderAndLabel) {
  parameters.mosaic_directory = "  " + (dir / "out").string() + "/ ";
  EXPECT_EQ(base_name(), (dir / "out").string() + "/beach Mosaic");
  EXPECT_EQ(base_name("M02 Mosaic"), (dir / "out").string() + "/beach M02 Mosaic");
  EXPECT_EQ(base_name(""), (dir / "out").string() + "/beach Mosaic");
  parameters.subfolder_rule = kSubfolderOverwrite;
  EXPECT_EQ(base_name(), (dir / "out").string() + "/beach Mosaic/Mosaic");
  EXPECT_TRUE(fs::is_directory(dir / "out" / "beach Mosaic"));
}

TEST_F(OutputNaming, CommandLineOutputFileIsTheBaseName) {
  parameters.subfolder_rule = kSubfolderNew;
  parameters.file_name_rule = kFileNameNew;
  ASSERT_TRUE(write_file(dir / "out.jpg", "x"));
  OutputNames names;
  ASSERT_TRUE(make_output_names(image, "Mosaic", parameters, (dir / "out.jpg").string(), names, prompt));
  EXPECT_EQ(names.base_name, (dir / "out").string());
  EXPECT_EQ(names.output_folder, dir.path().string());
  EXPECT_FALSE(fs::exists(p + "/beach Mosaic"));  // no sub-folder that nothing goes into
  ASSERT_TRUE(make_output_names(image, "Mosaic", parameters, "out.jpg", names, prompt));
  EXPECT_EQ(names.base_name, "out");
  EXPECT_EQ(names.output_folder, "");
  ASSERT_TRUE(make_output_names(image, "Mosaic", parameters, "/d.x/mosaic.tiff", names, prompt));
  EXPECT_EQ(names.base_name, "/d.x/mosaic");
  ASSERT_TRUE(make_output_names(image, "Mosaic", parameters, "/d.x/mosaic", names, prompt));
  EXPECT_EQ(names.base_name, "/d.x/mosaic");
}

TEST_F(OutputNaming, SideFilesAndTilesFolder) {
  parameters.individual_tiles = true;
  OutputNames names;
  ASSERT_TRUE(make_output_names(image, "Mosaic", parameters, "", names, prompt));
  const std::string b = p + "/beach Mosaic";
  EXPECT_EQ(names.output_folder, p);
  EXPECT_EQ(names.tiles_folder, b + " Tile Images");
  EXPECT_TRUE(fs::is_directory(names.tiles_folder));
  EXPECT_EQ(names.settings_file(), b + " Settings.txt");
  EXPECT_EQ(names.report_file(), b + " Text Report.csv");
  EXPECT_EQ(names.mask_jpeg_file(), b + " MaskFile.jpg");
  EXPECT_EQ(names.mask_bmp_file(), b + " MaskFile.bmp");
  EXPECT_EQ(names.score_file(), b + " Score.jpg");
  EXPECT_EQ(names.tile_list_file(), b + " Tile List.txt");
  EXPECT_EQ(names.web_folder(), b + " RezIroriz/");

  parameters.individual_tiles = false;
  ASSERT_TRUE(make_output_names("beach.jpg", "Mosaic", parameters, "", names, prompt));
  EXPECT_EQ(names.base_name, "beach Mosaic");
  EXPECT_EQ(names.tiles_folder, "");
}

TEST_F(OutputNaming, AFolderThatCannotBeMadeIsReported) {
  ASSERT_TRUE(write_file(dir / "blocker", "x"));
  parameters.mosaic_directory = (dir / "blocker").string();
  parameters.subfolder_rule = kSubfolderOverwrite;
  OutputNames names;
  EXPECT_FALSE(make_output_names(image, "Mosaic", parameters, "", names, prompt));
  EXPECT_EQ(prompt.messages(),
            std::vector<std::string>{"Unable to save file '" + (dir / "blocker").string() + "/beach Mosaic'"});
}

}  // namespace
}  // namespace tess
