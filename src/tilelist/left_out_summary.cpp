// SPDX-License-Identifier: GPL-3.0-or-later
#include "tilelist/left_out_summary.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <utility>

#include "base/text.hpp"
#include "images/load_failure.hpp"
#include "images/picture_files.hpp"

namespace tess {
namespace {

constexpr std::string_view kUnsupportedFormat = "unsupported format";
constexpr std::array<std::string_view, 4> kKinds = {kUnsupportedFormat, "damaged", "too large", "camera not supported"};

// At most this many endings are named; the rest are counted in the total.
constexpr std::size_t kNamedTypes = 6;

// ".xcf 400, .mov 12": the most frequent first, ties by name.
std::string named_types(const std::map<std::string, long>& types) {
  std::vector<std::pair<std::string, long>> ordered(types.begin(), types.end());
  std::stable_sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
  std::string text;
  for (std::size_t i = 0; i < ordered.size() && i < kNamedTypes; ++i) {
    if (!text.empty()) text += ", ";
    text += (ordered[i].first.empty() ? tr("no ending") : ordered[i].first) + " " + std::to_string(ordered[i].second);
  }
  if (ordered.size() > kNamedTypes) text += ", …";
  return text;
}

}  // namespace

std::string skipped_reason(const Status& status) {
  std::string reason = load_failure_reason(status);
  if (!status.message().empty()) reason += ": " + status.message();
  return reason;
}

std::string_view reason_kind(std::string_view reason) {
  for (const std::string_view kind : kKinds)
    if (reason.starts_with(kind) && (reason.size() == kind.size() || reason.substr(kind.size(), 1) == ":"))
      return kind;
  return {};
}

std::string left_out_summary(const std::map<std::string, long>& unsupported_types,
                             const std::vector<SkippedFile>& skipped) {
  std::map<std::string, long> types = unsupported_types;
  long damaged = 0, too_large = 0, camera = 0, other = 0;
  for (const SkippedFile& file : skipped) {
    const std::string_view kind = reason_kind(file.reason);
    if (kind == kUnsupportedFormat)
      ++types[lower_extension(file.path)];
    else if (kind == "damaged")
      ++damaged;
    else if (kind == "too large")
      ++too_large;
    else if (kind == "camera not supported")
      ++camera;
    else
      ++other;
  }
  std::vector<std::string> parts;
  long unsupported = 0;
  for (const auto& [extension, count] : types) unsupported += count;
  const auto n = [](long count) { return static_cast<unsigned long>(count); };
  if (unsupported > 0)
    parts.push_back(format(trn("%ld file of an unsupported type (%s)", "%ld files of an unsupported type (%s)",
                               n(unsupported)),
                           unsupported, named_types(types)));
  if (damaged > 0) parts.push_back(format(trn("%ld damaged", "%ld damaged", n(damaged)), damaged));
  if (too_large > 0) parts.push_back(format(trn("%ld too large", "%ld too large", n(too_large)), too_large));
  if (camera > 0)
    parts.push_back(format(trn("%ld from a camera not supported", "%ld from cameras not supported", n(camera)), camera));
  if (other > 0) parts.push_back(format(trn("%ld could not be read", "%ld could not be read", n(other)), other));
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : "; ") + part;
  return text;
}

}  // namespace tess
