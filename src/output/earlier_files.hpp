// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Earlier files that new ones replace. Each new file is complete when it
// takes its name, but a mosaic of several files (split pieces, a picture a
// frame) stopped or failed half-way would leave new pieces mixed with those
// of the earlier mosaic, and a web mosaic is a whole folder. What is
// replaced is kept in a hidden folder beside it until every new file stands,
// and put back otherwise.

#include <string>
#include <utility>
#include <vector>

#include "base/text.hpp"

namespace tess {

class Prompt;

/// Said when an earlier file cannot be put back: the file, where it is kept.
inline constexpr const char* kEarlierFileKeptText = N_("The earlier file '%s' could not be put back: it is kept as '%s'.");

class EarlierFiles {
 public:
  /// The hidden folder is made beside `beside` (a file, or a folder with or
  /// without its last "/") when the first earlier file is kept.
  explicit EarlierFiles(std::string beside);
  /// What is still kept goes: the new files stand.
  ~EarlierFiles();
  EarlierFiles(const EarlierFiles&) = delete;
  EarlierFiles& operator=(const EarlierFiles&) = delete;

  /// Keeps what the file `path` holds now (linked into the hidden folder,
  /// else copied). A file that cannot be kept is written over as it would be
  /// without this; a device is written directly, never replaced.
  void keep(const std::string& path);

  /// The folder `folder` steps aside whole: it becomes the hidden folder, so
  /// that a new folder can take its name. False when it could not, errno
  /// saying why; nothing is kept then. An object keeps files or one folder.
  [[nodiscard]] bool move_aside(const std::string& folder);

  /// Puts everything kept back; a new file that had no earlier one goes.
  /// What cannot be put back stays in the hidden folder, which is then kept,
  /// and the user learns where: `kept_text` (a message id with the place of
  /// the file, then where it is kept) with the system's reason. True when
  /// everything is back.
  [[nodiscard]] bool restore(Prompt& prompt, const char* kept_text = kEarlierFileKeptText);

  /// The new files stand: the hidden folder goes.
  void forget();

 private:
  std::string m_beside;
  std::string m_folder;  ///< made when the first earlier file is kept, "/" included
  std::vector<std::pair<std::string, std::string>> m_kept;  ///< target, its earlier file ("" when none)
};

/// Puts the finished folder `made` in the place of the earlier `folder`: the
/// new one gets the earlier one's mode and group (it is seen by the same
/// people and web server, not only by this user), the earlier one steps
/// aside, the new one takes its name, and only then is the earlier one
/// removed. A failed step puts the earlier one back and is reported ("Unable
/// to save file '%s'" with `folder` and the system's reason); one that cannot
/// be put back is named where it is kept, with `kept_text`.
[[nodiscard]] bool replace_folder(const std::string& made, const std::string& folder, const char* kept_text,
                                  Prompt& prompt);

}  // namespace tess
