#include "settings/units.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "base/scripted_prompt.hpp"
#include "base/text.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

std::optional<UnitValue> value_of(double value, UnitCode unit) { return UnitValue{value, unit}; }

TEST(ParseUnit, ReadsWordsAndFixedFormsIgnoringCase) {
  EXPECT_EQ(parse_unit("inch"), kUnitInch);
  EXPECT_EQ(parse_unit("Inches"), kUnitInch);
  EXPECT_EQ(parse_unit("\""), kUnitInch);
  EXPECT_EQ(parse_unit("'"), kUnitFoot);
  EXPECT_EQ(parse_unit("FEET"), kUnitFoot);
  EXPECT_EQ(parse_unit("Centimeters"), kUnitCm);
  EXPECT_EQ(parse_unit("px"), kUnitPixel);
  EXPECT_EQ(parse_unit("kp"), kUnitKilopixel);
  EXPECT_EQ(parse_unit("megapixels"), kUnitMegapixel);
  EXPECT_EQ(parse_unit("GP"), kUnitGigapixel);
  EXPECT_EQ(parse_unit("ppi"), kUnitPpi);
  EXPECT_EQ(parse_unit("Dpi"), kUnitDpi);
  EXPECT_EQ(parse_unit("Tiles X Row"), kUnitTilesPerRow);
  EXPECT_EQ(parse_unit("tiles minimum"), kUnitTilesMinimum);
  EXPECT_EQ(parse_unit("time"), kUnitTimes);
  EXPECT_EQ(parse_unit("frames"), kUnitFrames);
  EXPECT_EQ(parse_unit("gigabytes"), kUnitGigabyte);
  EXPECT_EQ(parse_unit("%"), kUnitPercent);
}

TEST(ParseUnit, ShortWordsAreWholeWordsNotPrefixes) {
  EXPECT_EQ(parse_unit("m"), kUnitMeter);
  EXPECT_EQ(parse_unit("M"), kUnitMeter);
  EXPECT_EQ(parse_unit("mm"), kUnitMm);
  EXPECT_EQ(parse_unit("MP"), kUnitMegapixel);
  EXPECT_EQ(parse_unit("mp"), kUnitMegapixel);
  EXPECT_EQ(parse_unit("meter"), kUnitMeter);
  EXPECT_EQ(parse_unit("mmm"), kUnitNone);
  EXPECT_EQ(parse_unit("tile"), kUnitTiles);
  EXPECT_EQ(parse_unit("tile x"), kUnitNone);
}

TEST(ParseUnit, DisplayOnlyUnitsAndEmptyWordsAreRefused) {
  EXPECT_EQ(parse_unit(""), kUnitNone);
  EXPECT_EQ(parse_unit("   "), kUnitNone);
  EXPECT_EQ(parse_unit("byte"), kUnitNone);
  EXPECT_EQ(parse_unit("processes"), kUnitNone);
  EXPECT_EQ(parse_unit(","), kUnitNone);  // an empty item of a word list matches nothing
  EXPECT_EQ(parse_unit("MB"), kUnitNone);
}

TEST(ParseUnitValue, UnitPhrasesMayHoldSingleBlanks) {
  EXPECT_EQ(parse_unit_value("40 tiles x row"), value_of(40, kUnitTilesPerRow));
  EXPECT_EQ(parse_unit_value("40 tile x row"), value_of(40, kUnitTilesPerRow));
  EXPECT_EQ(parse_unit_value("  40   tiles x row \t"), value_of(40, kUnitTilesPerRow));
  EXPECT_EQ(parse_unit_value("40tiles x row"), value_of(40, kUnitTilesPerRow));
  EXPECT_EQ(parse_unit_value("40 tiles  x row"), std::nullopt);  // two blanks inside the phrase
  EXPECT_EQ(parse_unit_value("40 tiles x row x"), std::nullopt);
}

TEST(ParseUnitValue, NeedsANumberFirstAndAUnitAfter) {
  EXPECT_EQ(parse_unit_value("40"), std::nullopt);
  EXPECT_EQ(parse_unit_value("40  "), std::nullopt);
  EXPECT_EQ(parse_unit_value(""), std::nullopt);
  EXPECT_EQ(parse_unit_value("cm 40"), std::nullopt);
  EXPECT_EQ(parse_unit_value("-5 cm"), std::nullopt);
  EXPECT_EQ(parse_unit_value("1e3 cm"), std::nullopt);
  EXPECT_EQ(parse_unit_value("12.5.3 cm"), std::nullopt);
  EXPECT_EQ(parse_unit_value("300 ppi"), value_of(300, kUnitPpi));
  EXPECT_EQ(parse_unit_value("300 dpi"), value_of(300, kUnitDpi));
  EXPECT_EQ(parse_unit_value("3 GP"), value_of(3, kUnitGigapixel));
  EXPECT_EQ(parse_unit_value("15%"), value_of(15, kUnitPercent));
  EXPECT_EQ(parse_unit_value("15 %"), value_of(15, kUnitPercent));
  EXPECT_EQ(parse_unit_value("6'"), value_of(6, kUnitFoot));
  EXPECT_EQ(parse_unit_value("20\""), value_of(20, kUnitInch));
}

TEST(ParseUnitValue, CommaAndPointAreDecimalSeparators) {
  EXPECT_EQ(parse_unit_value("12,5 cm"), value_of(12.5, kUnitCm));
  EXPECT_EQ(parse_unit_value("12.5cm"), value_of(12.5, kUnitCm));
  EXPECT_EQ(parse_unit_value("12. cm"), value_of(12, kUnitCm));
  EXPECT_EQ(parse_unit_value("0,25 m"), value_of(0.25, kUnitMeter));
}

TEST(ParseUnitValue, AbsurdlyLongNumbersFailQuietly) {
  EXPECT_EQ(parse_unit_value(std::string(5000, '9') + " cm"), std::nullopt);
  EXPECT_EQ(parse_unit_value(std::string(1000, '0') + "7 cm"), value_of(7, kUnitCm));
  EXPECT_EQ(parse_unit_value("2." + std::string(5000, '5') + " cm"), value_of(2.5555555555555555, kUnitCm));
  // A very long phrase is just an unknown unit.
  EXPECT_EQ(parse_unit_value("1 " + std::string(100000, 'a')), std::nullopt);
}

TEST(ParameterField, LimitsAreInclusiveAndARefusalKeepsTheOldValue) {
  ParameterField field{{300, kUnitPpi}, 1, 10000, {kUnitPpi, kUnitDpi}};
  EXPECT_TRUE(parse_field(field, "10000 dpi"));
  EXPECT_EQ(field.current, (UnitValue{10000, kUnitDpi}));
  EXPECT_TRUE(parse_field(field, "1 ppi"));
  EXPECT_EQ(field.current, (UnitValue{1, kUnitPpi}));

  EXPECT_FALSE(parse_field(field, "10000.01 ppi"));
  EXPECT_FALSE(parse_field(field, "0,5 dpi"));
  EXPECT_FALSE(parse_field(field, "40 cm"));  // a unit the field does not take
  EXPECT_FALSE(parse_field(field, "40"));
  EXPECT_FALSE(parse_field(field, std::string(400, '9') + " ppi"));
  EXPECT_EQ(field.current, (UnitValue{1, kUnitPpi}));
}

TEST(ParameterField, PlainNumbersTakeAnyTextAroundOneWholeNumber) {
  ParameterField field = ParameterField::plain(0, 100, 10);
  EXPECT_TRUE(parse_field(field, "about 15 %"));
  EXPECT_EQ(field.current, (UnitValue{15, kUnitBareNumber}));
  EXPECT_TRUE(parse_field(field, "100"));
  EXPECT_TRUE(parse_field(field, "12,5"));
  EXPECT_EQ(field.current.value, 12);

  EXPECT_FALSE(parse_field(field, "101"));
  EXPECT_FALSE(parse_field(field, "-5"));  // a negative number, not 5
  EXPECT_FALSE(parse_field(field, "1 or 2"));
  EXPECT_FALSE(parse_field(field, "none"));
  EXPECT_EQ(field.current.value, 12);

  EXPECT_EQ(parse_plain_number("x-y 7"), 7);
  EXPECT_EQ(parse_plain_number("1.5.6"), std::nullopt);
}

TEST(ParameterField, CanBeWrittenAsConstantTables) {
  constexpr ParameterField kBorder{{0, kUnitPixel}, 0, 1000, {kUnitCm, kUnitPixel}};
  static_assert(kBorder.allowed.contains(kUnitPixel) && !kBorder.allowed.contains(kUnitPpi));
  static_assert(!UnitSet{kUnitNone, 99, -3}.contains(kUnitNone));
  EXPECT_TRUE(kBorder.accepts({1000, kUnitCm}));
  EXPECT_FALSE(kBorder.accepts({1000, kUnitInch}));
}

TEST(ParseSize, MissingHeightTakesTheWidth) {
  EXPECT_EQ(parse_size("42 x 29 cm"), (SizeValue{42, 29, kUnitCm}));
  EXPECT_EQ(parse_size("42x29cm"), (SizeValue{42, 29, kUnitCm}));
  EXPECT_EQ(parse_size("  12,5 x 10  inch "), (SizeValue{12.5, 10, kUnitInch}));
  EXPECT_EQ(parse_size("30 inch"), (SizeValue{30, 30, kUnitInch}));
  EXPECT_EQ(parse_size("100 MP"), (SizeValue{100, 100, kUnitMegapixel}));
  EXPECT_EQ(parse_size("30 tiles"), (SizeValue{30, 30, kUnitTiles}));
}

TEST(ParseSize, RefusesWhatTheGrammarDoesNotHold) {
  EXPECT_EQ(parse_size("42 x 29"), std::nullopt);           // no unit
  EXPECT_EQ(parse_size("30x"), std::nullopt);               // "x" is no unit
  EXPECT_EQ(parse_size("42 X 29 cm"), std::nullopt);        // the separator is a lower-case x
  EXPECT_EQ(parse_size("40 tiles x row"), std::nullopt);    // the unit word holds no blank
  EXPECT_EQ(parse_size("30 x 29 x 3 cm"), std::nullopt);
  EXPECT_EQ(parse_size("x 29 cm"), std::nullopt);
  EXPECT_EQ(parse_size("42 x " + std::string(500, '9') + " cm"), std::nullopt);
}

TEST(Colour, PacksThreeChannelsAndRefusesOthers) {
  EXPECT_EQ(parse_colour("255, 0, 128"), 255 + 0 * 256 + 128 * 65536);
  EXPECT_EQ(parse_colour("RGB(1 ,2, 3)"), pack_colour(1, 2, 3));
  EXPECT_EQ(parse_colour("0000255,0,0"), 255);
  EXPECT_EQ(parse_colour("256,0,0"), std::nullopt);
  EXPECT_EQ(parse_colour("0,0,99999999999999999999"), std::nullopt);
  EXPECT_EQ(parse_colour("1,2"), std::nullopt);
  EXPECT_EQ(parse_colour("1,2,3,4"), std::nullopt);
  EXPECT_EQ(parse_colour("1;2;3"), std::nullopt);
  EXPECT_EQ(parse_colour("-1,0,0"), std::nullopt);

  EXPECT_EQ(format_colour(pack_colour(255, 0, 128)), "255,0,128");
  EXPECT_EQ(format_colour(kColourNotSet), "nnn,nnn,nnn");
}

TEST(FormatValue, WholeNumbersWithoutDecimalsOthersWithTwo) {
  EXPECT_EQ(format_number(12.0), "12");
  EXPECT_EQ(format_number(12.5), "12.50");
  EXPECT_EQ(format_value(12.5, kUnitCm), "12.50 cm");
  EXPECT_EQ(format_value(300, kUnitPpi), "300 PPI");
  EXPECT_EQ(format_value(15, kUnitPercent), "15%");
  EXPECT_EQ(format_value(7, kUnitBareNumber), "7");
  EXPECT_FALSE(format_value(1e300, kUnitTiles).empty());
}

TEST(FormatValue, UnitPhraseFollowsTheCount) {
  EXPECT_EQ(format_value(1, kUnitTiles), "1 tile");
  EXPECT_EQ(format_value(2, kUnitTiles), "2 tiles");
  EXPECT_EQ(format_value(0, kUnitTiles), "0 tiles");
  EXPECT_EQ(format_value(1, kUnitTilesPerRow), "1 tile x row");
  EXPECT_EQ(format_value(40, kUnitTilesPerRow), "40 tiles x row");
  EXPECT_EQ(format_value(1.5, kUnitInch), "1.50 inches");
  EXPECT_EQ(format_value(1, kUnitFoot), "1 foot");
  EXPECT_EQ(format_value(3, kUnitFoot), "3 feet");
  EXPECT_EQ(format_value(1000001, kUnitFrames), "1000001 frames");
}

TEST(FormatValue, NotSetShowsPlaceholders) {
  EXPECT_EQ(format_value(UnitValue{}), "nnn");
  EXPECT_EQ(format_value(kValueNotSet, kUnitTiles), "nnn tiles");
  EXPECT_EQ(format_size(SizeValue{kValueNotSet, kValueNotSet, kUnitCm}), "nnnn cm");
  EXPECT_EQ(format_size(SizeValue{kValueNotSet, kValueNotSet, kUnitInch}, UnitForm::abbreviated), "nnnn \"");
}

TEST(FormatValue, AbbreviatedForms) {
  EXPECT_EQ(format_value(30, kUnitInch, UnitForm::abbreviated), "30 \"");
  EXPECT_EQ(format_value(3, kUnitFoot, UnitForm::abbreviated), "3 '");
  EXPECT_EQ(format_value(2, kUnitMeter, UnitForm::abbreviated), "2 m");
  EXPECT_EQ(format_value(50, kUnitMegapixel, UnitForm::abbreviated), "50 MP");
  EXPECT_EQ(format_value(5, kUnitGigabyte, UnitForm::abbreviated), "5 GB");
  EXPECT_EQ(format_value(1, kUnitTiles, UnitForm::abbreviated), "1 tile");
}

TEST(FormatSize, OneNumberForSquaresElseWidthByHeight) {
  EXPECT_EQ(format_size({42, 29, kUnitCm}), "42 x 29 cm");
  EXPECT_EQ(format_size({30, 30, kUnitInch}), "30 inches");
  EXPECT_EQ(format_size({2, 1, kUnitFoot}), "2 x 1 foot");
  EXPECT_EQ(format_size({12.5, 10, kUnitCm}), "12.50 x 10 cm");
}

TEST(FormatValue, EveryReadableUnitReadsBackWhatItShows) {
  for (UnitCode unit = 1; unit <= kUnitLast; ++unit) {
    if (unit == kUnitByte || unit == kUnitProcesses || unit == kUnitBareNumber) continue;
    for (double value : {1.0, 2.0, 12.5}) {
      EXPECT_EQ(parse_unit_value(format_value(value, unit)), value_of(value, unit)) << format_value(value, unit);
      // The byte units abbreviate to "MB" and "GB", which are shown but not read.
      if (unit == kUnitMegabyte || unit == kUnitGigabyte) continue;
      const std::string shown = format_value(value, unit, UnitForm::abbreviated);
      EXPECT_EQ(parse_unit_value(shown), value_of(value, unit)) << shown;
    }
  }
}

TEST(InvalidEntry, ReportsTheMessageThroughThePrompt) {
  ScriptedPrompt prompt;
  report_invalid_parameter(prompt);
  ASSERT_EQ(prompt.messages().size(), 1u);
  EXPECT_EQ(prompt.messages()[0], "Please insert a valid value for the parameter");
}

/// Switches the catalogue to German for one test and back to English after it.
class GermanText : public ::testing::Test {
 protected:
  void SetUp() override {
    m_locale.emplace("LC_ALL", "C.UTF-8");  // LANGUAGE is ignored under the C locale
    m_language.emplace("LANGUAGE", "de");
    init_text_from_data_folder();
  }
  void TearDown() override {
    m_language.reset();
    m_locale.reset();
    init_text_from_data_folder();
  }

 private:
  std::optional<testing::ScopedEnv> m_locale;
  std::optional<testing::ScopedEnv> m_language;
};

TEST_F(GermanText, PluralFormsAndWordsComeFromTheCatalogue) {
  EXPECT_EQ(format_value(1, kUnitTiles), "1 Kachel");
  EXPECT_EQ(format_value(2, kUnitTiles), "2 Kacheln");
  EXPECT_EQ(format_value(40, kUnitTilesPerRow), "40 Kacheln pro Reihe");
  EXPECT_EQ(format_value(kValueNotSet, kUnitFrames), "nnn Bilder");
  EXPECT_EQ(format_size({42, 29, kUnitInch}), "42 x 29 Zoll");

  EXPECT_EQ(parse_unit_value("40 kacheln pro Reihe"), value_of(40, kUnitTilesPerRow));
  EXPECT_EQ(parse_unit_value("1 Kachel"), value_of(1, kUnitTiles));
  EXPECT_EQ(parse_unit_value("30 ZOLL"), value_of(30, kUnitInch));
  EXPECT_EQ(parse_unit_value("2 Fuß"), value_of(2, kUnitFoot));
  // The fixed forms stay; the English word lists are replaced by the German ones.
  EXPECT_EQ(parse_unit_value("40 tiles"), value_of(40, kUnitTiles));
  EXPECT_EQ(parse_unit_value("40 tiles x row"), std::nullopt);
  EXPECT_EQ(invalid_parameter_message(), "Bitte geben Sie einen gültigen Wert für den Parameter ein");
}

TEST(EnglishText, IsBackAfterTheGermanTest) {
  // Runs after GermanText in file order; the catalogue must be English again.
  EXPECT_EQ(format_value(2, kUnitTiles), "2 tiles");
  EXPECT_EQ(invalid_parameter_message(), kInvalidParameterMessage);
}

}  // namespace
}  // namespace tess
