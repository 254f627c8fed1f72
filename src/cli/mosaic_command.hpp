#pragma once
// `tessellarium mosaic`: its options and the preparation of its run, which
// goes through the same run plan as the desktop program.

#include <optional>
#include <string>
#include <vector>

#include "cli/parameter_overrides.hpp"
#include "cli/progress_json.hpp"
#include "cli/run_parameters.hpp"
#include "engine/run_plan.hpp"
#include "output/mosaic_saver.hpp"

namespace tess {

class Prompt;

struct MosaicArgs {
  std::vector<std::string> images;
  std::string list;
  /// Folders of pictures to make the mosaic from through a cached list
  /// (instead of --list), analysed in black and white with tiles_bw.
  std::vector<std::string> tiles;
  bool tiles_bw = false;
  ParameterSource source;
  std::string output;
  std::string mask;
  std::string mask_folder;
  std::string priority_map;
  std::string split;
  std::string pieces;  ///< "A-B": only those split pieces
  std::string frames;  ///< "A-B": only those frames of a video mosaic
  std::string placement;       ///< a placement file to render from
  std::string save_placement;  ///< where to write the run's final placement
  bool yes = false;
  bool no = false;
  bool quiet = false;
  bool no_wait = false;  ///< fail at once when another run writes the same outputs
  ProgressStyle progress = ProgressStyle::text;
};

/// A run the command may start, or the exit status that ends it.
struct PreparedMosaic {
  std::optional<RunPlan> plan;
  SplitPieceSize split;
  FrameRange frames;
  int exit_status = 0;  ///< kExitUsage or kExitFailed when there is no plan
};

/// Reads the options into parameters (a mask makes a mask-file mosaic, a
/// priority map the custom priority area), refuses what cannot be honoured
/// with an "error:" line, then prepares the run through `prompt`.
[[nodiscard]] PreparedMosaic prepare_mosaic(const MosaicArgs& args, Prompt& prompt);

}  // namespace tess
