#include "engine/required_images.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/scripted_prompt.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/progress_model.hpp"
#include "engine/score_kernel.hpp"
#include "engine/score_tables.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {
namespace {

constexpr std::uint32_t kRed = make_pixel(200, 20, 20);
constexpr std::uint32_t kGray = make_pixel(120, 120, 120);
constexpr std::uint32_t kBlue = make_pixel(20, 40, 200);

TileSignature uniform(std::uint32_t colour, bool portrait = false) {
  TileSignature s;
  s.samples.fill(colour);
  s.opaque = 1;
  s.analysed = 1;
  s.portrait = portrait ? 1 : 0;
  return s;
}

std::uint32_t gray(int level) { return make_pixel(level, level, level); }

/// A mosaic of `columns` × `rows` cells of `side` pixels, `gap` apart, with
/// a tile list and placement state of its own. Neutral score tables: only
/// the unchanged tile is compared.
struct Scene {
  ScriptedPrompt prompt;
  MosaicBuilder builder{prompt};
  TileImageList list;
  TileUseState uses;
  ScoreTables tables;

  Scene(int columns, int rows, int side = 100, int gap = 0) {
    builder.grid.reset(columns * side + (columns - 1) * gap, rows * side + (rows - 1) * gap, 1.0, gap, false);
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < columns; ++c) {
        EXPECT_TRUE(builder.grid.add_cell({c * (side + gap), r * (side + gap), side, side}));
        cell(static_cast<int>(builder.grid.size()) - 1).active = 1;
        cell(static_cast<int>(builder.grid.size()) - 1).signature = uniform(kGray);
      }
    builder.tile_list = &list;
  }
  PuzzleInfo& cell(int index) { return builder.grid.cell(static_cast<std::size_t>(index)); }
  void paint(int index, std::uint32_t colour) { cell(index).signature = uniform(colour); }

  const FotoInfo* tile(const std::string& path, std::uint32_t colour, bool required = false, bool portrait = false) {
    FotoInfo info(path);
    info.signature = uniform(colour, portrait);
    info.required = required ? 1 : 0;
    info.usable = 1;
    list.insert(info);
    return list.find(path);
  }
  std::uint32_t score(int index, const FotoInfo* t) {
    return score_tile(tables, cell(index).signature, cell(index).priority, t->signature).score;
  }
  void place(int index, const FotoInfo* t) {
    cell(index).tile = t;
    cell(index).score = score(index, t);
  }
  /// Placement is over: the state counts what the cells hold.
  void placed() {
    uses.reset(&list, builder.parameters.tile_duplication);
    uses.count_uses(builder.grid);
  }
  std::uint32_t uses_of(const FotoInfo* t) const { return uses.find(t)->use_count; }
  std::vector<const FotoInfo*> assignment() const {
    std::vector<const FotoInfo*> out;
    for (const auto& c : builder.grid.cells()) out.push_back(c->tile);
    return out;
  }
};

// --- required images --------------------------------------------------------

TEST(RequiredImages, PreferACellOffTheBorderEvenWhenABorderCellScoresBetter) {
  Scene s(3, 3);
  s.builder.parameters.tile_duplication = 1;
  std::vector<const FotoInfo*> fillers;
  for (int i = 0; i < 9; ++i) {
    fillers.push_back(s.tile("/t/filler" + std::to_string(i) + ".jpg", gray(100 + i)));
    s.place(i, fillers.back());
  }
  const FotoInfo* required = s.tile("/r/wanted.jpg", kRed, true);
  s.paint(0, kRed);  // a corner: the perfect match, but on the border
  s.placed();

  ASSERT_TRUE(insert_required_images(s.builder, s.tables, s.uses));
  EXPECT_EQ(s.cell(4).tile, required);
  EXPECT_EQ(s.cell(4).score, s.score(4, required));
  EXPECT_EQ(s.cell(0).tile, fillers[0]);
  EXPECT_EQ(s.uses_of(required), 1u);
  EXPECT_EQ(s.uses_of(fillers[4]), 0u);  // the displaced tile gave up its use
  EXPECT_TRUE(s.prompt.messages().empty());
  EXPECT_EQ(s.builder.status(), "Inserting 1 required Images into the mosaic...");
  const ProgressModel progress = s.builder.progress();
  EXPECT_EQ(progress.current_stage(), kStageRequiredImages);
  EXPECT_EQ(progress.done(kStageRequiredImages), 1.0);
}

TEST(RequiredImages, WithoutAnInteriorCellTheBestCellWins) {
  Scene s(2, 2);
  const FotoInfo* filler = s.tile("/t/filler.jpg", kGray);
  for (int i = 0; i < 4; ++i) s.place(i, filler);
  const FotoInfo* required = s.tile("/r/wanted.jpg", kRed, true);
  s.paint(2, kRed);
  s.placed();
  ASSERT_TRUE(insert_required_images(s.builder, s.tables, s.uses));
  EXPECT_EQ(s.cell(2).tile, required);
  EXPECT_EQ(s.cell(2).score, 0u);
  EXPECT_EQ(s.uses_of(filler), 3u);
}

TEST(RequiredImages, InteriorCellsKeepClearOfTheBorderAndTheGap) {
  PuzzleInfo cell;
  cell.left = 20;
  cell.top = 20;
  cell.width = 100;
  cell.height = 100;
  EXPECT_TRUE(is_interior_cell(cell, 300, 300, 10));
  cell.width = 270;  // ends at 290 = width - gap
  EXPECT_FALSE(is_interior_cell(cell, 300, 300, 10));
  EXPECT_TRUE(is_interior_cell(cell, 300, 300, 0));
  cell.left = 0;
  cell.width = 100;
  EXPECT_FALSE(is_interior_cell(cell, 300, 300, 0));
}

TEST(RequiredImages, ARequiredTilesOnlyUseIsNeverTakenAway) {
  for (const bool twice : {false, true}) {
    SCOPED_TRACE(twice);
    Scene s(3, 1);
    const FotoInfo* first = s.tile("/r/first.jpg", kRed, true);
    const FotoInfo* filler = s.tile("/t/filler.jpg", kGray);
    const FotoInfo* second = s.tile("/r/second.jpg", kRed, true);
    s.paint(0, kRed);
    s.paint(2, kBlue);
    s.place(0, first);
    s.place(1, filler);
    s.place(2, twice ? first : filler);
    s.placed();
    ASSERT_TRUE(insert_required_images(s.builder, s.tables, s.uses));
    // Used once, the first required tile keeps its cell and the second goes
    // to the next best; used twice, it can spare the better cell.
    EXPECT_EQ(s.cell(twice ? 0 : 1).tile, second);
    EXPECT_EQ(s.uses_of(first), 1u);
    EXPECT_TRUE(s.prompt.messages().empty());
  }
}

TEST(RequiredImages, UseAllImagesInsertsEveryUnusedTileWhenDuplicatesAreAllowed) {
  Scene s(4, 1);
  s.builder.parameters.use_all_images = true;
  const FotoInfo* a = s.tile("/t/a.jpg", kGray);
  const FotoInfo* b = s.tile("/t/b.jpg", kBlue);
  const FotoInfo* c = s.tile("/t/c.jpg", kRed);
  const FotoInfo* d = s.tile("/t/d.jpg", gray(90));
  s.paint(0, kRed);
  s.paint(1, kRed);  // c fits both; it takes one and a's other use keeps the other
  s.place(0, a);
  s.place(1, a);
  s.place(2, b);
  s.place(3, b);
  s.placed();
  ASSERT_TRUE(insert_required_images(s.builder, s.tables, s.uses));
  EXPECT_EQ(s.assignment(), (std::vector<const FotoInfo*>{c, a, d, b}));
  for (const FotoInfo* t : {a, b, c, d}) EXPECT_EQ(s.uses_of(t), 1u) << t->path;
  EXPECT_TRUE(s.prompt.messages().empty());
  EXPECT_EQ(s.builder.status(), "Inserting 2 required Images into the mosaic...");
}

TEST(RequiredImages, UseAllImagesWithoutDuplicatesOnlyReportsTheUnusedTiles) {
  Scene s(2, 2);
  s.builder.parameters.use_all_images = true;
  s.builder.parameters.tile_duplication = 1;
  for (int i = 0; i < 6; ++i) {
    const FotoInfo* t = s.tile("/t/" + std::to_string(i) + ".jpg", gray(50 + 10 * i));
    if (i < 4) s.place(i, t);
  }
  s.placed();
  const auto before = s.assignment();
  ASSERT_TRUE(insert_required_images(s.builder, s.tables, s.uses));
  EXPECT_EQ(s.assignment(), before);
  EXPECT_EQ(s.prompt.messages(),
            std::vector<std::string>{"It is not possible to insert 2 Images (on a Total of 6 required Images) into the "
                                     "Mosaic made of 4 Tiles. Please raise the number of Tiles and/or allow Rotate 90 "
                                     "degrees"});
  // Placement's flags: nothing is left to insert, so every tile is exhausted.
  for (std::size_t i = 0; i < s.uses.size(); ++i) EXPECT_EQ(s.uses[i].exhausted, 1);
}

TEST(RequiredImages, ReportsWhatFindsNoCell) {
  // Three required tiles for two empty cells: the third finds every cell
  // holding another required tile's only use.
  Scene s(2, 1);
  const FotoInfo* r1 = s.tile("/r/1.jpg", kRed, true);
  const FotoInfo* r2 = s.tile("/r/2.jpg", kBlue, true);
  s.tile("/r/3.jpg", kGray, true);
  s.placed();
  ASSERT_TRUE(insert_required_images(s.builder, s.tables, s.uses));
  EXPECT_EQ(s.assignment(), (std::vector<const FotoInfo*>{r1, r2}));
  EXPECT_EQ(s.prompt.messages(),
            std::vector<std::string>{"It is not possible to insert 1 Images (on a Total of 3 required Images) into the "
                                     "Mosaic made of 2 Tiles. Please raise the number of Tiles and/or allow Rotate 90 "
                                     "degrees"});
}

TEST(RequiredImages, ATileThatFitsNoCellIsReportedNotForcedIn) {
  // The tables allow the unchanged tile only: a portrait picture cannot go
  // into a landscape cell.
  Scene s(2, 2);
  const FotoInfo* filler = s.tile("/t/filler.jpg", kGray);
  for (int i = 0; i < 4; ++i) s.place(i, filler);
  s.tile("/r/tall.jpg", kGray, true, true);
  s.placed();
  ASSERT_TRUE(insert_required_images(s.builder, s.tables, s.uses));
  EXPECT_EQ(s.uses_of(filler), 4u);
  ASSERT_EQ(s.prompt.messages().size(), 1u);
  EXPECT_NE(s.prompt.messages()[0].find("insert 1 Images (on a Total of 1 required Images)"), std::string::npos);
}

TEST(RequiredImages, AStopEndsTheStepWithoutAReport) {
  Scene s(2, 2);
  s.tile("/r/1.jpg", kRed, true);
  s.placed();
  s.builder.request_stop();
  EXPECT_FALSE(insert_required_images(s.builder, s.tables, s.uses));
  EXPECT_EQ(s.assignment(), std::vector<const FotoInfo*>(4, nullptr));
  EXPECT_TRUE(s.prompt.messages().empty());
}

// --- priority images ---------------------------------------------------------

TEST(PriorityImages, KindsAndBands) {
  EXPECT_EQ(priority_image_kind("/p/a #PriorityCenter.jpg"), PriorityImageKind::center);
  EXPECT_EQ(priority_image_kind("/p/#PriorityWide/a.jpg"), PriorityImageKind::wide);
  EXPECT_EQ(priority_image_kind("/p/a #PriorityWide #PriorityCenter.jpg"), PriorityImageKind::center);
  EXPECT_EQ(priority_image_kind("/p/a.jpg"), PriorityImageKind::none);

  // Centres at 5 %, 15 %, ..., 95 % of a 1000-pixel mosaic.
  PuzzleInfo cell;
  cell.width = cell.height = 100;
  cell.top = 400;
  std::vector<int> wide;
  std::vector<int> centre;
  for (int c = 0; c < 10; ++c) {
    cell.left = c * 100;
    if (in_priority_band(cell, PriorityImageKind::wide, 1000, 1000)) wide.push_back(c);
    if (in_priority_band(cell, PriorityImageKind::center, 1000, 1000)) centre.push_back(c);
  }
  EXPECT_EQ(wide, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(centre, (std::vector<int>{3, 4, 5, 6}));
  cell.left = 400;
  cell.top = 0;
  EXPECT_FALSE(in_priority_band(cell, PriorityImageKind::wide, 1000, 1000));  // both axes count
}

TEST(PriorityImages, EachKindGoesToItsBestCellWithinItsBand) {
  Scene s(10, 10);
  const FotoInfo* filler = s.tile("/t/filler.jpg", kGray);
  for (int i = 0; i < 100; ++i) s.place(i, filler);
  const FotoInfo* wide = s.tile("/p/w #PriorityWide.jpg", kRed);
  const FotoInfo* centre = s.tile("/p/c #PriorityCenter.jpg", kRed);
  s.paint(51, kRed);  // column 1 (15 %), row 5: only the wide band reaches it
  s.paint(0, kRed);   // a corner, outside both bands
  s.paint(54, make_pixel(190, 30, 30));
  s.placed();
  ASSERT_TRUE(insert_priority_images(s.builder, s.tables, s.uses));
  EXPECT_EQ(s.cell(51).tile, wide);
  EXPECT_EQ(s.cell(54).tile, centre);
  EXPECT_EQ(s.cell(54).score, s.score(54, centre));
  EXPECT_EQ(s.cell(0).tile, filler);
  EXPECT_EQ(s.uses_of(filler), 98u);
  EXPECT_EQ(s.builder.status(), "Inserting 2 priority Images into the mosaic...");
  EXPECT_EQ(s.builder.progress().current_stage(), kStagePriorityImages);
  EXPECT_TRUE(s.prompt.messages().empty());
}

TEST(PriorityImages, APictureAlreadyInItsBandStaysAndOthersAreLeftAlone) {
  Scene s(5, 5);  // cells 6-8, 11-13, 16-18 form both bands
  const FotoInfo* filler = s.tile("/t/filler.jpg", kGray);
  for (int i = 0; i < 25; ++i) s.place(i, filler);
  const FotoInfo* inside = s.tile("/p/in #PriorityCenter.jpg", kBlue);
  const FotoInfo* required = s.tile("/r/once.jpg", kGray, true);
  const FotoInfo* moving = s.tile("/p/out #PriorityWide.jpg", kRed);
  s.place(12, inside);
  s.place(11, required);
  s.place(0, moving);  // outside its band: it still has to go in
  s.paint(12, kRed);
  s.paint(11, kRed);
  s.paint(17, make_pixel(180, 20, 20));
  s.placed();
  ASSERT_TRUE(insert_priority_images(s.builder, s.tables, s.uses));
  EXPECT_EQ(s.cell(12).tile, inside);
  EXPECT_EQ(s.cell(11).tile, required);
  EXPECT_EQ(s.cell(17).tile, moving);
  EXPECT_EQ(s.cell(0).tile, moving);
  EXPECT_EQ(s.uses_of(moving), 2u);
  EXPECT_EQ(s.builder.status(), "Inserting 1 priority Images into the mosaic...");
}

TEST(PriorityImages, ReportsPicturesThatFindNoCell) {
  Scene s(5, 5);  // nine cells inside the centre band
  const FotoInfo* filler = s.tile("/t/filler.jpg", kGray);
  for (int i = 0; i < 25; ++i) s.place(i, filler);
  for (int i = 0; i < 10; ++i) s.tile("/p/" + std::to_string(i) + " #PriorityCenter.jpg", gray(100 + i));
  s.placed();
  ASSERT_TRUE(insert_priority_images(s.builder, s.tables, s.uses));
  EXPECT_EQ(s.uses_of(filler), 16u);
  EXPECT_EQ(s.prompt.messages(),
            std::vector<std::string>{"It is not possible to insert 1 Images (on a Total of 10 priority Images) into the "
                                     "Mosaic made of 25 Tiles. Please raise the number of Tiles and/or reduce the "
                                     "Required/Priority Images"});
}

TEST(PriorityImages, NoPriorityPicturesNoStage) {
  Scene s(3, 3);
  s.tile("/t/plain.jpg", kGray);
  s.placed();
  s.builder.set_status("before");
  ASSERT_TRUE(insert_priority_images(s.builder, s.tables, s.uses));
  EXPECT_EQ(s.builder.status(), "before");
}

TEST(PriorityImages, AStopEndsTheStep) {
  Scene s(5, 5);
  s.tile("/p/a #PriorityCenter.jpg", kRed);
  s.placed();
  s.builder.request_stop();
  EXPECT_FALSE(insert_priority_images(s.builder, s.tables, s.uses));
  EXPECT_EQ(s.assignment(), std::vector<const FotoInfo*>(25, nullptr));
  EXPECT_TRUE(s.prompt.messages().empty());
}

/// Whether `fraction` of the mosaic lies inside the band that keeps `margin`
/// percent clear, measured in whole percent rounded to nearest.
bool within(double fraction, int margin) {
  return fraction >= (margin - 0.5) / 100.0 && fraction < (100 - margin + 0.5) / 100.0;
}

TEST(PriorityImages, NeverLandOutsideTheirBandOverRandomMosaics) {
  std::mt19937 random(20240611);
  int moved = 0;
  for (int round = 0; round < 150; ++round) {
    SCOPED_TRACE(round);
    const int columns = 2 + static_cast<int>(random() % 11);
    const int rows = 2 + static_cast<int>(random() % 11);
    const int side = 7 + static_cast<int>(random() % 60);
    const int gap = static_cast<int>(random() % 4);

    std::vector<std::vector<std::string>> outcomes;
    for (int run = 0; run < 2; ++run) {  // the same scene twice: placement must not vary
      std::mt19937 scene_random(static_cast<unsigned>(round));
      const auto scene_colour = [&] {
        return make_pixel(scene_random() % 256, scene_random() % 256, scene_random() % 256);
      };
      Scene s(columns, rows, side, gap);
      const int cells = columns * rows;
      for (int i = 0; i < cells; ++i) s.paint(i, scene_colour());
      std::vector<const FotoInfo*> fillers;
      for (int i = 0; i < 6; ++i) fillers.push_back(s.tile("/t/f" + std::to_string(i) + ".jpg", scene_colour()));
      const FotoInfo* required = s.tile("/r/req.jpg", scene_colour(), true);
      std::vector<const FotoInfo*> priority;
      const int count = 1 + static_cast<int>(scene_random() % 6);
      for (int i = 0; i < count; ++i) {
        const char* mark = scene_random() % 2 ? " #PriorityCenter" : " #PriorityWide";
        priority.push_back(s.tile("/p/" + std::to_string(i) + mark + ".jpg", scene_colour()));
      }
      for (int i = 0; i < cells; ++i) {
        const std::uint32_t pick = scene_random() % 10;
        s.place(i, pick == 0 ? required : pick == 1 ? priority[scene_random() % priority.size()]
                                                    : fillers[scene_random() % fillers.size()]);
      }
      s.placed();
      const auto before = s.assignment();
      const std::uint32_t required_uses = s.uses_of(required);
      ASSERT_TRUE(insert_priority_images(s.builder, s.tables, s.uses));

      const double w = s.builder.grid.pixel_width();
      const double h = s.builder.grid.pixel_height();
      for (int i = 0; i < cells; ++i) {
        const PuzzleInfo& cell = s.cell(i);
        if (cell.tile == before[static_cast<std::size_t>(i)]) continue;
        ++moved;
        // Only priority pictures move, only into cells that held no other
        // priority picture and no only use of a required one.
        const PriorityImageKind kind = priority_image_kind(cell.tile->path);
        ASSERT_NE(kind, PriorityImageKind::none);
        EXPECT_EQ(priority_image_kind(before[static_cast<std::size_t>(i)]->path), PriorityImageKind::none);
        EXPECT_FALSE(before[static_cast<std::size_t>(i)] == required && required_uses < 2);
        const int margin = kind == PriorityImageKind::center ? 30 : 15;
        EXPECT_TRUE(within((cell.left + cell.width / 2) / w, margin)) << cell.left << " of " << w;
        EXPECT_TRUE(within((cell.top + cell.height / 2) / h, margin)) << cell.top << " of " << h;
      }
      // Every priority picture now sits in its band, or was reported.
      if (s.prompt.messages().empty())
        for (const FotoInfo* p : priority) {
          bool inside = false;
          for (int i = 0; i < cells; ++i)
            inside = inside || (s.cell(i).tile == p && in_priority_band(s.cell(i), priority_image_kind(p->path),
                                                                        s.builder.grid.pixel_width(),
                                                                        s.builder.grid.pixel_height()));
          EXPECT_TRUE(inside) << p->path;
        }
      // By path: each scene holds its own tile records.
      std::vector<std::string> paths;
      for (const FotoInfo* t : s.assignment()) paths.push_back(t->path);
      outcomes.push_back(std::move(paths));
    }
    EXPECT_EQ(outcomes[0], outcomes[1]);
  }
  EXPECT_GT(moved, 300);  // the rounds really exercised the insertion
}

}  // namespace
}  // namespace tess
