// The German catalogue stays complete: every text of the sources is in the
// translators' template, every text of the template has a German translation,
// and the compiled catalogue gives counted texts their German plural forms.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "base/text.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;

// The extraction of `make pot`. qtr() is the Qt windows' shorthand for
// tr() returning a QString, so its texts are the program's texts too.
constexpr const char* kExtractOptions =
    "--language=C++ --from-code=UTF-8 --keyword=tr --keyword=trn:1,2 --keyword=N_ --keyword=qtr";

/// One message of a .po or .pot file; obsolete (#~) messages are not read.
struct Message {
  std::string id;
  std::optional<std::string> plural_id;
  std::vector<std::string> translations;  ///< msgstr, or msgstr[0], msgstr[1], ...
  bool fuzzy = false;
};

using Catalogue = std::map<std::string, Message>;

// The body of a quoted PO string, escapes resolved.
std::string unquote(const std::string& text) {
  const auto first = text.find('"');
  const auto last = text.rfind('"');
  if (first == std::string::npos || last <= first) return {};
  std::string out;
  for (auto i = first + 1; i < last; ++i) {
    if (text[i] != '\\' || i + 1 >= last) {
      out += text[i];
      continue;
    }
    switch (text[++i]) {
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      default: out += text[i]; break;
    }
  }
  return out;
}

// Every message but the header, by its id.
Catalogue parse_po(const std::string& bytes) {
  Catalogue catalogue;
  Message current;
  std::string* field = nullptr;
  bool in_message = false;
  const auto finish = [&] {
    if (in_message && !current.id.empty()) catalogue[current.id] = current;
    current = Message{};
    field = nullptr;
    in_message = false;
  };
  std::istringstream in(bytes);
  std::string line;
  while (std::getline(in, line)) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) {
      finish();
    } else if (line.rfind("#,", 0) == 0) {
      if (line.find("fuzzy") != std::string::npos) current.fuzzy = true;
    } else if (line[0] == '#') {
      // references, comments and obsolete messages
    } else if (line.rfind("msgid_plural", 0) == 0) {
      current.plural_id = unquote(line);
      field = &*current.plural_id;
    } else if (line.rfind("msgid", 0) == 0) {
      if (in_message && !current.translations.empty()) finish();  // no blank line between messages
      in_message = true;
      current.id = unquote(line);
      field = &current.id;
    } else if (line.rfind("msgstr", 0) == 0) {
      current.translations.push_back(unquote(line));
      field = &current.translations.back();
    } else if (line[0] == '"' && field != nullptr) {
      *field += unquote(line);
    }
  }
  finish();
  return catalogue;
}

std::string quoted(const fs::path& path) {
  std::string out = "'";
  for (const char c : path.string()) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string shown(const std::vector<std::string>& ids) {
  std::string out;
  for (const auto& id : ids) out += "\n  \"" + id + "\"";
  return out;
}

class CatalogueTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The catalogues are sources, not build outputs, so they are read where
    // they are written.
    const fs::path root = TESS_SOURCE_ROOT;
    if (!fs::is_regular_file(root / "locale" / "de.po") || !fs::is_directory(root / "src")) return;
    s_root = root;
    s_template = parse_po(testing::read_file(root / "locale" / "tessellarium.pot"));
    s_german = parse_po(testing::read_file(root / "locale" / "de.po"));
    s_extracted = extract(root);
  }

  void SetUp() override {
    if (!s_root) FAIL() << "the source tree is not at " << TESS_SOURCE_ROOT;
  }

  // The texts of src/<module>/*.cpp and *.hpp as xgettext finds them today.
  static std::optional<Catalogue> extract(const fs::path& root) {
    static const testing::TempDir work;
    std::vector<std::string> files;
    for (const auto& module : fs::directory_iterator(root / "src")) {
      if (!module.is_directory()) continue;
      for (const auto& file : fs::directory_iterator(module.path())) {
        const auto ext = file.path().extension();
        if (ext == ".cpp" || ext == ".hpp") files.push_back(fs::relative(file.path(), root).string());
      }
    }
    std::sort(files.begin(), files.end());
    std::string list;
    for (const auto& file : files) list += file + "\n";
    if (!testing::write_file(work / "files.txt", list)) return std::nullopt;
    const std::string command = std::string("xgettext ") + kExtractOptions + " -D " + quoted(root) +
                                " --files-from=" + quoted(work / "files.txt") + " -o " +
                                quoted(work / "fresh.pot") + " 2>" + quoted(work / "xgettext.log");
    if (std::system(command.c_str()) != 0) return std::nullopt;
    return parse_po(testing::read_file(work / "fresh.pot"));
  }

  static inline std::optional<fs::path> s_root;
  static inline Catalogue s_template;
  static inline Catalogue s_german;
  static inline std::optional<Catalogue> s_extracted;
};

TEST_F(CatalogueTest, TemplateHoldsExactlyTheTextsOfTheSources) {
  ASSERT_TRUE(s_extracted) << "xgettext could not extract the texts of " << *s_root / "src";
  ASSERT_GT(s_extracted->size(), 100u);
  std::vector<std::string> missing;
  std::vector<std::string> stale;
  for (const auto& [id, message] : *s_extracted) {
    const auto found = s_template.find(id);
    if (found == s_template.end() || found->second.plural_id != message.plural_id) missing.push_back(id);
  }
  for (const auto& [id, message] : s_template) {
    if (!s_extracted->contains(id)) stale.push_back(id);
  }
  EXPECT_TRUE(missing.empty()) << "locale/tessellarium.pot lacks texts of the sources (regenerate it):"
                               << shown(missing);
  EXPECT_TRUE(stale.empty()) << "locale/tessellarium.pot holds texts the sources no longer have:" << shown(stale);
}

TEST_F(CatalogueTest, EveryTextOfTheSourcesHasAGermanTranslation) {
  ASSERT_TRUE(s_extracted);
  std::vector<std::string> untranslated;
  std::vector<std::string> fuzzy;
  std::vector<std::string> without_plural;
  for (const auto& [id, message] : *s_extracted) {
    const auto found = s_german.find(id);
    const bool complete = found != s_german.end() && !found->second.translations.empty() &&
                          std::none_of(found->second.translations.begin(), found->second.translations.end(),
                                       [](const std::string& t) { return t.empty(); });
    if (!complete) {
      untranslated.push_back(id);
    } else if (found->second.fuzzy) {
      fuzzy.push_back(id);
    } else if (message.plural_id && found->second.translations.size() != 2) {
      without_plural.push_back(id);
    }
  }
  EXPECT_TRUE(untranslated.empty()) << "texts without a German translation in locale/de.po:" << shown(untranslated);
  EXPECT_TRUE(fuzzy.empty()) << "fuzzy German translations (check and clear the flag):" << shown(fuzzy);
  EXPECT_TRUE(without_plural.empty()) << "counted texts without both German forms:" << shown(without_plural);
}

/// The compiled German catalogue of the data folder, for one test.
class GermanCatalogueTest : public CatalogueTest {
 protected:
  void SetUp() override {
    CatalogueTest::SetUp();
    if (IsSkipped()) return;
    m_locale.emplace("LC_ALL", "C.UTF-8");  // LANGUAGE is ignored under the C locale
    m_language.emplace("LANGUAGE", "de");
    init_text_from_data_folder();
  }
  void TearDown() override {
    if (!m_language) return;
    m_language.reset();
    m_locale.reset();
    init_text_from_data_folder();
  }

 private:
  std::optional<testing::ScopedEnv> m_locale;
  std::optional<testing::ScopedEnv> m_language;
};

TEST_F(GermanCatalogueTest, CountedTextsTakeBothGermanForms) {
  ASSERT_NE(tr("Mosaic"), "Mosaic") << "the compiled German catalogue is missing from the data folder";
  EXPECT_EQ(catalogue_language(), "de");  // what Help reads to pick the guide
  EXPECT_EQ(format(trn("Completed %ld Mosaic!", "Completed %ld Mosaics!", 1), 1L), "1 Mosaik fertiggestellt!");
  EXPECT_EQ(format(trn("Completed %ld Mosaic!", "Completed %ld Mosaics!", 2), 2L), "2 Mosaike fertiggestellt!");
  // Every counted text of de.po reaches the program with its two forms (a
  // stale compiled catalogue or a broken plural rule shows here).
  for (const auto& [id, message] : s_german) {
    if (!message.plural_id || message.translations.size() != 2) continue;
    EXPECT_EQ(trn(id.c_str(), message.plural_id->c_str(), 1), message.translations[0]) << id;
    EXPECT_EQ(trn(id.c_str(), message.plural_id->c_str(), 2), message.translations[1]) << id;
    EXPECT_EQ(trn(id.c_str(), message.plural_id->c_str(), 0), message.translations[1]) << id;
  }
}

TEST_F(GermanCatalogueTest, WordsCountedFromSeparateMarksKeepTheirPluralForms) {
  // These pairs reach trn() through tables whose singular and plural are
  // marked one by one, so the template lists them as plain texts; a merge
  // that follows the template would turn "2 Kacheln" into "2 Kachel".
  struct Pair {
    const char* singular;
    const char* plural;
    const char* one;
    const char* many;
  };
  const Pair pairs[] = {
      {"tile", "tiles", "Kachel", "Kacheln"},
      {"tile x row", "tiles x row", "Kachel pro Reihe", "Kacheln pro Reihe"},
      {"tile minimum", "tiles minimum", "Kachel Minimum", "Kacheln Minimum"},
      {"frame", "frames", "Bild", "Bilder"},
      {"process", "processes", "Prozess", "Prozesse"},
      {"%ld Landscape image", "%ld Landscape images", "%ld Bild im Querformat", "%ld Bilder im Querformat"},
      {"%ld Portrait videoclip", "%ld Portrait videoclips", "%ld Videoclip im Hochformat",
       "%ld Videoclips im Hochformat"},
  };
  for (const Pair& pair : pairs) {
    EXPECT_EQ(trn(pair.singular, pair.plural, 1), pair.one);
    EXPECT_EQ(trn(pair.singular, pair.plural, 5), pair.many);
  }
}

TEST(CatalogueParser, ReadsContinuationsPluralsFlagsAndSkipsObsoleteMessages) {
  const Catalogue catalogue = parse_po(
      "msgid \"\"\nmsgstr \"Language: de\\n\"\n\n"
      "#: src/a.cpp:1\n#, fuzzy, c-format\nmsgid \"\"\n\"Two \\\"lines\\\"\\n\"\n\"here\"\nmsgstr \"Zwei\"\n\n"
      "msgid \"tile\"\nmsgid_plural \"tiles\"\nmsgstr[0] \"Kachel\"\nmsgstr[1] \"Kacheln\"\n\n"
      "#~ msgid \"gone\"\n#~ msgstr \"weg\"\n");
  ASSERT_EQ(catalogue.size(), 2u);
  const Message& two = catalogue.at("Two \"lines\"\nhere");
  EXPECT_TRUE(two.fuzzy);
  EXPECT_EQ(two.translations, std::vector<std::string>{"Zwei"});
  const Message& tile = catalogue.at("tile");
  EXPECT_FALSE(tile.fuzzy);
  EXPECT_EQ(tile.plural_id, "tiles");
  EXPECT_EQ(tile.translations, (std::vector<std::string>{"Kachel", "Kacheln"}));
}

}  // namespace
}  // namespace tess
