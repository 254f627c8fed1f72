#include "base/text.hpp"

#include <clocale>
#include <libintl.h>

#include "base/paths.hpp"

namespace tess {

void init_text(const std::filesystem::path& locale_dir) {
  std::setlocale(LC_ALL, "");
  bindtextdomain(kTextDomain, locale_dir.c_str());
  bind_textdomain_codeset(kTextDomain, "UTF-8");
  textdomain(kTextDomain);
}

void init_text_from_data_folder() { init_text(data_folder() / "locale"); }

// gettext("") answers the catalogue's header, never what a caller wants.
std::string tr(const char* message_id) {
  if (message_id == nullptr || *message_id == '\0') return {};
  return dgettext(kTextDomain, message_id);
}

std::string trn(const char* singular, const char* plural, unsigned long n) {
  return dngettext(kTextDomain, singular, plural, n);
}

namespace {

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  return true;
}

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && iequals(text.substr(0, prefix.size()), prefix);
}

bool contains_ignoring_case(std::string_view text, std::string_view part) {
  if (part.empty()) return true;
  if (part.size() > text.size()) return false;
  // The first byte is matched plainly against both cases; only there is the rest compared.
  const char lower = ascii_lower(part[0]);
  const char upper = lower >= 'a' && lower <= 'z' ? static_cast<char>(lower - 'a' + 'A') : lower;
  for (std::size_t at = 0, last = text.size() - part.size(); at <= last; ++at) {
    const char c = text[at];
    if ((c == lower || c == upper) && iequals(text.substr(at, part.size()), part)) return true;
  }
  return false;
}

}  // namespace tess
