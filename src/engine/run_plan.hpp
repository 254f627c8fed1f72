#pragma once
// The run plan: everything a mosaic run needs once the checks before it have
// passed. Both front ends prepare every run here, so the desktop program and
// the command line load the list, ask the same questions in the same order
// and refuse the same inputs; neither has run logic of its own.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/run_driver.hpp"
#include "settings/geometry.hpp"
#include "settings/mosaic_parameters.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {

class Prompt;

/// From a list of this many pictures on, a duplicate spacing above 1 earns the
/// offer to turn duplicates off.
inline constexpr std::size_t kLargeListImages = 50'000;

/// What the user asked for.
struct RunRequest {
  MosaicParameters parameters;
  /// The Tile Images List file; empty when none is loaded.
  std::string list_file;
  std::vector<std::string> main_images;
  /// Masks given in advance (mask-file mosaics): one file or a folder of
  /// them. Empty: the run asks for them when it starts.
  std::string mask_file;
  std::string mask_folder;
  /// The custom priority map given in advance; empty: asked when needed.
  std::string priority_map;
  /// Masks of a mask-file mosaic and a custom priority map not given in
  /// advance are asked for by the plan, after its other questions, so they
  /// are checked before the run as given ones are (the desktop program).
  /// Off, the run asks for them when it needs them.
  bool ask_for_inputs = false;
  /// Other files the run reads (a settings file, a placement file).
  std::vector<std::string> other_inputs;
  /// Checks the outputs of each mosaic against what the run reads; empty:
  /// not checked here.
  OutputCheck check_outputs;
  /// Tells the user what to know about the outputs once every check has
  /// passed and every question is answered, so that nothing is said of a
  /// run that is refused after all; empty: nothing.
  std::function<void(const MosaicParameters&, Prompt&)> before_start;
};

/// A run ready to start.
struct RunPlan {
  /// The parameters as the questions left them (a Yes to "no duplicates"
  /// changes them).
  MosaicParameters parameters;
  TileImageList list;
  /// The user chose to save the mosaic in black and white.
  bool save_black_and_white = false;
  /// The batch for run_batch: main images, the geometry of the first one
  /// (run.layout), masks and priority map given in advance (threads are set
  /// as the run starts).
  MosaicRun run;
};

/// Why no plan came back.
enum class PlanRefusal {
  bad_input,  ///< a check refused the input; its message was shown
  declined,   ///< the user answered a question with No or Cancel
};

struct PlanResult {
  std::optional<RunPlan> plan;
  PlanRefusal refusal = PlanRefusal::bad_input;
  /// A short English reason for a log or a terminal (the user saw the
  /// translated message through the prompt). Without a window, where the
  /// prompt's message would point at buttons, the translated reason itself.
  std::string reason;
};

/// The main image's size as a run loads it (JPEGs turned by their EXIF
/// orientation); false when the file is no picture this program reads.
[[nodiscard]] bool read_main_image_size(const std::string& path, int& width, int& height);

/// The geometry of a run's first main image as the run loads it (none
/// without main images). False when it cannot be used: layout.message says
/// why. Its mask_file says whether the run is a mask-file one.
bool first_image_layout(const MosaicParameters& params, const std::vector<std::string>& main_images,
                        MosaicLayout& layout);

/// Prepares a run:
///  1. loads the list (a list that cannot be read is reported and refused);
///  2. a list of 50,000 pictures or more with a spacing above 1 asks whether
///     to set "no duplicates" (Yes/No/Cancel); Experimental processing with
///     a duplicate count other than 1 (or a MAX[n] path) is refused;
///  3. the geometry of the first main image (its own message on failure);
///  4. no output of any mosaic whose name is known now may replace a file
///     the run reads or a folder the program did not write;
///  5. whether the list can fill the mosaic (the fill warning, Yes/No);
///  6. without a split, the size check of the output format;
///  7. no list, or an empty one: the request to load one;
///  8. a black-and-white list asks whether to save in black and white;
///  9. masks and a priority map given in advance (or, with ask_for_inputs,
///     asked for now) are loaded once, so a mask that is unreadable or holds
///     no cells is refused before any file is written.
[[nodiscard]] PlanResult prepare_run(const RunRequest& request, Prompt& prompt);

}  // namespace tess
