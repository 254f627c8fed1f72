// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The user's files come first. No output of a run may replace a file the run
// reads (a main image, a mask, the list, one of its pictures, ...), and a
// folder the program did not write is never replaced or written into: every
// folder it writes carries a small mark, written last, naming the program.

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "engine/run_driver.hpp"

namespace tess {

class Prompt;
struct MosaicParameters;
struct OutputNames;

/// The mark of a folder the program wrote: its first line names the program
/// and its version, the lines after it the files of the folder that are
/// neither tiles nor the mark.
inline constexpr const char* kFolderMarkName = ".tessellarium";

/// The folders a mosaic writes, by what they may hold.
enum class OwnedFolder {
  web,    ///< a RezIroriz: its page, the viewer's files and the folders of tiles
  tiles,  ///< individual tiles, one picture a cell
};

/// Writes the mark into `folder` (with or without its last "/"), listing
/// `files` (paths relative to the folder). False when it could not be written.
[[nodiscard]] bool mark_folder(const std::string& folder, const std::vector<std::string>& files);

/// Whether the program may replace or write into `folder`: it does not
/// exist, or it is a folder holding nothing but what the program writes
/// there (the files its mark lists, or those an earlier version wrote before
/// folders were marked). Otherwise `foreign` names the first entry that is
/// not the program's (the folder itself when it is no folder).
[[nodiscard]] bool folder_is_ours(const std::string& folder, OwnedFolder kind, std::string& foreign);

/// The user's answer when a folder is not ours: the message of the refusal.
std::string foreign_folder_text(const std::string& folder);

/// The folders of somebody else's that the user, asked in the window, let
/// the run keep under another name so that the mosaic's folder can take
/// their place. The command line asks nothing: such a folder refuses its run.
struct KeptFolders {
  std::set<std::string> folders;  ///< as the mosaic names them, without the last "/"
};

/// When the outputs are checked: before the run, where a folder of somebody
/// else's is asked about, or as the run names a mosaic, where a folder the
/// user let go is renamed out of the way.
enum class OutputCheckStep { plan, naming };

/// Checks the outputs of one mosaic named `names` (and the placement file
/// it saves, when not empty) before anything is written: none may be, or lie
/// inside a folder that holds, one of the files the run reads, and no folder
/// of the mosaic may belong to somebody else (unless the user lets `kept`
/// keep it aside). Only the outputs that exist are looked at, and only
/// pictures of the list of the same stored size as one of them are compared
/// with it. False after reporting the clash, or when the user said No.
[[nodiscard]] bool check_outputs_spare_inputs(const OutputNames& names, const MosaicParameters& parameters,
                                              const std::string& save_placement, const ReadFiles& reads,
                                              Prompt& prompt, KeptFolders* kept = nullptr,
                                              OutputCheckStep step = OutputCheckStep::plan);

/// Renames `folder` (without its last "/") to the first free "folder (N)",
/// never over anything that exists. False with errno's value in `error`.
[[nodiscard]] bool keep_aside(const std::string& folder, std::string& kept_as, int& error);

}  // namespace tess
