#include "settings/keyword_table.hpp"

#include <cctype>
#include <charconv>
#include <cmath>
#include <utility>

#include "settings/output_formats.hpp"

namespace tess {
namespace {

std::string_view trimmed(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

}  // namespace

std::optional<std::int64_t> read_whole_number(std::string_view text) {
  text = trimmed(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
  return value;
}

std::optional<double> read_decimal_number(std::string_view text) {
  text = trimmed(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
  if (ec != std::errc() || ptr != end || text.empty() || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<std::int32_t> KeywordTable::find(std::string_view keyword) const {
  for (const auto& e : m_entries)
    if (keyword == e.keyword) return e.value;
  return std::nullopt;
}

std::optional<std::int32_t> KeywordTable::find_ignoring_case(std::string_view keyword) const {
  if (auto exact = find(keyword)) return exact;
  for (const auto& e : m_entries)
    if (equal_ignoring_case(keyword, e.keyword)) return e.value;
  return std::nullopt;
}

const char* KeywordTable::keyword_of(std::int32_t value) const {
  for (const auto& e : m_entries)
    if (e.value == value) return e.keyword;
  return nullptr;
}

std::string KeywordTable::encode(std::int32_t value) const {
  if (const char* keyword = keyword_of(value)) return keyword;
  return std::to_string(static_cast<std::int64_t>(value) + 1);
}

std::int32_t KeywordTable::decode(std::string_view text) const {
  if (auto value = find(text)) return *value;
  auto n = read_whole_number(text);
  // A number that does not fit a code is as meaningless as an unknown word.
  if (!n || *n == 0 || *n <= INT32_MIN || *n > INT32_MAX) return 0;
  return static_cast<std::int32_t>(*n - 1);
}

const KeywordTable& unit_keywords() {
  static const KeywordTable table{{"cm", 1},    {"inch", 2}, {"pixel", 3}, {"kp", 4},    {"mp", 5},
                                  {"gp", 6},    {"mm", 7},   {"m", 8},     {"feet", 9},  {"ppi", 10},
                                  {"dpi", 11},  {"tiles", 12}, {"tilesxrow", 13}};
  return table;
}

const KeywordTable& pattern_keywords() {
  static const KeywordTable table{
      {"Landscape", 1},           {"Landscape (2 rows)", 2},  {"Landscape (3 rows)", 3}, {"Landscape (5 rows)", 4},
      {"Mixed (1:1)", 5},         {"Mixed (1:2)", 6},         {"Mixed (1:3)", 7},        {"Mixed (1:5)", 8},
      {"Mixed (1:8)", 9},         {"Mixed (2:1)", 10},        {"Mixed (3:1)", 11},       {"Mixed (5:1)", 12},
      {"Mixed2 (1:1)", 13},       {"Mixed2 (1:2)", 14},       {"Mixed2 (1:3)", 15},      {"Mixed2 (1:5)", 16},
      {"Mixed2 (1:8)", 17},       {"Mixed2 (2:1)", 18},       {"Mixed2 (3:1)", 19},      {"Mixed2 (5:1)", 20},
      {"Parquet (1:1)", 21},      {"Parquet (2:1)", 22},      {"Parquet (3:1)", 23},     {"Parquet (5:1)", 24},
      {"Parquet (1:2)", 25},      {"Parquet (1:3)", 26},      {"Parquet (1:5)", 27},     {"Portrait", 28},
      {"Portrait (2 rows)", 29},  {"Portrait (3 rows)", 30},  {"Portrait (5 rows)", 31}, {"Landscape (7 rows)", 32},
      {"Landscape (10 rows)", 33},
  };
  return table;
}

const KeywordTable& adaptation_keywords() {
  static const KeywordTable table{{"No", 0}, {"Tile Size", 1}, {"Mosaic Size", 2}};
  return table;
}

const KeywordTable& variant_keywords() {
  static const KeywordTable table{{"original", 2},    {"mirror", 4},     {"flipvertically", 8},
                                  {"rotated180", 16}, {"rotated90", 32}, {"rotated270", 64}};
  return table;
}

const KeywordTable& processing_keywords() {
  static const KeywordTable table{{"standard", 1}, {"faster", 2},          {"custom", 3},
                                  {"sequential", 4}, {"random", 5},       {"folder", 6},
                                  {"sequential_date", 7}, {"standard1", 8}, {"standard2", 9}};
  return table;
}

const KeywordTable& comparison_keywords() {
  static const KeywordTable table{{"stronger", 1}, {"best", 2}, {"weaker", 3}, {"perceptual", 4}};
  return table;
}

const KeywordTable& detail_keywords() {
  static const KeywordTable table{{"automatic", 1},   {"no_detail", 2},   {"very_low_detail", 3},
                                  {"low_detail", 4},  {"medium_detail", 5}, {"high_detail", 6},
                                  {"very_high_detail", 7}, {"maximum_detail", 8}};
  return table;
}

const KeywordTable& colour_priority_keywords() {
  static const KeywordTable table{
      {"high_tile", 1}, {"good_tile", 2}, {"balanced", 3}, {"good_detail", 4}, {"high_detail", 5}};
  return table;
}

const KeywordTable& subfolder_keywords() {
  static const KeywordTable table{{"none", 1}, {"overwrite", 2}, {"new", 3}};
  return table;
}

const KeywordTable& file_name_keywords() {
  static const KeywordTable table{{"overwrite", 1}, {"new", 2}};
  return table;
}

const KeywordTable& format_keywords() {
  // The program never runs under Wine, so the two AVI keywords always exist.
  static const KeywordTable table = [] {
    std::vector<KeywordEntry> entries;
    for (const OutputFormat& row : output_formats()) entries.push_back({row.keyword, format_number(row.code)});
    // Then the forms that pack the JPEG quality and the 64-bit flag with the format.
    constexpr auto packed = packed_format_number;
    using C = OutputFormatCode;
    entries.insert(entries.end(), {{"tiff_jpg100", packed(C::tiff_jpg, 100, false)},
                                   {"tiff_jpg95", packed(C::tiff_jpg, 95, false)},
                                   {"tiff_jpg80", packed(C::tiff_jpg, 80, false)},
                                   {"tiff_jpg60", packed(C::tiff_jpg, 60, false)},
                                   {"tiff_jpg40", packed(C::tiff_jpg, 40, false)},
                                   {"bigtiff_jpg100", packed(C::tiff_jpg, 100, true)},
                                   {"bigtiff_jpg95", packed(C::tiff_jpg, 95, true)},
                                   {"bigtiff_jpg80", packed(C::tiff_jpg, 80, true)},
                                   {"bigtiff_jpg60", packed(C::tiff_jpg, 60, true)},
                                   {"bigtiff_jpg40", packed(C::tiff_jpg, 40, true)},
                                   {"bigtiff", packed(C::tiff, 95, true)}});
    return KeywordTable(std::move(entries));
  }();
  return table;
}

}  // namespace tess
