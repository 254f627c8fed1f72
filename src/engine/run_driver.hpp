#pragma once
// The run driver: builds every mosaic of one batch, from loading each main
// image to freeing its cells, publishing status and progress on the builder
// and honouring a stop request after every step. The steps that write files
// belong to the output module above the engine; the driver reaches them
// through RunOutputs and depends on nothing else of them.

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/colour_fidelity.hpp"
#include "engine/far_likeness.hpp"
#include "engine/mosaic_builder.hpp"
#include "settings/geometry.hpp"

namespace tess {

class ScoreTables;
class TileImageList;

/// The files a run reads: none of its outputs may replace them.
struct ReadFiles {
  /// Main images, masks, the priority map, the list file and its error file,
  /// settings files, a placement file.
  std::vector<std::string> files;
  const TileImageList* list = nullptr;  ///< its pictures are read too; null: none
};

/// Checks, before anything is written, that the outputs of `main_image`
/// (label "Mosaic" or "M01 Mosaic", one of `mosaics` in the batch) would
/// replace no file of `reads` and no folder the program did not write.
/// False after reporting.
using OutputCheck =
    std::function<bool(const MosaicParameters& parameters, const std::string& main_image, const std::string& label,
                       int mosaics, const ReadFiles& reads, Prompt& prompt)>;

/// What became of one main image (and mask) of the batch.
struct RunResult {
  std::string destination;  ///< the mosaic's file or folder
  /// The files of the mosaic as written (split pieces, one picture a frame);
  /// empty until it was saved.
  std::vector<std::string> written_files;
  std::string output_base;  ///< every side file is this followed by its suffix
  std::string tiles_folder;  ///< individual tiles go here; empty when not asked for
  std::string mask_file;    ///< the mask image the mosaic was laid out from; empty without one
  int main_width = 0;       ///< of the main image as loaded
  int main_height = 0;
  std::string result_file;  ///< a page to open once the run is over (the web mosaic); empty when none
  bool success = false;
  /// A file beside the mosaic (settings copy, report, tile list, mask or
  /// score image, web mosaic, individual tiles) could not be written; the
  /// failure was reported and the run ends as failed.
  bool side_files_failed = false;
  /// How close the drawn cells came to the main image, before and after the
  /// colour change; no cells until the mosaic was rendered.
  ColourFidelity colour_fidelity;
  /// The main image seen from afar, taken before the main image is freed,
  /// for the saving step to compare the mosaic with as it writes it; let go
  /// once the mosaic is saved.
  FarView far_view;
  /// Held from the naming of the outputs to the last file written, so that
  /// no other run writes the same outputs meanwhile.
  std::shared_ptr<void> output_lock;
};

/// The output steps of a mosaic. A step left empty is skipped.
struct RunOutputs {
  /// Names the outputs of `main_image` (label "Mosaic" or "M01 Mosaic"),
  /// takes them for this run (result.output_lock) and checks them against
  /// `reads`: fills result.destination and result.output_base. False fails
  /// the mosaic (reported).
  std::function<bool(MosaicBuilder&, const std::string& main_image, const std::string& label, const ReadFiles& reads,
                     RunResult& result)>
      name_outputs;
  /// Writes the mask file and the score image of the grid. False when a file
  /// could not be written (reported); a mask skipped for its size is none.
  std::function<bool(MosaicBuilder&, const RunResult&)> write_mask_file;
  /// Renders and saves the mosaic and its outputs (may set result.result_file,
  /// and result.side_files_failed when an output beside the mosaic failed).
  std::function<bool(MosaicBuilder&, const ScoreTables&, RunResult&)> save_mosaic;
  /// Writes the text report. False when it could not be written (reported).
  std::function<bool(MosaicBuilder&, const ScoreTables&, const RunResult&)> write_report;
};

/// One batch: the main images in order and where the masks come from.
struct MosaicRun {
  std::vector<std::string> main_images;
  /// The geometry of the first main image as the run plan worked it out
  /// (the image turned as it loads); its mask_file makes this a mask-file
  /// batch of masks scaled by that much.
  MosaicLayout layout;
  /// Mask-file mode only: masks are taken from this folder, or this file,
  /// else the user is asked through the builder's prompt.
  std::string mask_folder;
  std::string mask_file;
  /// A custom priority map given in advance (else asked when needed).
  std::string priority_map;
  /// Threads in all for the parallel phases.
  int threads = 1;
  /// A placement written by an earlier run of the same mosaic (its cells, cut
  /// the same way, and their tiles), taken as it stands instead of placing
  /// tiles; empty: tiles are placed.
  std::filesystem::path placement_file;
  /// Where the final placement of the mosaic is written, for later runs;
  /// empty: nowhere.
  std::filesystem::path save_placement_file;
  /// The files the run reads besides its list's pictures (see ReadFiles).
  std::vector<std::string> read_files;
  /// Results by main image path (and label in mask-file mode).
  std::map<std::string, RunResult> results;
  /// Mosaics that failed: a stage could not go on, or their files (the
  /// mosaic or one beside it) could not be written.
  int failed = 0;
  /// Why a stage could not go on (the message it showed); empty when none
  /// failed. Such a failure ends the batch with the texts of a stop, yet
  /// `stopped` stays false: nobody asked for it.
  std::string failure;
  /// A stop was asked for (by the user, or a question answered Cancel).
  bool stopped = false;
};

/// The label of a mosaic: "Mosaic", or "M01 Mosaic" for the first mask of a
/// mask-file run (translated).
std::string mosaic_label(bool mask_mode, std::size_t mask_index);

/// Builds the batch with `list` and `outputs`. Never throws; everything is
/// reported through the builder's status, prompt and `run.results`.
void run_batch(MosaicBuilder& builder, TileImageList& list, MosaicRun& run, const RunOutputs& outputs);

/// A JPEG or PNG file (by extension, case ignored) whose sides, read from
/// its header, are 1 to 30,000 pixels: a picture that may serve as a mask.
bool is_mask_picture(const std::filesystem::path& path);

/// The mask files of a folder: JPEG and PNG files (by extension, case
/// ignored) whose sides, read from their headers, are 1 to 30,000 pixels, in
/// path order. No recursion.
std::vector<std::string> mask_files_in_folder(const std::string& folder);

/// Asks where the masks of a mask-file batch come from: a folder of them
/// ("Do you want to specify a Folder containing Maskfiles?") or one mask
/// picture. Fills `folder` or `file`; false when the user cancelled.
[[nodiscard]] bool ask_for_masks(Prompt& prompt, std::string& folder, std::string& file);

}  // namespace tess
