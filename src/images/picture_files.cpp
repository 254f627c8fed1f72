// SPDX-License-Identifier: GPL-3.0-or-later
#include "images/picture_files.hpp"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <utility>

#include "base/text.hpp"

namespace tess {

bool extension_in_list(const std::string& path, std::string_view list) {
  const auto dot = path.rfind('.');
  if (dot == std::string::npos) return false;
  std::string extension = path.substr(dot + 1);
  // "a.jpg/b" has its dot in a folder name, and "|" in a name would let
  // "JPG|PNG" pass the list test.
  if (extension.empty() || extension.find_first_of("/|") != std::string::npos) return false;
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return list.find("|" + extension + "|") != std::string_view::npos;
}

std::string lower_extension(const std::filesystem::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

std::string picture_file_filter() {
  std::string lower, upper;
  const std::string_view all(kPictureExtensions);
  for (std::size_t start = 1; start < all.size();) {
    const std::size_t end = all.find('|', start);
    std::string ending(all.substr(start, end - start));
    upper += " *." + ending;
    std::transform(ending.begin(), ending.end(), ending.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    lower += " *." + ending;
    start = end + 1;
  }
  return tr("Image") + " (" + lower.substr(1) + upper + ")";
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
