#include "settings/units.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include "base/prompt.hpp"
#include "base/text.hpp"

namespace tess {
namespace {


// ---- The unit vocabulary ----------------------------------------------------

/// How one unit is read and written.
struct UnitInfo {
  const char* words = nullptr;  ///< translated comma list of accepted words; null: none
  std::array<const char*, 2> fixed{};    ///< further accepted forms, not translated
  const char* translated_fixed = nullptr;  ///< a further form that is translated ('"', "'")
  const char* singular = "";
  const char* plural = nullptr;  ///< null: the unit has no plural ("PPI", "%")
  const char* abbreviation = nullptr;  ///< null: the abbreviated form is the full one
  bool translate_abbreviation = false;
};

constexpr std::array<UnitInfo, kUnitLast + 1> kUnits = {{
    /* 0 not set */ {},
    /* cm */ {N_("cm, centimeter, centimeters"), {"cm"}, nullptr, N_("cm"), N_("cm")},
    /* inch */ {N_("inch, inches"), {"inch"}, N_("\""), N_("inch"), N_("inches"), N_("\""), true},
    /* pixel */ {N_("pixel, pixels"), {"pixel", "PX"}, nullptr, N_("pixel"), N_("pixels")},
    /* kilopixel */ {N_("kilopixel, kilopixels"), {"KP"}, nullptr, N_("kilopixel"), N_("kilopixels"), "KP"},
    /* megapixel */ {N_("megapixel, megapixels"), {"MP"}, nullptr, N_("megapixel"), N_("megapixels"), "MP"},
    /* gigapixel */ {N_("gigapixel, gigapixels"), {"GP"}, nullptr, N_("gigapixel"), N_("gigapixels"), "GP"},
    /* mm */ {N_("mm, millimeter, millimeters"), {"mm"}, nullptr, N_("mm"), N_("mm")},
    /* m */ {N_("m, meter, meters"), {"m"}, nullptr, N_("meter"), N_("meters"), "m"},
    // The abbreviated form is translated, so its translation must read back too.
    /* foot */ {N_("ft, foot, feet"), {"'"}, N_("'"), N_("foot"), N_("feet"), N_("'"), true},
    /* PPI */ {N_("PPI"), {"PPI"}, nullptr, N_("PPI")},
    /* DPI */ {N_("DPI"), {"DPI"}, nullptr, N_("DPI")},
    /* tiles */ {N_("tile, tiles"), {"tiles"}, nullptr, N_("tile"), N_("tiles")},
    /* tiles per row */ {N_("tile x row, tiles x row"), {}, nullptr, N_("tile x row"), N_("tiles x row")},
    /* byte */ {nullptr, {}, nullptr, N_("byte"), N_("bytes")},
    /* megabyte */ {N_("megabyte, megabytes"), {}, nullptr, N_("megabyte"), N_("megabytes"), "MB"},
    /* gigabyte */ {N_("gigabyte, gigabytes"), {}, nullptr, N_("gigabyte"), N_("gigabytes"), "GB"},
    /* times */ {N_("time, times"), {}, nullptr, N_("time"), N_("times")},
    /* tiles minimum */ {N_("tile minimum, tiles minimum"), {}, nullptr, N_("tile minimum"), N_("tiles minimum")},
    /* frames */ {N_("frame, frames"), {}, nullptr, N_("frame"), N_("frames")},
    /* percent */ {nullptr, {"%"}, nullptr, "%"},
    /* processes */ {nullptr, {}, nullptr, N_("process"), N_("processes")},
    /* bare number */ {},
}};

// The order in which the units try a word; the first that accepts it wins, so
// a translation that gives two units the same word still reads as one unit.
constexpr std::array<UnitCode, 19> kSearchOrder = {
    kUnitInch,  kUnitCm,    kUnitPixel, kUnitKilopixel, kUnitGigapixel,    kUnitMegapixel, kUnitMegabyte,
    kUnitGigabyte, kUnitMm, kUnitMeter, kUnitFoot,      kUnitPpi,          kUnitDpi,       kUnitTiles,
    kUnitTilesPerRow, kUnitTimes, kUnitTilesMinimum, kUnitFrames, kUnitPercent,
};

const UnitInfo& unit_info(UnitCode unit) {
  return (unit > kUnitNone && unit <= kUnitLast) ? kUnits[static_cast<std::size_t>(unit)] : kUnits[0];
}

// ---- Characters -------------------------------------------------------------

// The blanks of the entry grammars: space, tab and the line breaks.
bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

std::size_t skip_blanks(std::string_view s, std::size_t pos) {
  while (pos < s.size() && is_blank(s[pos])) ++pos;
  return pos;
}

// Case folding for the comparison of unit words: ASCII letters and the
// Latin-1 capitals (UTF-8 C3 80..C3 9E, without the multiplication sign), which
// covers the umlauts and accents of the catalogues' languages.
bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  auto fold = [](unsigned char c, unsigned char lead) -> unsigned char {
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + ('a' - 'A'));
    if (lead == 0xC3 && c >= 0x80 && c <= 0x9E && c != 0x97) return static_cast<unsigned char>(c + 0x20);
    return c;
  };
  unsigned char lead = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[i]);
    if (fold(ca, lead) != fold(cb, lead)) return false;
    lead = ca;  // both strings agree up to here, so one lead byte serves both
  }
  return true;
}

bool word_in_list(std::string_view word, std::string_view list) {
  while (true) {
    const std::size_t comma = list.find(',');
    if (equal_ignoring_case(word, trim(list.substr(0, comma)))) return true;
    if (comma == std::string_view::npos) return false;
    list.remove_prefix(comma + 1);
  }
}

bool unit_accepts_word(const UnitInfo& info, std::string_view word) {
  if (info.words != nullptr && word_in_list(word, tr(info.words))) return true;
  for (const char* form : info.fixed) {
    if (form != nullptr && equal_ignoring_case(word, form)) return true;
  }
  return info.translated_fixed != nullptr && equal_ignoring_case(word, tr(info.translated_fixed));
}

// ---- Numbers ----------------------------------------------------------------

// No field holds a number with more whole digits than this; longer ones are
// refused before any conversion.
constexpr std::size_t kMaxWholeDigits = 30;
// Decimals beyond this cannot change a double that is shown with two.
constexpr std::size_t kMaxDecimals = 20;

/// A number of the entry grammars: digits, then optionally "." or "," and
/// more digits, taken as long as possible.
struct NumberToken {
  std::size_t end = 0;        ///< one past the last character of the token
  std::optional<double> value;  ///< nullopt when too long to be any field's value
};

/// Reads the number that starts at `pos`; nullopt when no digit is there.
std::optional<NumberToken> read_number(std::string_view s, std::size_t pos) {
  if (pos >= s.size() || !is_digit(s[pos])) return std::nullopt;
  std::size_t whole_begin = pos;
  while (pos < s.size() && is_digit(s[pos])) ++pos;
  const std::size_t whole_end = pos;
  std::size_t decimals_begin = pos, decimals_end = pos;
  if (pos < s.size() && (s[pos] == '.' || s[pos] == ',')) {
    // A comma is a decimal separator too: "12,5" is what a European types for 12.5.
    decimals_begin = ++pos;
    while (pos < s.size() && is_digit(s[pos])) ++pos;
    decimals_end = pos;
  }
  NumberToken token;
  token.end = pos;

  while (whole_begin + 1 < whole_end && s[whole_begin] == '0') ++whole_begin;
  const std::size_t whole_digits = whole_end - whole_begin;
  if (whole_digits > kMaxWholeDigits) return token;
  const std::size_t decimals = std::min(decimals_end - decimals_begin, kMaxDecimals);

  std::array<char, kMaxWholeDigits + kMaxDecimals + 2> text{};
  std::size_t n = s.copy(text.data(), whole_digits, whole_begin);
  if (decimals > 0) {
    text[n++] = '.';
    n += s.copy(text.data() + n, decimals, decimals_begin);
  }
  double value = 0;
  const auto result = std::from_chars(text.data(), text.data() + n, value);
  if (result.ec == std::errc() && result.ptr == text.data() + n) token.value = value;
  return token;
}

/// True when `s` from `pos` on is blanks, one run of non-blanks and blanks;
/// `word` gets that run (empty when there is none).
bool rest_is_one_word(std::string_view s, std::size_t pos, std::string_view& word) {
  pos = skip_blanks(s, pos);
  const std::size_t begin = pos;
  while (pos < s.size() && !is_blank(s[pos])) ++pos;
  word = s.substr(begin, pos - begin);
  return skip_blanks(s, pos) == s.size();
}

/// True when `s` from `pos` on is blanks, then words separated by exactly one
/// blank each, then blanks; `phrase` gets the words with their separators.
bool rest_is_phrase(std::string_view s, std::size_t pos, std::string_view& phrase) {
  phrase = trim(s.substr(std::min(pos, s.size())));
  for (std::size_t i = 1; i < phrase.size(); ++i) {
    if (is_blank(phrase[i]) && is_blank(phrase[i - 1])) return false;
  }
  return true;
}

/// A count for the plural rules: the value itself when whole, a plural count
/// for fractions ("1.50 inches"), and the last six digits of huge values,
/// which are all the plural rules of any language look at.
unsigned long plural_count(double value) {
  value = std::fabs(value);
  if (!std::isfinite(value) || value != std::floor(value)) return 2;
  if (value >= 1e6) return 1000000 + static_cast<unsigned long>(std::fmod(value, 1e6));
  return static_cast<unsigned long>(value);
}

/// The template "{0} <phrase>" (for percent "{0}%") through the catalogue,
/// with every "{0}" replaced by the number text.
std::string apply_template(const std::string& number, UnitCode unit, const std::string& phrase) {
  if (phrase.empty()) return number;
  std::string text = tr((unit == kUnitPercent ? "{0}" + phrase : "{0} " + phrase).c_str());
  static constexpr std::string_view kField = "{0}";
  for (std::size_t at = text.find(kField); at != std::string::npos; at = text.find(kField, at + number.size()))
    text.replace(at, kField.size(), number);
  return text;
}

}  // namespace

// ---- Reading ----------------------------------------------------------------

bool ParameterField::accepts(const UnitValue& candidate) const {
  return candidate.value >= minimum && candidate.value <= maximum && allowed.contains(candidate.unit);
}

UnitCode parse_unit(std::string_view word) {
  word = trim(word);
  if (word.empty()) return kUnitNone;
  for (UnitCode unit : kSearchOrder) {
    if (unit_accepts_word(unit_info(unit), word)) return unit;
  }
  return kUnitNone;
}

std::optional<UnitValue> parse_unit_value(std::string_view text) {
  const auto number = read_number(text, skip_blanks(text, 0));
  if (!number) return std::nullopt;
  std::string_view phrase;
  if (!rest_is_phrase(text, number->end, phrase) || !number->value) return std::nullopt;
  const UnitCode unit = parse_unit(phrase);
  if (unit == kUnitNone) return std::nullopt;
  return UnitValue{*number->value, unit};
}

std::optional<SizeValue> parse_size(std::string_view text) {
  const auto width = read_number(text, skip_blanks(text, 0));
  if (!width) return std::nullopt;
  std::string_view word;
  std::optional<NumberToken> height;

  // With a height, when "x" and a number follow and only a unit word is
  // left; otherwise everything after the width must be the unit word.
  std::size_t pos = skip_blanks(text, width->end);
  if (pos < text.size() && text[pos] == 'x') height = read_number(text, skip_blanks(text, pos + 1));
  if (height && !rest_is_one_word(text, height->end, word)) height.reset();
  if (!height && !rest_is_one_word(text, width->end, word)) return std::nullopt;

  if (!width->value || (height && !height->value)) return std::nullopt;
  const UnitCode unit = parse_unit(word);
  if (unit == kUnitNone) return std::nullopt;
  return SizeValue{*width->value, height ? *height->value : *width->value, unit};
}

std::optional<std::int32_t> parse_colour(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size() && !is_digit(text[pos])) ++pos;
  if (pos > 0 && text[pos - 1] == '-') return std::nullopt;

  std::array<int, 3> channel{};
  for (std::size_t i = 0; i < channel.size(); ++i) {
    if (i > 0) {
      pos = skip_blanks(text, pos);
      if (pos >= text.size() || text[pos] != ',') return std::nullopt;
      pos = skip_blanks(text, pos + 1);
    }
    if (pos >= text.size() || !is_digit(text[pos])) return std::nullopt;
    int value = 0;
    for (; pos < text.size() && is_digit(text[pos]); ++pos) {
      value = value * 10 + (text[pos] - '0');
      if (value > 255) return std::nullopt;  // also keeps long digit runs from overflowing
    }
    channel[i] = value;
  }
  for (; pos < text.size(); ++pos) {
    if (is_digit(text[pos])) return std::nullopt;
  }
  return pack_colour(channel[0], channel[1], channel[2]);
}

std::optional<double> parse_plain_number(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size() && !is_digit(text[pos])) ++pos;
  // "-5" is a negative number, never the 5 after some text.
  if (pos > 0 && text[pos - 1] == '-') return std::nullopt;
  const auto number = read_number(text, pos);
  if (!number || !number->value) return std::nullopt;
  for (pos = number->end; pos < text.size(); ++pos) {
    if (is_digit(text[pos])) return std::nullopt;
  }
  return number->value;
}

bool parse_field(ParameterField& field, std::string_view text) {
  std::optional<UnitValue> candidate;
  if (field.grammar == FieldGrammar::plain_number) {
    if (const auto number = parse_plain_number(text)) candidate = UnitValue{std::trunc(*number), kUnitBareNumber};
  } else {
    candidate = parse_unit_value(text);
  }
  if (!candidate || !field.accepts(*candidate)) return false;
  field.current = *candidate;
  return true;
}

// ---- Display ----------------------------------------------------------------

std::string format_number(double value) {
  return value == std::floor(value) ? format("%.0lf", value) : format("%.2lf", value);
}

std::string unit_phrase(UnitCode unit, double value, UnitForm form) {
  const UnitInfo& info = unit_info(unit);
  if (*info.singular == '\0') return {};
  if (form == UnitForm::abbreviated && info.abbreviation != nullptr)
    return info.translate_abbreviation ? tr(info.abbreviation) : info.abbreviation;
  if (info.plural == nullptr) return unit == kUnitPercent ? info.singular : tr(info.singular);
  return trn(info.singular, info.plural, plural_count(value));
}

std::string format_value(double value, UnitCode unit, UnitForm form) {
  // A value not set reads as a placeholder with the unit in plural.
  if (value == kValueNotSet) return apply_template("nnn", unit, unit_phrase(unit, 2, form));
  return apply_template(format_number(value), unit, unit_phrase(unit, value, form));
}

std::string format_size(const SizeValue& size, UnitForm form) {
  if (!size.is_set()) return apply_template("nnnn", size.unit, unit_phrase(size.unit, 2, form));
  if (size.width == size.height) return format_value(size.width, size.unit, form);
  return format(tr("%s x %s"), format_number(size.width), format_value(size.height, size.unit, form));
}

std::string format_colour(std::int32_t colour) {
  if (colour < 0 || colour > 0xFFFFFF) return "nnn,nnn,nnn";
  return format("%d,%d,%d", colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

// ---- Refused entries --------------------------------------------------------

std::string invalid_parameter_message() { return tr(kInvalidParameterMessage); }

void report_invalid_parameter(Prompt& prompt) { prompt.message(invalid_parameter_message(), Icon::warning); }

}  // namespace tess
