// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Why a picture could not be loaded, in the few words a summary groups files
// by. A decoder's failed Status carries the kind in its code (an errno value
// that means the same), so the kind travels wherever the Status goes and the
// text stays the decoder's own.

#include <cerrno>
#include <filesystem>
#include <string>

#include "base/status.hpp"

namespace tess {

enum class LoadFailure {
  none,                  ///< loaded
  unreadable,            ///< the file could not be opened or read (its errno says why)
  unsupported_format,    ///< a kind of file no decoder reads
  damaged,               ///< a known format whose contents are broken
  too_large,             ///< more pixels than memory or the decoding budget allow
  camera_not_supported,  ///< camera RAW from a camera the RAW library does not know
};

/// The codes a decoder's Status carries for each kind.
inline constexpr int kUnsupportedFormatCode = ENOTSUP;
inline constexpr int kDamagedCode = EILSEQ;
inline constexpr int kTooLargeCode = EFBIG;
inline constexpr int kCameraNotSupportedCode = ENODEV;

/// The kind of a load's Status. A failure without a code is a damaged file
/// (the JPEG and PNG decoders' own failures); out of memory is too large.
LoadFailure load_failure_of(const Status& status);

/// "unsupported format", "damaged", "too large", "camera not supported", or
/// for an unreadable file the system's text for its errno. Not translated:
/// these words go into files a program may read.
std::string load_failure_reason(const Status& status);

/// The failures decoders share, each with its text and code. `what` names
/// the format ("HEIF", "WebP", ...) and `detail` is the library's own word,
/// shown in brackets when not empty.
Status unsupported_picture(const std::filesystem::path& path, const std::string& detail);
Status damaged_picture(const char* what, const std::filesystem::path& path, const std::string& detail);
Status picture_too_large(const char* what, const std::filesystem::path& path, long long width, long long height);
Status file_too_large(const char* what, const std::filesystem::path& path);
Status camera_not_supported(const std::filesystem::path& path, const std::string& camera);

}  // namespace tess
