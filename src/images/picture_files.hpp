// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the file dialogs offer when they ask for a picture: the kinds of file
// the loader reads, in one place for every dialog.

#include <string>

#include "base/prompt.hpp"

namespace tess {

/// The dialog filter of the pictures the loader reads ("Image (*.jpg ...)"),
/// each ending in lower and upper case, since file names on Linux keep theirs.
std::string picture_file_filter();

/// An open dialog for one picture (several when `multiple`), remembering its
/// folder under `kind`.
FileRequest picture_file_request(std::string caption, std::string kind, bool multiple = false);

}  // namespace tess
