#pragma once
// The output steps of a run as the run driver calls them: naming the files of
// each mosaic and rendering and saving it.

#include <filesystem>
#include <memory>
#include <string>

#include "engine/run_driver.hpp"
#include "engine/thread_priority.hpp"
#include "output/mosaic_saver.hpp"
#include "output/output_guard.hpp"

namespace tess {

class UserState;

struct RunOutputOptions {
  std::string output_file;  ///< the mosaic's file as the user named it (one main image only); empty: by the naming rules
  SplitPieceSize split;     ///< split piece size in pixels when the parameters ask for a split
  FrameRange frames;        ///< only these frames of a video mosaic
  int threads = 1;
  ThreadPriority priority = ThreadPriority::normal;
  const UserState* user_state = nullptr;  ///< mosaic counter and date of the first mosaic; null: left alone
  std::string save_placement;  ///< the placement file the run writes; empty: none
  /// Whether a run waits while another one writes the same outputs (else it fails at once).
  bool wait_for_outputs = true;
  /// Where a folder of the mosaic's that the program did not write is asked
  /// about (the window) and what the user let go; null: such a folder
  /// refuses the run (the command line). Shared by the check before the run
  /// and the run itself.
  std::shared_ptr<KeptFolders> kept_folders;
};

RunOutputs make_run_outputs(const RunOutputOptions& options);

/// What the lock of the outputs named `name` (a base name) is taken on: a
/// file named after the resolved path in the user's runtime folder
/// ($XDG_RUNTIME_DIR), else in the cache folder, never beside the mosaic,
/// so that the user's folder gets nothing but the mosaic's own files. See
/// base/file_lock.hpp.
std::filesystem::path output_lock_target(const std::string& name);

/// The check of the outputs before a run (see OutputCheck) for the outputs
/// `options` name.
OutputCheck make_output_check(const RunOutputOptions& options);

}  // namespace tess
