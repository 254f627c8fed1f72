#pragma once
// Two-way keyword tables of the enumerated settings. A settings file stores
// an enumerated value as its keyword ("Parquet (1:1)", "tilesxrow", "psd");
// a value the table has no keyword for (a combination of tile variants) is
// stored as its number plus one, so that 0 stays free for "missing".

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tess {

/// One keyword and the value it stands for.
struct KeywordEntry {
  const char* keyword;
  std::int32_t value;
};

class KeywordTable {
 public:
  KeywordTable(std::initializer_list<KeywordEntry> entries) : m_entries(entries) {}
  explicit KeywordTable(std::vector<KeywordEntry> entries) : m_entries(std::move(entries)) {}

  /// The value of `keyword`; keywords compare with their letter case.
  std::optional<std::int32_t> find(std::string_view keyword) const;
  /// The same, ignoring letter case (for text the user types).
  std::optional<std::int32_t> find_ignoring_case(std::string_view keyword) const;
  /// The first keyword of `value`, or nullptr when the table has none.
  const char* keyword_of(std::int32_t value) const;

  /// The stored form of `value`: its keyword, else the decimal value + 1.
  std::string encode(std::int32_t value) const;
  /// The value of a stored form: the keyword's value, else the text read as
  /// a whole number n giving n - 1, and 0 when n is 0 or the text is not a
  /// number. So a missing key and an unknown word both decode to 0.
  std::int32_t decode(std::string_view text) const;

  const std::vector<KeywordEntry>& entries() const { return m_entries; }

 private:
  std::vector<KeywordEntry> m_entries;
};

/// The whole text, blanks around it allowed, as a whole decimal number
/// (optionally signed); nullopt for anything else or a number beyond 64 bits.
std::optional<std::int64_t> read_whole_number(std::string_view text);
/// The whole text as a finite decimal number; nullopt for anything else.
std::optional<double> read_decimal_number(std::string_view text);

/// Units of the four unit keys: "cm" 1 .. "tilesxrow" 13.
const KeywordTable& unit_keywords();
/// Tile patterns: "Landscape" 1 .. "Landscape (10 rows)" 33.
const KeywordTable& pattern_keywords();
/// Tile adaptation: "No" 0, "Tile Size" 1, "Mosaic Size" 2.
const KeywordTable& adaptation_keywords();
/// Single tile variants: "original" 2 .. "rotated270" 64.
const KeywordTable& variant_keywords();
/// Mosaic processing: "standard" 1 .. "standard2" 9.
const KeywordTable& processing_keywords();
/// Image comparison: "stronger" 1, "best" 2, "weaker" 3.
const KeywordTable& comparison_keywords();
/// Image detail: "automatic" 1 .. "maximum_detail" 8.
const KeywordTable& detail_keywords();
/// Colour change priority: "high_tile" 1 .. "high_detail" 5.
const KeywordTable& colour_priority_keywords();
/// Sub-folder rule: "none" 1, "overwrite" 2, "new" 3.
const KeywordTable& subfolder_keywords();
/// File-name rule: "overwrite" 1, "new" 2.
const KeywordTable& file_name_keywords();
/// Output formats by their keywords (output_formats.hpp), then the packed forms
/// (format × 256 + JPEG quality, + 65536 for 64-bit TIFF): "tiff_jpg80",
/// "bigtiff_jpg95", "bigtiff", ...
const KeywordTable& format_keywords();

}  // namespace tess
