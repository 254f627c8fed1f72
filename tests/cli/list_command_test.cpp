// `tessellarium list`, run as a separate process the way a user runs it, on
// picture trees the tests write themselves.

#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "base/scripted_prompt.hpp"
#include "images/image_files.hpp"
#include "cli_runner.hpp"
#include "support/test_support.hpp"
#include "tilelist/list_file.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

using Outcome = testing::CliOutcome;
using testing::shell_quoted;

/// Runs the program with `args` (already quoted), the settings folder in `config`.
Outcome run(const TempDir& config, const std::string& args) { return testing::run_program(config.path(), args); }

struct Expected {
  std::uint32_t mean = 0;
  bool portrait = false;
  bool opaque = true;
};

std::uint8_t red(std::uint32_t c) { return static_cast<std::uint8_t>(pixel_red(c)); }
std::uint8_t green(std::uint32_t c) { return static_cast<std::uint8_t>(pixel_green(c)); }
std::uint8_t blue(std::uint32_t c) { return static_cast<std::uint8_t>(pixel_blue(c)); }

/// A solid JPEG.
bool solid_jpeg(const fs::path& path, int w, int h, std::uint32_t colour) {
  return testing::write_jpeg(path, testing::JpegSpec(w, h), [&](int, std::uint8_t* s) {
    for (int x = 0; x < w; ++x) {
      s[3 * x] = red(colour);
      s[3 * x + 1] = green(colour);
      s[3 * x + 2] = blue(colour);
    }
  });
}

/// A PNG whose left half is `left` and right half `right`: its mean is halfway.
bool split_png(const fs::path& path, int w, int h, std::uint32_t left, std::uint32_t right) {
  std::vector<std::vector<std::uint8_t>> rows(static_cast<std::size_t>(h));
  for (auto& row : rows)
    for (int x = 0; x < w; ++x) {
      const std::uint32_t c = x < w / 2 ? left : right;
      row.insert(row.end(), {red(c), green(c), blue(c)});
    }
  return testing::write_png(path, testing::PngSpec(w, h), rows);
}

/// One colour with an alpha that changes by row: transparency must not shift the mean.
bool translucent_png(const fs::path& path, int w, int h, std::uint32_t colour) {
  std::vector<std::vector<std::uint8_t>> rows(static_cast<std::size_t>(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      rows[static_cast<std::size_t>(y)].insert(rows[static_cast<std::size_t>(y)].end(),
                                               {red(colour), green(colour), blue(colour),
                                                static_cast<std::uint8_t>(y % 2 == 0 ? 255 : 96)});
  return testing::write_png(path, testing::PngSpec(w, h, 6), rows);
}

std::uint32_t mean(std::uint32_t a, std::uint32_t b) {
  return make_pixel((pixel_red(a) + pixel_red(b)) / 2, (pixel_green(a) + pixel_green(b)) / 2,
                    (pixel_blue(a) + pixel_blue(b)) / 2);
}

/// 2,000 pictures under pics/: 1,897 usable in the folder and four
/// sub-folders (solid JPEGs, half-and-half PNGs, translucent PNGs, landscape
/// and portrait), 100 under an excluded folder and three corrupt files.
struct BigTree {
  TempDir dir;
  fs::path pics = dir / "pics";
  std::map<std::string, Expected> usable;
  std::set<std::string> corrupt;

  BigTree() {
    const std::vector<fs::path> folders = {pics, pics / "a", pics / "b", pics / "b/deeper", pics / "c d"};
    for (const auto& f : folders) fs::create_directories(f);
    fs::create_directories(pics / "excluded/deep");
    for (int i = 0; i < 1897; ++i) {
      const std::uint32_t colour =
          make_pixel((37u * i) % 256u, (91u * i + 20) % 256u, (53u * i + 100) % 256u);
      const bool portrait = (i / 4) % 2 == 1;
      const int w = portrait ? 18 : 24;
      const int h = portrait ? 24 : 18;
      const fs::path folder = folders[static_cast<std::size_t>(i % 5)];
      Expected e;
      e.portrait = portrait;
      fs::path path;
      bool written = false;
      switch (i % 4) {
        case 0:
          path = folder / ("t" + std::to_string(i) + ".png");
          written = translucent_png(path, w, h, colour);
          e.mean = colour;
          e.opaque = false;
          break;
        case 1: {
          const std::uint32_t other = make_pixel(255 - pixel_red(colour), pixel_blue(colour), pixel_green(colour));
          path = folder / ("s" + std::to_string(i) + ".PNG");
          written = split_png(path, w, h, colour, other);
          e.mean = mean(colour, other);
          break;
        }
        default:
          path = folder / ("j" + std::to_string(i) + (i % 3 == 0 ? ".jpeg" : ".jpg"));
          written = solid_jpeg(path, w, h, colour);
          e.mean = colour;
      }
      EXPECT_TRUE(written) << path;
      usable[path.string()] = e;
    }
    for (int i = 0; i < 100; ++i)
      EXPECT_TRUE(solid_jpeg(pics / (i % 2 ? "excluded" : "excluded/deep") / ("x" + std::to_string(i) + ".jpg"), 24,
                             18, make_pixel(1, 2, 3)));
    // Three corrupt files: not a picture, a PNG cut short, a JPEG cut short.
    const fs::path garbage = pics / "garbage.jpg";
    EXPECT_TRUE(testing::write_random_bytes(garbage, 500, 7));
    const fs::path short_png = pics / "a/short.png";
    EXPECT_TRUE(split_png(short_png, 64, 48, 0, 0xFFFFFF));
    EXPECT_TRUE(testing::truncate_file(short_png, 60));
    const fs::path short_jpeg = pics / "c d/short.jpg";
    EXPECT_TRUE(solid_jpeg(short_jpeg, 64, 48, make_pixel(9, 9, 9)));
    EXPECT_TRUE(testing::truncate_file(short_jpeg, fs::file_size(short_jpeg) / 2));
    corrupt = {garbage.string(), short_png.string(), short_jpeg.string()};
  }
};

TEST(ListCommand, CreateAnalysesATreeOfTwoThousandPictures) {
  BigTree tree;
  const std::string list_file = (tree.dir / "tiles.tzc").string();
  const Outcome r = run(tree.dir, "list create " + shell_quoted(list_file) + " --include " + shell_quoted(tree.pics.string()) +
                                  " --exclude " + shell_quoted((tree.pics / "excluded").string()) + " --threads 2");
  ASSERT_EQ(r.status, 0) << r.err;

  // On a pipe: one line per status change, the final progress, the message.
  const std::string error_file = list_file + ".imageErrors.txt";
  EXPECT_NE(r.err.find("Analyzing...\nBuilding Images List...\nBuilding Images List... Completed\nSaving...\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("Tile# 1900, Analysis Completed 100.00%, Elapsed Time: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("warning: the list of 1897 images/videos is saved as '" + list_file +
                       "'. Unable to load and use 3 Images. Please see file " +
                       error_file + " for more information. Left out: 3 damaged.\n"),
            std::string::npos)
      << r.err;

  // The error file names exactly the corrupt pictures.
  const std::string errors = read_file(error_file);
  ASSERT_EQ(errors.substr(0, 3), "\xEF\xBB\xBF");
  std::set<std::string> listed;
  for (std::size_t at = 3; at < errors.size();) {
    const std::size_t end = errors.find("\r\n", at);
    ASSERT_NE(end, std::string::npos);
    listed.insert(errors.substr(at, end - at));
    at = end + 2;
  }
  EXPECT_EQ(listed, tree.corrupt);

  // The list holds exactly the usable pictures, each summarised by its mean colour.
  TileImageList list;
  ScriptedPrompt prompt;
  ASSERT_TRUE(load_list_file(list, list_file).ok_or_show(prompt));
  ASSERT_EQ(list.entry_count(), tree.usable.size());
  long portraits = 0;
  for (const auto& [path, entry] : list.entries()) {
    const auto expected = tree.usable.find(entry.path);
    ASSERT_NE(expected, tree.usable.end()) << path;
    const std::uint32_t overall = entry.signature.overall();
    const std::uint32_t want = expected->second.mean;
    EXPECT_NEAR(static_cast<int>(pixel_red(overall)), static_cast<int>(pixel_red(want)), 3) << path;
    EXPECT_NEAR(static_cast<int>(pixel_green(overall)), static_cast<int>(pixel_green(want)), 3) << path;
    EXPECT_NEAR(static_cast<int>(pixel_blue(overall)), static_cast<int>(pixel_blue(want)), 3) << path;
    EXPECT_EQ(entry.is_portrait(), expected->second.portrait) << path;
    EXPECT_EQ(entry.signature.opaque != 0, expected->second.opaque) << path;
    EXPECT_EQ(entry.required, 0) << path;
    portraits += expected->second.portrait ? 1 : 0;
  }
  EXPECT_EQ(list.portrait_images(), portraits);
  EXPECT_EQ(list.landscape_images(), static_cast<long>(tree.usable.size()) - portraits);
}

/// Three pictures in pics/, one of them required through a single-file item.
struct SmallTree {
  TempDir dir;
  fs::path pics = dir / "pics";
  std::string list_file = (dir / "small.tzc").string();

  SmallTree() {
    fs::create_directories(pics);
    EXPECT_TRUE(solid_jpeg(pics / "a.jpg", 40, 30, make_pixel(10, 20, 30)));
    EXPECT_TRUE(solid_jpeg(pics / "b.jpg", 30, 40, make_pixel(10, 20, 30)));
    EXPECT_TRUE(split_png(pics / "c.png", 40, 30, 0, 0xFFFFFF));
  }
};

TEST(ListCommand, ShowPrintsTheListAndUpdateFollowsTheFolders) {
  SmallTree tree;
  ASSERT_EQ(run(tree.dir, "list create " + shell_quoted(tree.list_file) + " --include " + shell_quoted(tree.pics.string()) +
                              " --required " + shell_quoted((tree.pics / "b.jpg").string()) + " --bw --threads 1")
                .status,
            0);
  Outcome show = run(tree.dir, "list show " + shell_quoted(tree.list_file) + " --entries");
  ASSERT_EQ(show.status, 0) << show.err;
  const std::string p = tree.pics.string();
  EXPECT_EQ(show.out, "Version: 119\nBlack and white: yes\nInclude: " + p + "/\nRequired: " + p +
                          "/b.jpg\nLandscape images: 2\nPortrait images: 1\nLandscape videoclips: 0\nPortrait "
                          "videoclips: 0\nEntries: 3\n" +
                          p + "/a.jpg\t" + std::to_string(fs::file_size(tree.pics / "a.jpg")) +
                          "\tlandscape\t-\t0\n" + p + "/b.jpg\t" + std::to_string(fs::file_size(tree.pics / "b.jpg")) +
                          "\tportrait\trequired\t0\n" + p + "/c.png\t" +
                          std::to_string(fs::file_size(tree.pics / "c.png")) + "\tlandscape\t-\t0\n");

  // A new picture is added, a removed one leaves, and nothing fails.
  fs::remove(tree.pics / "a.jpg");
  fs::create_directories(tree.pics / "FRAMES001");
  ASSERT_TRUE(solid_jpeg(tree.pics / "FRAMES001/d.jpg", 40, 30, make_pixel(1, 1, 1)));
  const Outcome update = run(tree.dir, "list update " + shell_quoted(tree.list_file) + " --threads 2");
  ASSERT_EQ(update.status, 0) << update.err;
  EXPECT_NE(update.err.find("info: the list of 3 images/videos is saved as '" + tree.list_file + "'\n"),
            std::string::npos)
      << update.err;
  show = run(tree.dir, "list show " + shell_quoted(tree.list_file) + " --entries");
  EXPECT_NE(show.out.find("Black and white: yes\n"), std::string::npos);
  EXPECT_EQ(show.out.find("/a.jpg\t"), std::string::npos) << show.out;
  EXPECT_NE(show.out.find(p + "/FRAMES001/d.jpg\t"), std::string::npos) << show.out;
  EXPECT_NE(show.out.find("\tlandscape\t-\t1\n"), std::string::npos) << show.out;  // a numbered frame
}

TEST(ListCommand, CreateAppendsTheExtensionAndReportsWhatItCannotDo) {
  SmallTree tree;
  EXPECT_EQ(run(tree.dir, "list create " + shell_quoted((tree.dir / "named").string()) + " --include " +
                              shell_quoted(tree.pics.string()))
                .status,
            0);
  EXPECT_TRUE(fs::exists(tree.dir / "named.tzc"));
  EXPECT_FALSE(fs::exists(tree.dir / "named.tzc.imageErrors.txt"));

  // Bad usage and bad input: exit status 2 with one line saying why.
  EXPECT_EQ(run(tree.dir, "list create " + shell_quoted(tree.list_file)).status, 2);
  const Outcome missing =
      run(tree.dir, "list create " + shell_quoted(tree.list_file) + " --include " + shell_quoted((tree.dir / "nope").string()));
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("error: no such file or folder"), std::string::npos) << missing.err;
  EXPECT_EQ(run(tree.dir, "list create " + shell_quoted(tree.list_file) + " --include " + shell_quoted(tree.pics.string()) +
                              " --threads 0")
                .status,
            2);
  EXPECT_EQ(run(tree.dir, "list").status, 2);
  EXPECT_EQ(run(tree.dir, "list show " + shell_quoted((tree.dir / "absent.tzc").string())).status, 2);

  // A list of another version is refused with its reason.
  std::string newer = read_file(tree.dir / "named.tzc");
  newer[0] = 120;
  ASSERT_TRUE(write_file(tree.dir / "newer.tzc", newer));
  const Outcome refused = run(tree.dir, "list show " + shell_quoted((tree.dir / "newer.tzc").string()));
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("This file was created using a different version of Tessellarium"), std::string::npos);
  EXPECT_EQ(run(tree.dir, "list update " + shell_quoted((tree.dir / "newer.tzc").string())).status, 2);

  // Jobs that fail: nothing usable, or a list file that cannot be written.
  fs::create_directories(tree.dir / "junk");
  ASSERT_TRUE(write_file(tree.dir / "junk/x.jpg", "junk"));
  const Outcome nothing = run(tree.dir, "list create " + shell_quoted((tree.dir / "j.tzc").string()) + " --include " +
                                        shell_quoted((tree.dir / "junk").string()));
  EXPECT_EQ(nothing.status, 1);
  EXPECT_NE(nothing.err.find("Please add folders containing JPG/PNG Images!"), std::string::npos);
  const Outcome unwritable = run(tree.dir, "list create " + shell_quoted((tree.dir / "no/such/folder/l.tzc").string()) +
                                           " --include " + shell_quoted(tree.pics.string()));
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_NE(unwritable.err.find("Unable to save file '"), std::string::npos) << unwritable.err;
}

TEST(ListCommand, ABrokenPictureWithALineBreakInItsNameStaysOneLineOfTheErrorFile) {
  TempDir dir;
  const fs::path pics = dir.path() / "pics";
  fs::create_directories(pics);
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(solid_jpeg(pics / ("t" + std::to_string(i) + ".jpg"), 32, 24, make_pixel(40 * i, 90, 200)));
  ASSERT_TRUE(write_file(pics / "two\nlines.jpg", "not a picture"));
  ASSERT_TRUE(write_file(pics / "zz.jpg", "not a picture either"));
  const std::string list_file = (dir.path() / "tiles.tzc").string();
  const Outcome r = run(dir, "list create " + shell_quoted(list_file) + " --include " + shell_quoted(pics.string()));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string errors = read_file(list_file + ".imageErrors.txt");
  EXPECT_EQ(errors, "\xEF\xBB\xBF" + (pics / "two?lines.jpg").string() + "\r\n" + (pics / "zz.jpg").string() + "\r\n");
}

}  // namespace
}  // namespace tess

namespace tess {
namespace {

/// 40 pictures in two folders, a required folder, an excluded picture and
/// two that cannot be analysed.
struct ShardTree {
  TempDir dir;
  fs::path pics = dir / "pics";
  std::string sources;

  ShardTree() {
    fs::create_directories(pics / "sub");
    fs::create_directories(pics / "must");
    for (int i = 0; i < 40; ++i) {
      const fs::path folder = i % 3 == 0 ? pics / "sub" : i % 7 == 0 ? pics / "must" : pics;
      EXPECT_TRUE(solid_jpeg(folder / ("p" + std::to_string(i) + ".jpg"), i % 2 ? 24 : 18, i % 2 ? 18 : 24,
                             make_pixel(6 * i, 255 - 5 * i, (11 * i) % 256)));
    }
    EXPECT_TRUE(write_file(pics / "broken.jpg", "not a picture"));
    EXPECT_TRUE(write_file(pics / "sub/broken.png", "not a picture either"));
    sources = " --include " + shell_quoted(pics.string()) + " --required " + shell_quoted((pics / "must").string()) +
              " --exclude " + shell_quoted((pics / "p1.jpg").string());
  }

  std::string part(int k, int n) const { return (dir / ("part" + std::to_string(k) + "of" + std::to_string(n) + ".tzc")).string(); }

  Outcome create_share(int k, int n, const std::string& extra = {}) const {
    return run(dir, "list create " + shell_quoted(part(k, n)) + sources + extra + " --shard " +
                        std::to_string(k) + "/" + std::to_string(n));
  }
};

TEST(ListShards, JoinedSharesEqualTheListOneMachineMakes) {
  const ShardTree tree;
  const std::string whole = (tree.dir / "whole.tzc").string();
  ASSERT_EQ(run(tree.dir, "list create " + shell_quoted(whole) + tree.sources).status, 0);
  const std::string list = read_file(whole), errors = read_file(whole + ".imageErrors.txt");
  ASSERT_FALSE(errors.empty());
  // 50 shares of 40 pictures leave some empty: they are written and joined all the same.
  for (const int n : {1, 3, 4, 7, 50}) {
    SCOPED_TRACE(n);
    std::string parts;
    for (int k = 1; k <= n; ++k) {
      const Outcome made = tree.create_share(k, n);
      ASSERT_EQ(made.status, 0) << made.err;
      parts += " " + shell_quoted(tree.part(k, n));
    }
    // A share is an ordinary list to every other reader.
    EXPECT_EQ(run(tree.dir, "list show " + shell_quoted(tree.part(1, n))).status, 0);
    fs::remove(whole);
    fs::remove(whole + ".imageErrors.txt");
    const Outcome merged = run(tree.dir, "list merge " + shell_quoted(whole) + parts);
    ASSERT_EQ(merged.status, 0) << merged.err;
    EXPECT_TRUE(read_file(whole) == list) << "the joined list differs from the list of one machine";
    EXPECT_EQ(read_file(whole + ".imageErrors.txt"), errors);
  }
}

TEST(ListShards, SharesThatDoNotMakeOneListAreRefused) {
  const ShardTree tree;
  for (int k = 1; k <= 3; ++k) ASSERT_EQ(tree.create_share(k, 3).status, 0);
  ASSERT_EQ(tree.create_share(2, 4).status, 0);
  const auto q = [&](int k, int n) { return " " + shell_quoted(tree.part(k, n)); };
  const std::string p1 = q(1, 3), p2 = q(2, 3), p3 = q(3, 3);
  const std::string other = (tree.dir / "other.tzc").string(), bw = (tree.dir / "bw.tzc").string();
  const std::string changed = (tree.dir / "changed.tzc").string(), whole = (tree.dir / "whole.tzc").string();
  ASSERT_EQ(run(tree.dir, "list create " + shell_quoted(other) + tree.sources + " --include " +
                              shell_quoted((tree.dir / "pics/sub/p3.jpg").string()) + " --shard 3/3").status, 0);
  ASSERT_EQ(run(tree.dir, "list create " + shell_quoted(bw) + tree.sources + " --bw --shard 3/3").status, 0);
  ASSERT_EQ(run(tree.dir, "list create " + shell_quoted(whole) + tree.sources).status, 0);
  ASSERT_TRUE(solid_jpeg(tree.pics / "late.jpg", 24, 18, make_pixel(1, 2, 3)));
  ASSERT_EQ(run(tree.dir, "list create " + shell_quoted(changed) + tree.sources + " --shard 3/3").status, 0);
  ASSERT_TRUE(write_file(tree.dir / "garbage.tzc", "xy"));

  const struct {
    std::string parts;
    std::string problem;
  } cases[] = {
      {p1 + p3, "share 2/3 is missing"},
      {p1 + p2 + p2 + p3, "share 2/3 is given twice"},
      {p1 + q(2, 4) + p3, "split the pictures differently"},
      {p1 + p2 + " " + shell_quoted(whole), "is a whole list"},
      {p1 + p2 + " " + shell_quoted(other), "different folder sets"},
      {p1 + p2 + " " + shell_quoted(bw), "differ in black and white"},
      {p1 + p2 + " " + shell_quoted(changed), "different scans of the folders"},
      {p1 + p2 + " " + shell_quoted((tree.dir / "garbage.tzc").string()), "cannot be read as a Tile Images List"},
  };
  const std::string target = (tree.dir / "joined.tzc").string();
  for (const auto& c : cases) {
    const Outcome r = run(tree.dir, "list merge " + shell_quoted(target) + c.parts);
    EXPECT_EQ(r.status, 2) << c.problem;
    EXPECT_NE(r.err.find(c.problem), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(target)) << c.problem;
  }
  const Outcome bad = run(tree.dir, "list create " + shell_quoted(target) + tree.sources + " --shard 4/3");
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("--shard takes K/N"), std::string::npos) << bad.err;
}

}  // namespace
}  // namespace tess
