// The text report of a real run, read back with Python's csv module (an
// independent reader) and checked against the placement the run saved in its
// tile list file.

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "cli_runner.hpp"
#include "images/foto.hpp"
#include "images/image_files.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::shell_quoted;
using testing::TempDir;

// Reads the report and the tile list file; prints "tiles=N with=N", the size
// and the algorithm, then one line per disagreement found.
constexpr const char* kCheckScript = R"PY(
import csv, sys
report, tile_list = sys.argv[1], sys.argv[2]
with open(report, 'rb') as f:
    raw = f.read()
problems = []
if not raw.startswith(b'\xef\xbb\xbf'):
    problems.append('no byte-order mark')
if raw.replace(b'\r\n', b'').find(b'\n') >= 0:
    problems.append('a line ends without CR')
rows = list(csv.reader(open(report, newline='', encoding='utf-8-sig')))
first_gap = rows.index([])
summary = {r[0]: r[1:] for r in rows[:first_gap]}
header = rows[first_gap + 1]
second_gap = rows.index([], first_gap + 2)
tiles = rows[first_gap + 2:second_gap]
if rows[second_gap + 1] != ['Image#', 'Image', 'Used Count']:
    problems.append('picture list header %r' % rows[second_gap + 1])
pictures = rows[second_gap + 2:]
if len(header) != 13 or any(len(t) != 13 for t in tiles):
    problems.append('tile lines without 13 columns')

with_picture = [t for t in tiles if t[5] != '-']
if int(summary['Tiles with a image:'][0]) != len(with_picture):
    problems.append('tiles with a picture')
if int(summary['Tiles without a image:'][0]) != len(tiles) - len(with_picture):
    problems.append('tiles without a picture')
if int(summary['Unique number of images used as tiles:'][0]) != len(pictures):
    problems.append('unique pictures')
if sum(int(p[2]) for p in pictures) != len(with_picture):
    problems.append('used counts do not add up to the tiles')
listed = {int(p[0]): (p[1], int(p[2])) for p in pictures}
for t in tiles:
    number = int(t[12])
    if t[5] == '-':
        if (t[6], t[7], t[10], number) != ('0', '0.00%', '0', 0):
            problems.append('empty tile %r' % t)
        continue
    uses = sum(1 for u in tiles if u[12] == t[12])
    if listed.get(number) != (t[5], uses) or int(t[10]) != uses:
        problems.append('tile %r against the picture list' % t)
    quality = float(t[7].rstrip('%'))
    if not 0 <= quality <= 100 or int(t[6]) < 1:
        problems.append('tile %r quality or sequence' % t)
if [int(t[11]) for t in tiles] != list(range(1, len(tiles) + 1)):
    problems.append('tile numbers')

extent_w = max(int(t[0]) + int(t[2]) for t in tiles)
extent_h = max(int(t[1]) + int(t[3]) for t in tiles)
if summary['Mosaic Size (Width x Height in Pixels):'] != [str(extent_w), 'x', str(extent_h)]:
    problems.append('mosaic size line')

placed = {}
for line in open(tile_list, encoding='utf-8-sig'):
    line = line.rstrip('\r\n')
    if line.startswith('Tile') and '=' in line:
        key, value = line.split('=', 1)
        placed[key.strip()] = value.strip()
keys = {'Tile%sx%s-%sx%s' % tuple(t[0:4]): ('' if t[5] == '-' else t[5]) for t in tiles}
if keys != placed:
    problems.append('report and tile list file disagree')

if len({t[5] for t in with_picture}) != len(pictures):
    problems.append('distinct names against the picture list')

print('tiles=%d with=%d' % (len(tiles), len(with_picture)))
print('size=%s' % ','.join(summary['Mosaic Size (Width x Height in Pixels):']))
print('algorithm=%s' % summary['Algorithm:'][0])
for p in problems:
    print(p)
)PY";


class ReportIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(m_dir / "tiles");
    for (int i = 0; i < 30; ++i) {
      Foto tile;
      tile.try_allocate_fill(64, 48, make_pixel((i * 37) % 256, (i * 91) % 256, (i * 53) % 256));
      // A comma and quotes in some names, so quoting is exercised end to end.
      const std::string name = i % 7 == 0 ? "t" + std::to_string(i) + ", \"q\".jpg" : "t" + std::to_string(i) + ".jpg";
      ASSERT_TRUE(testing::write_jpeg(m_dir / "tiles" / name, tile, testing::JpegSpec().with_quality(95)));
    }
    ASSERT_TRUE(testing::write_photo(m_dir / "photo.jpg"));
    auto r = run("list create " + quoted("tiles.tzc") + " --include " + quoted("tiles/"));
    ASSERT_EQ(r.status, 0) << r.err;
  }

  std::string quoted(const std::string& name) const { return shell_quoted((m_dir / name).string()); }
  testing::CliOutcome run(const std::string& args) const { return testing::run_program(m_dir.path(), args); }

  static constexpr const char* kSmall =
      " --set MosaicSizeUnit=pixel --set MosaicSizeWidth=800 --set MosaicSizeHeight=600 --set TileSize=20";

  TempDir m_dir;
};

TEST_F(ReportIntegration, ReportAgreesWithThePlacement) {
  // Faster placement saves its tile list file, the independent record of
  // which picture went where.
  auto r = run("mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") + kSmall +
               " --set TextReport=1 --set MosaicProcessing=faster --set Advanced.Options.TileListSave=1"
               " --set DuplicateSpacing=1 --output " + quoted("out/m.jpg") + " --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("mismatch"), std::string::npos) << r.err;
  const fs::path report = m_dir / "out" / "m Text Report.csv";
  const fs::path tile_list = m_dir / "out" / "m Tile List.txt";
  ASSERT_TRUE(fs::exists(report));
  ASSERT_TRUE(fs::exists(tile_list));

  ASSERT_TRUE(testing::write_file(m_dir / "check.py", kCheckScript));
  const std::string out = testing::command_output("python3 " + quoted("check.py") + " " + shell_quoted(report.string()) + " " +
                                      shell_quoted(tile_list.string()) + " 2>&1");
  // 20 tiles a row on 800 × 600: 20 rows of 40 × 30 cells, every one filled.
  EXPECT_EQ(out, "tiles=400 with=400\nsize=800,x,600\nalgorithm=Faster\n");
}

}  // namespace
}  // namespace tess
