// `tessellarium mosaic IMAGE --tiles DIR/`: a mosaic straight from folders of
// pictures, through a list the program keeps in its cache folder.

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli_runner.hpp"
#include "images/image_files.hpp"
#include "support/test_support.hpp"
#include "tilelist/list_file.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::shell_quoted;
using testing::TempDir;

constexpr int kPictures = 40;

class TilesOption : public ::testing::Test {
 protected:
  void SetUp() override {
    // Generated photographs: the same scene in many tints and two shapes.
    fs::create_directories(m_dir / "photos");
    for (int i = 0; i < kPictures; ++i) {
      const int w = i % 3 == 0 ? 48 : 64;
      const int h = i % 3 == 0 ? 64 : 48;
      ASSERT_TRUE(testing::write_jpeg(m_dir / "photos" / ("p" + std::to_string(i) + ".jpg"), testing::JpegSpec(w, h),
                                      [&](int y, std::uint8_t* rgb) {
                                        testing::photo_like_row(w, y + i * 7, rgb);
                                        for (int x = 0; x < w; ++x) {
                                          rgb[3 * x] = static_cast<std::uint8_t>((rgb[3 * x] + 53 * i) % 256);
                                          rgb[3 * x + 2] = static_cast<std::uint8_t>((rgb[3 * x + 2] + 91 * i) % 256);
                                        }
                                      }));
    }
    ASSERT_TRUE(testing::write_jpeg(m_dir / "main.jpg", testing::JpegSpec(400, 300),
                                    [](int y, std::uint8_t* rgb) { testing::photo_like_row(400, y, rgb); }));
  }

  std::string quoted(const std::string& name) const { return shell_quoted((m_dir / name).string()); }
  /// Runs the program with its cache folder inside the test's folder.
  testing::CliOutcome run(const std::string& args) const {
    return testing::run_program(m_dir.path(), args, {}, "XDG_CACHE_HOME=" + quoted("cache"));
  }
  std::string mosaic_args(const std::string& output) const {
    return "mosaic " + quoted("main.jpg") +
           " --set MosaicSizeUnit=pixel --set MosaicSizeWidth=480 --set MosaicSizeHeight=360 --set TileSize=16"
           " --set FileFormat=bmp --set DuplicateSpacing=1 --yes --output " +
           quoted(output);
  }
  /// The lists in the cache folder.
  std::vector<fs::path> cached_lists() const {
    std::vector<fs::path> lists;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(m_dir / "cache/Tessellarium/Tile Lists", error))
      if (entry.path().extension() == ".tzc") lists.push_back(entry.path());
    return lists;
  }

  TempDir m_dir;
};

TEST_F(TilesOption, MakesTheMosaicOfAListOfTheFolderAndASecondRunDecodesNothing) {
  // Two commands: a list of the folder, then the mosaic from it.
  auto r = run("list create " + quoted("photos.tzc") + " --include " + quoted("photos/"));
  ASSERT_EQ(r.status, 0) << r.err;
  r = run(mosaic_args("listed.bmp") + " --list " + quoted("photos.tzc") + " --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string listed = testing::read_file(m_dir / "listed.bmp");
  ASSERT_FALSE(listed.empty());

  // One command, twice: the same mosaic each time.
  r = run(mosaic_args("first.bmp") + " --tiles " + quoted("photos/"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Tile# " + std::to_string(kPictures) + ", Analysis Completed 100.00%"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("info: Colour difference to the main image (CIEDE2000): before the colour change mean "),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(testing::read_file(m_dir / "first.bmp") == listed) << "--tiles made another mosaic than --list";
  const std::vector<fs::path> lists = cached_lists();
  ASSERT_EQ(lists.size(), 1u);
  const std::string cached = testing::read_file(lists.front());

  r = run(mosaic_args("second.bmp") + " --tiles " + quoted("photos") + " --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(testing::read_file(m_dir / "second.bmp") == listed);
  EXPECT_EQ(cached_lists().size(), 1u) << "one folder, however it is written, has one list";

  // Every other picture spoiled with its size and time kept: only a decode
  // would notice. The list comes out of the next run as it went in, so the
  // run decoded none of them for its list (drawing the mosaic then fails to
  // load them, which is not the list's business).
  for (int i = 0; i < kPictures; i += 2) {
    const fs::path picture = m_dir / "photos" / ("p" + std::to_string(i) + ".jpg");
    const auto time = fs::last_write_time(picture);
    ASSERT_TRUE(testing::write_file(picture, std::string(fs::file_size(picture), 'x')));
    fs::last_write_time(picture, time);
  }
  r = run(mosaic_args("third.bmp") + " --tiles " + quoted("photos/"));
  EXPECT_NE(r.err.find("info: the list of " + std::to_string(kPictures) + " images/videos is saved as"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(testing::read_file(lists.front()) == cached) << "the list was analysed again";
  EXPECT_FALSE(fs::exists(lists.front().string() + ".imageErrors.txt"));
}

TEST_F(TilesOption, RefusesWhatItCannotHonour) {
  const struct {
    std::string args;
    std::string message;
  } cases[] = {
      {" --tiles " + quoted("photos/") + " --list " + quoted("photos.tzc"), "--tiles and --list exclude each other"},
      {" --tiles " + quoted("nowhere/"), "no such folder '" + (m_dir / "nowhere/").string() + "'"},
      {" --tiles " + quoted("main.jpg"), "--tiles takes a folder of pictures"},
      {" --bw", "--bw analyses the pictures of --tiles"},
  };
  for (const auto& c : cases) {
    const auto r = run(mosaic_args("refused.bmp") + c.args);
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_NE(r.err.find("error: " + c.message), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(m_dir / "refused.bmp"));
  EXPECT_TRUE(cached_lists().empty()) << "nothing was analysed";

  // A folder of nothing usable fails the job.
  fs::create_directories(m_dir / "empty");
  const auto r = run(mosaic_args("refused.bmp") + " --tiles " + quoted("empty"));
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_FALSE(fs::exists(m_dir / "refused.bmp"));
}

TEST_F(TilesOption, RunsAtOnceShareOneWholeListAndTheColourModeHasItsOwn) {
  // Three runs start together on a folder nobody has analysed yet.
  std::string script;
  for (int i = 0; i < 3; ++i)
    script += "XDG_CACHE_HOME=" + quoted("cache") + " TESSELLARIUM_CONFIG_PATH=" + shell_quoted(m_dir.path().string()) +
              " '" TESS_CLI_EXE "' " + mosaic_args("at" + std::to_string(i) + ".bmp") + " --tiles " +
              quoted("photos/") + " --quiet >/dev/null 2>&1 & pid" + std::to_string(i) + "=$!; ";
  script += "s=0; for p in $pid0 $pid1 $pid2; do wait $p || s=1; done; echo $s";
  EXPECT_EQ(testing::command_output("sh -c " + shell_quoted(script)), "0\n");
  const std::string first = testing::read_file(m_dir / "at0.bmp");
  ASSERT_FALSE(first.empty());
  EXPECT_TRUE(testing::read_file(m_dir / "at1.bmp") == first);
  EXPECT_TRUE(testing::read_file(m_dir / "at2.bmp") == first);
  ASSERT_EQ(cached_lists().size(), 1u);
  TileImageList list;
  ASSERT_TRUE(load_list_file(list, cached_lists().front()));
  EXPECT_EQ(list.entry_count(), static_cast<std::size_t>(kPictures));

  // Black and white signatures are another analysis: another list.
  const auto r = run(mosaic_args("grey.bmp") + " --tiles " + quoted("photos/") + " --bw --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(cached_lists().size(), 2u);
}

}  // namespace
}  // namespace tess
