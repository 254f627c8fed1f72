// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/split_pieces.hpp"

#include <algorithm>
#include <cstdint>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "engine/mosaic_builder.hpp"
#include "output/earlier_files.hpp"
#include "output/video_writer.hpp"
#include "settings/advanced_options.hpp"
#include "settings/size_checks.hpp"

namespace tess {
namespace {

// Saving has its own share of the run's progress figure; the stage list of
// the progress model leaves stage 1 to it.
constexpr int kStageSaving = 1;

int ceil_div(std::int64_t a, std::int64_t b) { return b <= 0 ? 0 : static_cast<int>((a + b - 1) / b); }

}  // namespace

SplitGrid split_grid(const MosaicParameters& parameters, const SplitPieceSize& split, int width, int height) {
  SplitGrid grid{width, height, 0, 0};
  // A piece side the split window would refuse is no split on that side.
  if (parameters.split_mosaic) {
    if (split.width >= kMinSplitPieceSide && split.width <= width) grid.piece_width = split.width;
    if (split.height >= kMinSplitPieceSide && split.height <= height) grid.piece_height = split.height;
  }
  grid.columns = ceil_div(width, grid.piece_width);
  grid.rows = ceil_div(height, grid.piece_height);
  return grid;
}

bool save_mosaic(JPGMosaicSave& saver, const std::string& base_name, const MosaicParameters& parameters,
                 const SplitPieceSize& split, int width, int height, std::vector<SavedFileRecord>& saved, int dpi) {
  MosaicBuilder& builder = saver.builder();
  // 1. Piece size: the whole mosaic unless a usable split was asked for.
  const SplitGrid cut = split_grid(parameters, split, width, height);
  const int piece_width = cut.piece_width;
  const int piece_height = cut.piece_height;
  if (piece_width <= 0 || piece_height <= 0) {
    builder.prompt().message(format(tr("Unable to save file '%s'"), base_name), Icon::error);
    return false;
  }
  // 2. Files across and down.
  const int files = cut.pieces();
  // Some of the pieces only, when a range was asked for.
  const bool some_pieces = split.first_piece > 0;
  if (some_pieces && (files < 2 || split.last_piece > files || split.last_piece < split.first_piece)) {
    builder.prompt().message(format(tr("The mosaic has %d split pieces: pieces %d to %d cannot be written."),
                                    files > 1 ? files : 0, split.first_piece, split.last_piece),
                             Icon::error);
    return false;
  }
  const int first = some_pieces ? split.first_piece : 1;
  const int last = some_pieces ? split.last_piece : files;
  const bool frame_pictures = parameters.output_format == OutputFormatCode::video_jpg;
  EarlierFiles earlier(base_name);
  const auto keep_earlier = [&](const std::string& name) {
    if (files == 1 && !frame_pictures) return;  // one file replaces its earlier one only when complete
    if (!frame_pictures) {
      earlier.keep(name + format_extension(parameters.output_format));
      return;
    }
    const VideoClock* clock = saver.video_clock();
    for (std::int64_t frame = clock != nullptr ? clock->first : 1; clock != nullptr && frame <= clock->last; ++frame)
      earlier.keep(video_frame_file(name, frame));
  };
  // 3-5. Rows rendered at once, as many as the memory block holds.
  const int block = memory_block_megabytes(parameters.advanced.value(kOptMemoryBlockSize));
  int band_height = choose_band_height(piece_width, piece_height, block);
  // Two bands share the block when one is rendered while the other is written.
  if (saver.renders_ahead()) band_height = std::max(band_height / 2, 1);
  band_height = band_height_between_cells(saver.grid(), band_height, piece_height, height);
  const int bands_per_piece = ceil_div(piece_height, band_height);
  // 6-7. One frame for every format written so far.
  // A video mosaic renders every band once a frame.
  const VideoClock* clock = saver.video_clock();
  const double frames = is_video_format(parameters.output_format) && clock != nullptr && clock->frames > 0
                            ? static_cast<double>(clock->last - clock->first + 1)
                            : 1.0;
  builder.begin_progress_stage(kStageSaving, static_cast<double>(bands_per_piece) * (last - first + 1) * frames *
                                                 static_cast<double>(saver.placed_count()));

  const OutputOptions options = OutputOptions::from(parameters);
  bool ok = true;
  if (files > 1) {
    // 8. Column by column, top to bottom within a column; the last column and
    // row get what is left of the mosaic.
    int number = 0;
    for (int x = 0, column = 1; ok && x < width; x += piece_width, ++column)
      for (int y = 0, row = 1; ok && y < height; y += piece_height, ++row) {
        if (++number < first || number > last) continue;
        builder.set_status(format(tr("Saving Split Image #%d/%d: %dx%d..."), number, files, row, column));
        PartLayout layout;
        layout.width = std::min(piece_width, width - x);
        layout.height = std::min(piece_height, height - y);
        layout.x_offset = x;
        layout.y_offset = y;
        layout.band_height = band_height;
        const std::string name = format("%s%02dx%02d", base_name, row, column);
        keep_earlier(name);
        ok = save_mosaic_part(saver, name, options, layout, saved, dpi);
      }
  } else {
    // 9. One file of the whole mosaic.
    builder.set_status(tr("Saving Mosaic..."));
    PartLayout layout;
    layout.width = width;
    layout.height = height;
    layout.band_height = band_height;
    keep_earlier(base_name);
    ok = save_mosaic_part(saver, base_name, options, layout, saved, dpi);
  }
  // An earlier file that cannot be put back has been named to the user.
  if (!ok) (void)earlier.restore(builder.prompt());
  // 10. The band goes back before anything else of the run needs memory.
  saver.free_band();
  return ok;
}

}  // namespace tess
