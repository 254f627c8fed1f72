// SPDX-License-Identifier: GPL-3.0-or-later
#include "images/load_failure.hpp"

#include <cstring>

#include "base/text.hpp"

namespace tess {
namespace {

std::string with_detail(std::string text, const std::string& detail) {
  if (!detail.empty()) text += " (" + detail + ")";
  return text;
}

}  // namespace

LoadFailure load_failure_of(const Status& status) {
  if (status.ok()) return LoadFailure::none;
  switch (status.code()) {
    case 0:
    case kDamagedCode:
      return LoadFailure::damaged;
    case kUnsupportedFormatCode:
      return LoadFailure::unsupported_format;
    case kTooLargeCode:
    case ENOMEM:
      return LoadFailure::too_large;
    case kCameraNotSupportedCode:
      return LoadFailure::camera_not_supported;
    default:
      return LoadFailure::unreadable;
  }
}

std::string load_failure_reason(const Status& status) {
  switch (load_failure_of(status)) {
    case LoadFailure::none:
      return {};
    case LoadFailure::unsupported_format:
      return "unsupported format";
    case LoadFailure::damaged:
      return "damaged";
    case LoadFailure::too_large:
      return "too large";
    case LoadFailure::camera_not_supported:
      return "camera not supported";
    case LoadFailure::unreadable:
      break;
  }
  return std::strerror(status.code());
}

Status unsupported_picture(const std::filesystem::path& path, const std::string& detail) {
  return Status::failure(with_detail(format(tr("%s: unsupported format"), path.string()), detail), Icon::error,
                         kUnsupportedFormatCode);
}

Status damaged_picture(const char* what, const std::filesystem::path& path, const std::string& detail) {
  return Status::failure(with_detail(format(tr("%s: the file %s is damaged"), what, path.string()), detail),
                         Icon::error, kDamagedCode);
}

Status picture_too_large(const char* what, const std::filesystem::path& path, long long width, long long height) {
  return Status::failure(
      format(tr("%s: the picture %s of %lldx%lld pixels is too large to load"), what, path.string(), width, height),
      Icon::error, kTooLargeCode);
}

Status file_too_large(const char* what, const std::filesystem::path& path) {
  return Status::failure(format(tr("%s: the file %s is too large to load"), what, path.string()), Icon::error,
                         kTooLargeCode);
}

Status camera_not_supported(const std::filesystem::path& path, const std::string& camera) {
  return Status::failure(with_detail(format(tr("%s: camera not supported"), path.string()), camera), Icon::error,
                         kCameraNotSupportedCode);
}

}  // namespace tess
