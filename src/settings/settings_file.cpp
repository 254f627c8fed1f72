#include "settings/settings_file.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

#include "base/paths.hpp"
#include "base/text.hpp"
#include "settings/keyword_table.hpp"

namespace tess {
namespace {

// ---- Keys and their fields ------------------------------------------------------

struct WholeField {
  const char* key;
  std::int32_t MosaicParameters::*member;
  std::int64_t minimum;
  std::int64_t maximum;
};

// Whole numbers that a section always sets (0 when the key is missing).
constexpr std::int64_t kIntMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kIntMax = std::numeric_limits<std::int32_t>::max();
const WholeField kTileDuplication{"TileDuplication", &MosaicParameters::tile_duplication, 0, 10000};
const WholeField kDuplicateSpacing{"DuplicateSpacing", &MosaicParameters::duplicate_spacing, 0, 10000};
const WholeField kHalfTiles{"MultiSize2", &MosaicParameters::half_tiles, 0, 80};
const WholeField kQuarterTiles{"MultiSize4", &MosaicParameters::quarter_tiles, 0, 80};
const WholeField kColourChange{"ColorChange", &MosaicParameters::colour_change, 0, 100};
const WholeField kConsecutiveFrames{"ConsecutiveFrames", &MosaicParameters::consecutive_frames, 0, 10000};
const WholeField kBorderColour{"BorderColor", &MosaicParameters::border_colour, 0, 0xFFFFFF};
const WholeField* const kWholeFields[] = {&kTileDuplication, &kDuplicateSpacing, &kHalfTiles, &kQuarterTiles,
                                          &kColourChange, &kConsecutiveFrames, &kBorderColour};
const WholeField kPopUpImage{"RezIrorizPopUpImage", &MosaicParameters::web_popup_image, 0, 10000};
const WholeField kPopUpText{"RezIrorizPopUpText", &MosaicParameters::web_popup_text, kIntMin, kIntMax};
const WholeField kJpegQuality{"JPGQuality", &MosaicParameters::jpeg_quality, 1, 100};

struct FlagField {
  const char* key;
  bool MosaicParameters::*member;
  bool missing;  ///< the value when the key is missing
};

const FlagField kFlagFields[] = {
    {"UseAllImages", &MosaicParameters::use_all_images, false},
    {"OutputTransparency", &MosaicParameters::output_transparency, false},
    {"OutputLayers", &MosaicParameters::output_layers, false},
    {"OutputTIFF64", &MosaicParameters::output_tiff64, false},
    {"TextReport", &MosaicParameters::text_report, false},
    {"IndividualTiles", &MosaicParameters::individual_tiles, false},
    {"SplitMosaic", &MosaicParameters::split_mosaic, false},
    {"CreateMaskFile", &MosaicParameters::create_mask_file, false},
    {"RezIroriz", &MosaicParameters::web_output, true},
    // The program never runs under Wine, where image copies would be the default.
    {"RezIrorizCopyImages", &MosaicParameters::web_copy_images, false},
};

struct CodeField {
  const char* key;
  std::int32_t MosaicParameters::*member;
  const KeywordTable& (*table)();
  std::int32_t minimum;
  std::int32_t maximum;
};

// Enumerated values that a section always sets from their decoding; 0 (a
// missing key or an unknown word) is passed on, the run reads it as its default.
const CodeField kProcessing{"MosaicProcessing", &MosaicParameters::processing, processing_keywords, 1, 9};
const CodeField kComparison{"ImageCompare", &MosaicParameters::comparison, comparison_keywords, 1, 4};
const CodeField kDetail{"ImageDetail", &MosaicParameters::detail, detail_keywords, 1, 8};
const CodeField kColourPriority{"ColorChangePriority", &MosaicParameters::colour_priority, colour_priority_keywords,
                                1, 5};
const CodeField kSubfolder{"MosaicSubdirectory", &MosaicParameters::subfolder_rule, subfolder_keywords, 1, 3};
const CodeField kFileName{"MosaicFileName", &MosaicParameters::file_name_rule, file_name_keywords, 1, 2};
const CodeField* const kCodeFields[] = {&kProcessing,     &kComparison, &kDetail,
                                        &kColourPriority, &kSubfolder,  &kFileName};
// The pattern is stored as a code too, but converted to a PatternCode.
constexpr const char* kPatternKey = "Pattern";
const CodeField kAdaptField{"TileAdapt", &MosaicParameters::tile_adaptation, adaptation_keywords, kAdaptNo,
                            kAdaptMosaicSize};

// A value with its unit, stored under two keys.
struct UnitField {
  const char* unit_key;
  const char* value_key;
  UnitValue MosaicParameters::*member;
  const ParameterField* limits;
};

const UnitField kResolution{"ResolutionUnit", "ResolutionSize", &MosaicParameters::resolution, &kResolutionField};
const UnitField kTileSize{"TileUnit", "TileSize", &MosaicParameters::tile_size, &kTileSizeField};
const UnitField kBorderSize{"BorderSizeUnit", "BorderSizeWidth", &MosaicParameters::border_size, &kBorderSizeField};

// ---- Writing --------------------------------------------------------------------

std::string decimal(double value) { return format("%f", value); }

// A mosaic side is stored with six decimals: one that would be stored as 0
// could be saved but never loaded again.
bool is_storable_size_side(double value) {
  if (!is_valid_size_side(value)) return false;
  const auto stored = read_decimal_number(decimal(value));
  return stored && is_valid_size_side(*stored);
}

// Whole values keep the file's integer form; a fractional one (a border of
// 0.5 cm) is written in full rather than truncated to a different size.
std::string whole_or_decimal(double value) {
  if (std::trunc(value) == value && std::fabs(value) < 9e15) return format("%d", static_cast<long long>(value));
  return decimal(value);
}

std::string flag(bool on) { return on ? "1" : "0"; }

void write_keys(IniFile& ini, const std::string& s, const MosaicParameters& p, const std::string& tile_list,
                bool with_advanced) {
  const KeywordTable& units = unit_keywords();
  auto whole = [&](const WholeField& f) { ini.set(s, f.key, std::to_string(p.*f.member)); };
  auto code = [&](const CodeField& f) { ini.set(s, f.key, f.table().encode(p.*f.member)); };
  auto flag_of = [&](const char* key) {
    for (const auto& f : kFlagFields)
      if (std::string_view(key) == f.key) ini.set(s, key, flag(p.*f.member));
  };

  ini.set(s, "Version", "1");
  ini.set(s, "MosaicSizeUnit", units.encode(p.mosaic_size.unit));
  ini.set(s, "MosaicSizeWidth", decimal(p.mosaic_size.width));
  ini.set(s, "MosaicSizeHeight", decimal(p.mosaic_size.height));
  ini.set(s, kResolution.unit_key, units.encode(p.resolution.unit));
  ini.set(s, kResolution.value_key, whole_or_decimal(p.resolution.value));
  ini.set(s, kTileSize.unit_key, units.encode(p.tile_size.unit));
  ini.set(s, kTileSize.value_key, decimal(p.tile_size.value));
  whole(kHalfTiles);
  whole(kQuarterTiles);
  whole(kTileDuplication);
  whole(kDuplicateSpacing);
  ini.set(s, kPatternKey, pattern_keywords().encode(pattern_number(p.pattern)));
  code(kAdaptField);
  whole(kColourChange);
  ini.set(s, "TileVariants", variant_keywords().encode(p.tile_variants.mask()));
  code(kProcessing);
  code(kComparison);
  code(kDetail);
  code(kColourPriority);
  flag_of("UseAllImages");
  ini.set(s, "FileFormat", format_keywords().encode(format_number(p.output_format)));
  whole(kJpegQuality);
  flag_of("OutputTransparency");
  flag_of("OutputLayers");
  flag_of("OutputTIFF64");
  ini.set(s, "MosaicDirectory", p.mosaic_directory);
  code(kSubfolder);
  code(kFileName);
  flag_of("RezIroriz");
  flag_of("RezIrorizCopyImages");
  whole(kPopUpImage);
  whole(kPopUpText);
  ini.set(s, "RezIrorizTitle", p.web_title);
  flag_of("TextReport");
  flag_of("IndividualTiles");
  flag_of("SplitMosaic");
  flag_of("CreateMaskFile");
  whole(kConsecutiveFrames);
  whole(kBorderColour);
  ini.set(s, kBorderSize.unit_key, units.encode(p.border_size.unit));
  ini.set(s, kBorderSize.value_key, whole_or_decimal(p.border_size.value));
  ini.set(s, "Advanced.Version", flag(with_advanced));
  const auto& options = advanced_option_table();
  for (std::size_t i = 0; i < kAdvancedOptionCount; ++i)
    ini.set(s, std::string(kAdvancedKeyPrefix) + options[i].key, with_advanced ? p.advanced.value(i) : std::string());
  ini.set(s, kTileListKey, tile_list);
}

// ---- Reading --------------------------------------------------------------------

// Reads one section, collecting the keys whose values it refused.
class SectionReader {
 public:
  SectionReader(const IniFile& ini, const std::string& section, std::vector<std::string>& ignored)
      : m_ini(ini), m_section(section), m_ignored(ignored) {}

  // The value; an empty value counts as missing.
  std::optional<std::string> text(const char* key) const {
    auto v = m_ini.get(m_section, key);
    if (v && v->empty()) return std::nullopt;
    return v;
  }

  void ignore(const char* key) { m_ignored.emplace_back(key); }

  // A whole number, `missing` when the key is; nullopt (and the key named)
  // when the value is not a whole number within the limits.
  std::optional<std::int64_t> whole(const char* key, std::int64_t missing, std::int64_t minimum,
                                    std::int64_t maximum) {
    auto t = text(key);
    if (!t) return missing;
    auto n = read_whole_number(*t);
    if (!n || *n < minimum || *n > maximum) {
      ignore(key);
      return std::nullopt;
    }
    return n;
  }

  // The decoded code of an enumerated key. A text that is neither a keyword
  // nor a number is named as ignored (it decodes to 0).
  std::int32_t code(const char* key, const KeywordTable& table) {
    auto t = text(key);
    if (!t) return 0;
    if (!table.find(*t) && !read_whole_number(*t)) ignore(key);
    return table.decode(*t);
  }

  bool flag(const char* key, bool missing) {
    auto t = text(key);
    if (!t) return missing;
    auto n = read_whole_number(*t);
    if (!n) {
      ignore(key);
      return missing;
    }
    return *n != 0;
  }

 private:
  const IniFile& m_ini;
  const std::string& m_section;
  std::vector<std::string>& m_ignored;
};

// A unit key with its value key: a unit that decodes to 0 leaves both as they
// are; so do a unit the field does not take and a value outside its limits.
void read_unit_value(SectionReader& r, const UnitField& f, MosaicParameters& p) {
  UnitCode unit = r.code(f.unit_key, unit_keywords());
  if (unit == kUnitNone) return;
  if (!f.limits->allowed.contains(unit)) {
    r.ignore(f.unit_key);
    return;
  }
  auto t = r.text(f.value_key);
  auto value = t ? read_decimal_number(*t) : std::optional<double>(0.0);
  if (!value || !f.limits->accepts({*value, unit})) {
    r.ignore(f.value_key);
    return;
  }
  p.*f.member = {*value, unit};
}

void read_mosaic_size(SectionReader& r, MosaicParameters& p) {
  UnitCode unit = r.code("MosaicSizeUnit", unit_keywords());
  if (unit == kUnitNone) return;
  if (!kMosaicSizeUnits.contains(unit)) {
    r.ignore("MosaicSizeUnit");
    return;
  }
  auto side = [&](const char* key) -> std::optional<double> {
    auto t = r.text(key);
    auto v = t ? read_decimal_number(*t) : std::optional<double>(0.0);
    if (!v || !is_storable_size_side(*v)) {
      r.ignore(key);
      return std::nullopt;
    }
    return v;
  };
  auto width = side("MosaicSizeWidth");
  auto height = side("MosaicSizeHeight");
  if (width && height) p.mosaic_size = {*width, *height, unit};
}

void read_format(SectionReader& r, MosaicParameters& p) {
  std::int64_t quality = r.whole("JPGQuality", 0, kIntMin, kIntMax).value_or(0);
  auto stored = r.text("FileFormat");
  std::int64_t older = stored ? read_whole_number(*stored).value_or(0) : 0;
  if (older != 0) {
    // Older files kept only JPEG mosaics and stored their quality here.
    p.output_format = OutputFormatCode::jpg;
    quality = std::min<std::int64_t>(older, 100);
  } else if (stored) {
    std::int64_t k = format_keywords().decode(*stored);
    const std::optional<OutputFormatCode> format = format_of_number(k >= 256 ? (k / 256) % 256 : k);
    if (!format) {
      r.ignore("FileFormat");
    } else {
      p.output_format = *format;
      if (k >= 256) {
        p.output_tiff64 = k >= 65536;
        quality = k % 256;
      }
    }
  }
  p.jpeg_quality = quality <= 0 || quality > 100 ? kDefaultJpegQuality : static_cast<std::int32_t>(quality);
}

void read_advanced(const IniFile& ini, const std::string& section, SectionReader& r, MosaicParameters& p,
                   const IniFile& config) {
  if (r.whole("Advanced.Version", 0, kIntMin, kIntMax).value_or(0) == 1) {
    const auto& options = advanced_option_table();
    for (std::size_t i = 0; i < kAdvancedOptionCount; ++i)
      p.advanced.set_value(i, ini.get(section, std::string(kAdvancedKeyPrefix) + options[i].key, ""));
    p.advanced.initialise_all(false, config);  // options the section left empty
  } else {
    // Settings saved without advanced options run with the user's defaults.
    p.advanced.initialise_all(true, config);
  }
}

// ---- Single keys (the command line's KEY=VALUE) ------------------------------

std::optional<std::int32_t> code_from_text(const KeywordTable& table, const std::string& text) {
  if (auto v = table.find_ignoring_case(text)) return v;
  auto n = read_whole_number(text);
  if (!n || *n == 0 || *n <= kIntMin || *n > kIntMax) return std::nullopt;
  return static_cast<std::int32_t>(*n - 1);
}

SettingChange refused_unless(bool ok) { return ok ? SettingChange::applied : SettingChange::refused; }

SettingChange apply_unit(MosaicParameters& p, const UnitField& f, const std::string& key, const std::string& text) {
  UnitValue& v = p.*f.member;
  if (iequals(key, f.unit_key)) {
    auto unit = code_from_text(unit_keywords(), text);
    if (!unit || !f.limits->allowed.contains(*unit)) return SettingChange::refused;
    v.unit = *unit;
    return SettingChange::applied;
  }
  auto value = read_decimal_number(text);
  if (!value || *value < f.limits->minimum || *value > f.limits->maximum) return SettingChange::refused;
  v.value = *value;
  return SettingChange::applied;
}

SettingChange apply_format(MosaicParameters& p, const std::string& text) {
  // Only keywords: a plain number here would be an older file's JPEG quality.
  auto k = format_keywords().find_ignoring_case(text);
  if (!k) return SettingChange::refused;
  const std::optional<OutputFormatCode> format = format_of_number(*k >= 256 ? (*k / 256) % 256 : *k);
  if (!format) return SettingChange::refused;
  p.output_format = *format;
  if (*k >= 256) {
    p.jpeg_quality = *k % 256;
    p.output_tiff64 = *k >= 65536;
  }
  return SettingChange::applied;
}

}  // namespace

// ---- Names and places ---------------------------------------------------------------

std::string settings_file_name() { return format("TessellariumSettings%dx%d.txt", 12, 9); }

std::filesystem::path settings_file_path() { return settings_folder() / settings_file_name(); }

std::filesystem::path settings_copy_path(const std::filesystem::path& output_base) {
  std::filesystem::path path = output_base;
  path += tr(" Settings") + ".txt";
  return path;
}

std::optional<std::string> valid_settings_name(std::string_view name) {
  auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!name.empty() && blank(name.front())) name.remove_prefix(1);
  while (!name.empty() && blank(name.back())) name.remove_suffix(1);
  if (name.empty() || name.front() == '(' || name.back() == ')') return std::nullopt;
  // A section name holds one line and cannot hold the brackets that delimit it.
  if (name.find_first_of("[]\r\n") != std::string_view::npos) return std::nullopt;
  return std::string(name);
}

const std::vector<std::string>& settings_keys() {
  static const std::vector<std::string> keys = [] {
    IniFile ini;
    write_keys(ini, "s", MosaicParameters{}, "", false);
    std::vector<std::string> all;
    for (auto& key : ini.keys("s"))
      if (!starts_with_ignoring_case(key, kAdvancedKeyPrefix) || iequals(key, "Advanced.Version")) all.push_back(key);
    return all;
  }();
  return keys;
}

std::int64_t settings_version(const IniFile& ini, const std::string& section) {
  auto text = ini.get(section, "Version");
  return text ? read_whole_number(*text).value_or(0) : 0;
}

// ---- Sections ---------------------------------------------------------------------

void write_settings_section(IniFile& ini, const std::string& section, const MosaicParameters& params,
                            const std::string& tile_list, bool with_advanced) {
  // Emptied rather than removed, so the section keeps its place in the list.
  for (const auto& key : ini.keys(section)) ini.remove_key(section, key);
  write_keys(ini, section, params, tile_list, with_advanced);
}

SettingsLoad read_settings_section(const IniFile& ini, const std::string& section, MosaicParameters& p,
                                   const IniFile& config) {
  SettingsLoad result;
  if (settings_version(ini, section) != 1) return result;
  result.loaded = true;
  SectionReader r(ini, section, result.ignored_keys);

  // 1. Sizes with their units.
  read_mosaic_size(r, p);
  read_unit_value(r, kResolution, p);
  read_unit_value(r, kTileSize, p);

  // 2. Whole numbers, 0 when missing.
  for (const WholeField* f : kWholeFields)
    if (auto n = r.whole(f->key, 0, f->minimum, f->maximum)) p.*f->member = static_cast<std::int32_t>(*n);

  // 3. Pattern and adaptation change only for a value other than 0.
  if (std::int32_t v = r.code(kPatternKey, pattern_keywords()); v != 0) {
    if (const auto pattern = pattern_of_number(v)) p.pattern = *pattern;
    else r.ignore(kPatternKey);
  }
  if (std::int32_t v = r.code(kAdaptField.key, kAdaptField.table()); v != 0) {
    if (v < kAdaptField.minimum || v > kAdaptField.maximum) r.ignore(kAdaptField.key);
    else p.tile_adaptation = v;
  }

  // 4. Tile variants, when given.
  if (r.text("TileVariants")) {
    std::int32_t v = r.code("TileVariants", variant_keywords());
    if (const auto variants = TileVariantFlags::of_mask(v)) p.tile_variants = *variants;
    else r.ignore("TileVariants");
  }

  // 5. The other enumerated values, always set.
  for (const CodeField* f : kCodeFields) {
    std::int32_t v = r.code(f->key, f->table());
    if (v != 0 && (v < f->minimum || v > f->maximum)) r.ignore(f->key);
    else p.*f->member = v;
  }

  // 6. Switches.
  for (const auto& f : kFlagFields) p.*f.member = r.flag(f.key, f.missing);

  // 7. Output format and JPEG quality.
  read_format(r, p);

  // 8. Destination and RezIroriz.
  if (auto dir = r.text("MosaicDirectory")) p.mosaic_directory = *dir;
  for (const WholeField* f : {&kPopUpImage, &kPopUpText}) {
    std::int64_t missing = f == &kPopUpImage ? kDefaultPopUpImage : kDefaultPopUpText;
    if (auto n = r.whole(f->key, missing, f->minimum, f->maximum)) p.*f->member = static_cast<std::int32_t>(*n);
  }
  auto title = ini.get(section, "RezIrorizTitle");
  p.web_title = title ? *title : default_web_title();

  // 9. Border.
  read_unit_value(r, kBorderSize, p);

  // 10. Advanced options and the list.
  read_advanced(ini, section, r, p, config);
  result.tile_list = ini.get(section, kTileListKey, "");
  return result;
}

SettingChange apply_setting(MosaicParameters& p, const std::string& key, const std::string& text) {
  if (text.find_first_of("\r\n") != std::string::npos) return SettingChange::refused;

  if (starts_with_ignoring_case(key, kAdvancedKeyPrefix)) {
    std::string option_key = key.substr(std::string_view(kAdvancedKeyPrefix).size());
    if (iequals(option_key, "Version")) return refused_unless(text == "0" || text == "1");
    auto index = find_advanced_option(option_key);
    if (!index) return SettingChange::unknown_key;
    auto value = normalise_advanced_value(*index, text);
    if (!value) return SettingChange::refused;
    p.advanced.set_value(*index, *value);
    return SettingChange::applied;
  }
  if (iequals(key, "Version")) return refused_unless(read_whole_number(text) == 1);

  if (iequals(key, "MosaicSizeUnit")) {
    auto unit = code_from_text(unit_keywords(), text);
    if (!unit || !kMosaicSizeUnits.contains(*unit)) return SettingChange::refused;
    p.mosaic_size.unit = *unit;
    return SettingChange::applied;
  }
  if (iequals(key, "MosaicSizeWidth") || iequals(key, "MosaicSizeHeight")) {
    auto v = read_decimal_number(text);
    if (!v || !is_storable_size_side(*v)) return SettingChange::refused;
    (iequals(key, "MosaicSizeWidth") ? p.mosaic_size.width : p.mosaic_size.height) = *v;
    return SettingChange::applied;
  }
  for (const UnitField* f : {&kResolution, &kTileSize, &kBorderSize})
    if (iequals(key, f->unit_key) || iequals(key, f->value_key)) return apply_unit(p, *f, key, text);

  std::vector<const WholeField*> wholes(std::begin(kWholeFields), std::end(kWholeFields));
  wholes.insert(wholes.end(), {&kPopUpImage, &kPopUpText, &kJpegQuality});
  for (const WholeField* f : wholes) {
    if (!iequals(key, f->key)) continue;
    auto n = read_whole_number(text);
    if (!n || *n < f->minimum || *n > f->maximum) return SettingChange::refused;
    p.*f->member = static_cast<std::int32_t>(*n);
    return SettingChange::applied;
  }
  for (const auto& f : kFlagFields) {
    if (!iequals(key, f.key)) continue;
    if (text != "0" && text != "1") return SettingChange::refused;
    p.*f.member = text == "1";
    return SettingChange::applied;
  }
  std::vector<const CodeField*> codes(std::begin(kCodeFields), std::end(kCodeFields));
  codes.insert(codes.end(), {&kAdaptField});
  for (const CodeField* f : codes) {
    if (!iequals(key, f->key)) continue;
    auto v = code_from_text(f->table(), text);
    if (!v || *v < f->minimum || *v > f->maximum) return SettingChange::refused;
    p.*f->member = *v;
    return SettingChange::applied;
  }
  if (iequals(key, kPatternKey)) {
    const auto v = code_from_text(pattern_keywords(), text);
    const auto pattern = v ? pattern_of_number(*v) : std::nullopt;
    if (!pattern) return SettingChange::refused;
    p.pattern = *pattern;
    return SettingChange::applied;
  }
  if (iequals(key, "TileVariants")) {
    const auto v = code_from_text(variant_keywords(), text);
    const auto variants = v ? TileVariantFlags::of_mask(*v) : std::nullopt;
    if (!variants) return SettingChange::refused;
    p.tile_variants = *variants;
    return SettingChange::applied;
  }
  if (iequals(key, "FileFormat")) return apply_format(p, text);
  if (iequals(key, "MosaicDirectory")) {
    p.mosaic_directory = text;
    return SettingChange::applied;
  }
  if (iequals(key, "RezIrorizTitle")) {
    p.web_title = text;
    return SettingChange::applied;
  }
  return SettingChange::unknown_key;
}

// ---- The file ---------------------------------------------------------------------

SettingsFile::SettingsFile() : m_path(settings_file_path()) {}

SettingsFile::SettingsFile(std::filesystem::path path) : m_path(std::move(path)) {}

IniFile SettingsFile::read() const {
  IniFile ini;
  (void)ini.load(m_path);  // missing or unreadable: an empty list
  return ini;
}

bool SettingsFile::contains(const std::string& section) const { return settings_version(read(), section) > 0; }

std::vector<std::string> SettingsFile::user_settings() const {
  IniFile ini = read();
  std::vector<std::string> names;
  for (auto& name : ini.sections())
    if (!name.empty() && name.front() != '(' && settings_version(ini, name) >= 1) names.push_back(name);
  return names;
}

bool SettingsFile::save(const std::string& section, const MosaicParameters& params, const std::string& tile_list,
                        bool with_advanced) const {
  // Another program may be saving its own settings at the same moment.
  return IniFile::update(m_path, [&](IniFile& ini) {
    write_settings_section(ini, section, params, tile_list, with_advanced);
    return true;
  });
}

bool SettingsFile::save_run_settings(const MosaicParameters& params, const std::string& tile_list) const {
  return IniFile::update(m_path, [&](IniFile& ini) {
    write_settings_section(ini, kLastMosaicSection, params, tile_list, true);
    write_settings_section(ini, kAutoSaveSection, params, tile_list, true);
    return true;
  });
}

SettingsLoad SettingsFile::load(const std::string& section, MosaicParameters& params, const IniFile& config) const {
  return read_settings_section(read(), section, params, config);
}

bool SettingsFile::remove(const std::string& section) const {
  std::error_code ec;
  if (!std::filesystem::exists(m_path, ec)) return true;
  return IniFile::update(m_path, [&](IniFile& ini) { return ini.remove_section(section); });
}

bool save_settings_copy(const std::filesystem::path& file, const MosaicParameters& params,
                        const std::string& tile_list, bool with_advanced) {
  IniFile ini;
  write_settings_section(ini, kMosaicSettingsSection, params, tile_list, with_advanced);
  return ini.save(file);
}

// ---- The settings list --------------------------------------------------------------

std::vector<SettingsEntry> settings_entries(const IniFile& settings) {
  std::vector<SettingsEntry> entries;
  for (auto& name : settings.sections())
    if (!name.empty() && name.front() != '(' && settings_version(settings, name) >= 1)
      entries.push_back({name, kSettingsUser});
  for (SettingsEntryCode code : {kSettingsDefault, kSettingsLandscape, kSettingsPortrait, kSettingsParquet,
                                 kSettingsMixed, kSettingsUseAllImages, kSettingsVideoMosaic})
    entries.push_back({automatic_settings_entry_name(code), code});
  if (settings_version(settings, kLastMosaicSection) > 0)
    entries.push_back({automatic_settings_entry_name(kSettingsLastMosaic), kSettingsLastMosaic});
  if (settings_version(settings, kAutoSaveSection) > 0)
    entries.push_back({automatic_settings_entry_name(kSettingsAutoSave), kSettingsAutoSave});
  return entries;
}

SettingsLoad load_settings_entry(const SettingsEntry& entry, const IniFile& settings, MosaicParameters& params,
                                 const ListCounts& counts, const IniFile& config, Prompt& prompt) {
  if (is_computed_settings(entry.code)) {
    SettingsLoad result;
    result.loaded = apply_automatic_settings(entry.code, params, counts, prompt);
    return result;
  }
  const std::string& section = entry.code == kSettingsLastMosaic ? std::string(kLastMosaicSection)
                               : entry.code == kSettingsAutoSave ? std::string(kAutoSaveSection)
                                                                 : entry.name;
  return read_settings_section(settings, section, params, config);
}

SettingsEntryCode startup_settings_code(const IniFile& settings) {
  return settings_version(settings, kAutoSaveSection) > 0 ? kSettingsAutoSave : kSettingsDefault;
}

}  // namespace tess
