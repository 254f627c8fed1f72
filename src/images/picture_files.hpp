// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the file dialogs offer when they ask for a picture: the kinds of file
// the loader reads, in one place for every dialog.

#include <filesystem>
#include <string>
#include <string_view>

#include "base/prompt.hpp"

namespace tess {

/// The endings of the files the loader reads, upper case between "|"
/// characters: what folder scans take and the dialogs offer. The loader
/// itself goes by a file's contents.
inline constexpr const char* kPictureExtensions =
    "|JPG|JPEG|JPE|JFIF|PNG|HEIC|HEIF|HIF|AVIF|WEBP|TIF|TIFF|JXL|GIF|BMP|DIB|"
    "CR2|CR3|NEF|NRW|ARW|SRF|SR2|RAF|ORF|RW2|DNG|PEF|SRW|";

/// Whether the text after the last "." of `path`, in any case, is one of
/// `list` (upper case between "|" characters). A path without "." never is.
[[nodiscard]] bool extension_in_list(const std::string& path, std::string_view list);
/// The ending of a file name in lower case, with its dot (".jpg"); empty
/// for a name without one.
std::string lower_extension(const std::filesystem::path& path);

/// Whether `path` ends in one of kPictureExtensions, in any case.
[[nodiscard]] inline bool has_picture_extension(const std::string& path) {
  return extension_in_list(path, kPictureExtensions);
}

/// The dialog filter of the pictures the loader reads ("Image (*.jpg ...)"),
/// each ending in lower and upper case, since file names on Linux keep theirs
/// (Qt's dialogs match the pattern's case exactly).
std::string picture_file_filter();

/// An open dialog for one picture (several when `multiple`), remembering its
/// folder under `kind`.
FileRequest picture_file_request(std::string caption, std::string kind, bool multiple = false);

}  // namespace tess
