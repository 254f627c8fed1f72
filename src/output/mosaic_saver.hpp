#pragma once
// Saving a finished mosaic: finish_mosaic() is the whole saving step of a
// run. The band renderer (output/band_renderer.hpp) draws the mosaic in bands
// of rows, save_mosaic() (output/split_pieces.hpp) cuts it into split pieces,
// and save_mosaic_part() (output/part_writer.hpp) writes one file with the
// writer the format table names (output/format_writers.hpp).

#include <cstdint>
#include <string>
#include <vector>

#include "engine/colour_fidelity.hpp"
#include "engine/far_likeness.hpp"
#include "engine/thread_priority.hpp"
#include "engine/tile_render.hpp"
#include "output/band_renderer.hpp"
#include "output/output_options.hpp"
#include "output/part_writer.hpp"
#include "output/split_pieces.hpp"
#include "output/video_writer.hpp"
#include "settings/mosaic_parameters.hpp"

namespace tess {

class MosaicBuilder;
class UserState;

/// Frames first..last of a video mosaic, from 1; 0: every frame.
struct FrameRange {
  std::int64_t first = 0;
  std::int64_t last = 0;
};

/// What the saving step of a run needs besides the builder.
struct FinishRequest {
  std::string base_name;  ///< every output file's path without extension
  std::string tiles_folder;  ///< individual tiles are saved here; empty: not at all
  /// The mosaic's extension, pieces' included; empty: the format's own.
  std::string extension;
  SplitPieceSize split;
  int dpi = 0;
  int threads = 1;  ///< threads in all for band rendering
  ThreadPriority priority = ThreadPriority::normal;
  TileFrameLoader frame_loader;  ///< pictures of video tiles; empty: video cells stay empty
  /// Only these frames of a video mosaic written as one picture a frame.
  FrameRange frames;
  /// Where the mosaic counter and the date of the first mosaic are kept;
  /// null to leave them alone.
  const UserState* user_state = nullptr;
  /// The main image seen from afar, for the far figures of the colour
  /// fidelity; null or unusable: they are left out.
  const FarView* far_view = nullptr;
};

/// What the saving step leaves for the report and the final action.
struct FinishResult {
  std::vector<SavedFileRecord> files;
  std::vector<TileRenderRecord> render_records;  ///< indexed like the grid's cells
  /// The colour differences of the drawn cells to the main image, and of
  /// the mosaic as written seen from afar when every pixel of its first
  /// frame came past.
  ColourFidelity colour_fidelity;
  std::string result_file;                       ///< the web page when one was written, else empty
  /// Every file of the mosaic as written (split pieces, one picture a
  /// frame); empty when saving failed.
  std::vector<std::string> written_files;
  /// The web mosaic beside another format, or an individual tile, could not
  /// be written (reported); the mosaic itself may stand.
  bool side_files_failed = false;
};

/// The saving step of a run: renders the builder's grid with its placed tiles
/// and writes the mosaic in the parameters' format. `tables` are the run's
/// score tables. After success the user state counts one more mosaic (and
/// keeps today's date when it is the first). True when every file was written.
[[nodiscard]] bool finish_mosaic(MosaicBuilder& builder, const ScoreTables& tables, const FinishRequest& request,
                   FinishResult& result);

}  // namespace tess
