// SPDX-License-Identifier: GPL-3.0-or-later
#include "images/picture_files.hpp"

#include <utility>

#include "base/text.hpp"

namespace tess {

std::string picture_file_filter() {
  return tr("Image") + " (*.jpg *.jpeg *.jpe *.png *.JPG *.JPEG *.JPE *.PNG)";
}

FileRequest picture_file_request(std::string caption, std::string kind, bool multiple) {
  FileRequest request;
  request.caption = std::move(caption);
  request.kind = std::move(kind);
  request.filter = picture_file_filter();
  request.multiple = multiple;
  return request;
}

}  // namespace tess
