#pragma once
// The output steps of a run as the run driver calls them: naming the files of
// each mosaic and rendering and saving it.

#include <string>

#include "engine/run_driver.hpp"
#include "engine/thread_priority.hpp"
#include "output/mosaic_saver.hpp"

namespace tess {

class UserState;

struct RunOutputOptions {
  std::string output_file;  ///< the mosaic's file as the user named it (one main image only); empty: by the naming rules
  SplitPieceSize split;     ///< split piece size in pixels when the parameters ask for a split
  FrameRange frames;        ///< only these frames of a video mosaic
  int threads = 1;
  ThreadPriority priority = ThreadPriority::normal;
  const UserState* user_state = nullptr;  ///< mosaic counter and date of the first mosaic; null: left alone
};

RunOutputs make_run_outputs(const RunOutputOptions& options);

}  // namespace tess
