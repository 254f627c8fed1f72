#include "base/text.hpp"

#include <gtest/gtest.h>

namespace tess {
namespace {

TEST(Format, FillsPrintfFieldsWithTypeChecking) {
  EXPECT_EQ(format("Out Of Memory while allocating an Image made of %ldx%ld Pixels", 640L, 480L),
            "Out Of Memory while allocating an Image made of 640x480 Pixels");
  EXPECT_EQ(format("Unable to load file '%s'", std::string("a%sb.jpg")), "Unable to load file 'a%sb.jpg'");
  EXPECT_EQ(format("%.2lf", 12.5), "12.50");
  EXPECT_EQ(format("%d%%", 15), "15%");
}

TEST(Format, FaultyTemplateComesBackUnformatted) {
  // A translation whose fields do not fit the arguments must not throw.
  EXPECT_EQ(format("%d tiles", std::string("x")), "%d tiles");
}

TEST(Text, ContainsIgnoringCaseFoldsOnlyAsciiLetters) {
  struct Case {
    const char* text;
    const char* part;
    bool found;
  };
  const Case cases[] = {
      {"/v/Frames002/a.jpg", "FRAMES", true},  {"/v/frames", "FRAMES", true},
      {"/v/FRAME/a.jpg", "FRAMES", false},     {"FRAMES", "frames", true},
      {"/v/fRaMeS", "FRAMES", true},           {"", "FRAMES", false},
      {"abc", "", true},                       {"/x/\xC3\xA9/", "\xC3\x89", false},
      {"/x/\xC3\xA9/", "\xC3\xA9", true},      {"/ffframes", "FRAMES", true},
  };
  for (const Case& c : cases) EXPECT_EQ(contains_ignoring_case(c.text, c.part), c.found) << c.text << " / " << c.part;
}

TEST(Text, UntranslatedIdsPassThrough) {
  init_text_from_data_folder();
  EXPECT_EQ(tr("Stopped!"), "Stopped!");
  EXPECT_EQ(tr(""), "");
  EXPECT_EQ(catalogue_language(), "");  // no catalogue speaks English
  EXPECT_EQ(trn("tile", "tiles", 1), "tile");
  EXPECT_EQ(trn("tile", "tiles", 2), "tiles");
}

}  // namespace
}  // namespace tess
