#pragma once
// Units and dimensioned values: every size, resolution, count and percentage
// the user types is a number followed by a unit word ("42 x 29 cm",
// "300 PPI", "40 tiles x row", "15%"). This file holds the unit vocabulary,
// the readers that turn such text into values (checked against a field's
// limits and allowed units) and the formatting that turns values back into
// display text. The texts are English message ids translated at the place of
// use, so a German user types and reads "Kacheln".
//
// Numbers accept "." and "," as the decimal separator: "12,5 cm" is 12.5 cm.

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "base/text.hpp"

namespace tess {

class Prompt;

/// A unit of a dimensioned value. The codes are stored in settings files, so
/// they never change.
using UnitCode = std::int32_t;

inline constexpr UnitCode kUnitNone = 0;  ///< no unit: not set, or a failed parse
inline constexpr UnitCode kUnitCm = 1;
inline constexpr UnitCode kUnitInch = 2;
inline constexpr UnitCode kUnitPixel = 3;
inline constexpr UnitCode kUnitKilopixel = 4;
inline constexpr UnitCode kUnitMegapixel = 5;
inline constexpr UnitCode kUnitGigapixel = 6;
inline constexpr UnitCode kUnitMm = 7;
inline constexpr UnitCode kUnitMeter = 8;
inline constexpr UnitCode kUnitFoot = 9;
inline constexpr UnitCode kUnitPpi = 10;
inline constexpr UnitCode kUnitDpi = 11;
inline constexpr UnitCode kUnitTiles = 12;         ///< a total tile count
inline constexpr UnitCode kUnitTilesPerRow = 13;
inline constexpr UnitCode kUnitByte = 14;          ///< display only
inline constexpr UnitCode kUnitMegabyte = 15;
inline constexpr UnitCode kUnitGigabyte = 16;
inline constexpr UnitCode kUnitTimes = 17;         ///< a repeat count
inline constexpr UnitCode kUnitTilesMinimum = 18;
inline constexpr UnitCode kUnitFrames = 19;
inline constexpr UnitCode kUnitPercent = 20;
inline constexpr UnitCode kUnitProcesses = 21;     ///< display only
inline constexpr UnitCode kUnitBareNumber = 22;    ///< a plain number without a unit word
inline constexpr UnitCode kUnitLast = kUnitBareNumber;

/// The value of a field or of one side of a size that has not been set.
inline constexpr double kValueNotSet = -1;

/// A number with its unit.
struct UnitValue {
  double value = kValueNotSet;
  UnitCode unit = kUnitNone;

  bool is_set() const { return value != kValueNotSet; }
  friend bool operator==(const UnitValue&, const UnitValue&) = default;
};

/// A width and a height sharing one unit; either side at -1 means not set.
struct SizeValue {
  double width = kValueNotSet;
  double height = kValueNotSet;
  UnitCode unit = kUnitNone;

  bool is_set() const { return width != kValueNotSet && height != kValueNotSet; }
  friend bool operator==(const SizeValue&, const SizeValue&) = default;
};

/// A set of unit codes, small enough to be written into constant tables:
/// `UnitSet{kUnitCm, kUnitInch, kUnitPixel}`.
class UnitSet {
 public:
  constexpr UnitSet() = default;
  constexpr UnitSet(std::initializer_list<UnitCode> units) {
    for (UnitCode unit : units) add(unit);
  }
  constexpr void add(UnitCode unit) {
    if (unit > kUnitNone && unit <= kUnitLast) m_bits |= std::uint32_t{1} << unit;
  }
  constexpr bool contains(UnitCode unit) const {
    return unit > kUnitNone && unit <= kUnitLast && (m_bits & (std::uint32_t{1} << unit)) != 0;
  }
  constexpr bool empty() const { return m_bits == 0; }
  friend constexpr bool operator==(const UnitSet&, const UnitSet&) = default;

 private:
  std::uint32_t m_bits = 0;
};

/// Which grammar a field's text follows.
enum class FieldGrammar {
  value_with_unit,  ///< a number and a unit phrase: "40 tiles x row"
  plain_number,     ///< one whole number amid any other text: "about 15 %" (unit 22)
};

/// The edit state behind one text box: the current value, the inclusive
/// limits and the units the box accepts. Plain aggregates, so a table of the
/// program's fields can be written as constants:
///   constexpr ParameterField kResolution{{300, kUnitPpi}, 1, 10000, {kUnitPpi, kUnitDpi}};
struct ParameterField {
  UnitValue current;
  double minimum = 0;
  double maximum = 0;
  UnitSet allowed;
  FieldGrammar grammar = FieldGrammar::value_with_unit;

  /// A field for a plain whole number (a count or a percentage) in
  /// [minimum, maximum]; its unit is kUnitBareNumber.
  static constexpr ParameterField plain(double minimum, double maximum, double value = kValueNotSet) {
    return {{value, kUnitBareNumber}, minimum, maximum, UnitSet{kUnitBareNumber}, FieldGrammar::plain_number};
  }

  /// True when `candidate` lies in [minimum, maximum] and its unit is allowed.
  [[nodiscard]] bool accepts(const UnitValue& candidate) const;
};

/// How a unit is written for display.
enum class UnitForm {
  full,         ///< "inches", "megapixels", "feet"
  abbreviated,  ///< '"', "MP", "'"
};

// ---- Reading ----------------------------------------------------------------

/// The unit a word names, or kUnitNone. The word is compared, ignoring case,
/// with the translated word list of each unit ("inch, inches", ...) and then
/// with its fixed forms ("\"", "PX", "MP", "%", ...), unit by unit in the
/// order inch, cm, pixel, kilopixel, gigapixel, megapixel, megabyte, gigabyte,
/// mm, m, ft, PPI, DPI, tiles, tiles per row, times, tiles minimum, frames,
/// percent; the first unit that matches wins. Byte, processes and the bare
/// number are never read. An empty word names nothing.
UnitCode parse_unit(std::string_view word);

/// "<number> <unit phrase>", where the phrase may hold single inner blanks
/// ("40 tiles x row"). No range or unit checks; nullopt when the text does not
/// have that form or the phrase names no unit.
std::optional<UnitValue> parse_unit_value(std::string_view text);

/// "<width>[ x <height>] <unit word>" (blanks optional: "42x29cm"); a missing
/// height takes the width ("30 inch" is 30 x 30 inches). The "x" is lower case
/// and the unit word holds no blank. nullopt when the text does not have that
/// form or the word names no unit.
std::optional<SizeValue> parse_size(std::string_view text);

/// "r, g, b" with each part 0..255 and any text without digits around it;
/// the packed colour red + green*256 + blue*65536, or nullopt.
std::optional<std::int32_t> parse_colour(std::string_view text);

/// The one number in a text that holds no other digits ("about 15 %" gives
/// 15). A minus sign right before the number makes it negative, and that is
/// refused rather than read as its absolute value.
std::optional<double> parse_plain_number(std::string_view text);

/// Reads `text` by the field's grammar. The new value is taken only when it
/// lies within the field's limits and its unit is allowed; otherwise the
/// field keeps its value and unit and false comes back. Plain number fields
/// hold whole numbers: "12.5" there is 12.
[[nodiscard]] bool parse_field(ParameterField& field, std::string_view text);

// ---- Display ----------------------------------------------------------------

/// A number as it is shown: no decimals when it is whole ("12"), else two
/// ("12.50").
std::string format_number(double value);

/// The translated unit phrase for `value` by the plural rules of the active
/// language ("tile" / "tiles"). Empty for kUnitNone and the bare number.
std::string unit_phrase(UnitCode unit, double value, UnitForm form = UnitForm::full);

/// A value with its unit: "12 cm", "1 tile", "12.50 inches", "15%". A value
/// not set shows as "nnn" with the plural unit.
std::string format_value(double value, UnitCode unit, UnitForm form = UnitForm::full);
inline std::string format_value(const UnitValue& v, UnitForm form = UnitForm::full) {
  return format_value(v.value, v.unit, form);
}

/// One number with the unit when width equals height ("30 inches"), else
/// "42 x 29 cm" (the unit follows the height). A size not set shows as
/// "nnnn" with the plural unit.
std::string format_size(const SizeValue& size, UnitForm form = UnitForm::full);

/// "r,g,b"; "nnn,nnn,nnn" for a colour not set (-1 or out of range).
std::string format_colour(std::int32_t colour);

inline constexpr std::int32_t kColourNotSet = -1;

constexpr std::int32_t pack_colour(int red, int green, int blue) {
  return red + green * 256 + blue * 65536;
}

// ---- Refused entries --------------------------------------------------------

/// The message id shown when a text box holds an entry its field refuses.
inline constexpr const char* kInvalidParameterMessage = N_("Please insert a valid value for the parameter");

/// The translated message for a refused entry.
std::string invalid_parameter_message();

/// Shows the refused-entry message; the caller then puts the focus back on
/// the offending box.
void report_invalid_parameter(Prompt& prompt);

}  // namespace tess
