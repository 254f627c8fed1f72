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

std::string catalogue_language() {
  // The empty id answers the header of the catalogue in use, or itself when
  // no catalogue speaks (a named id, so the extraction leaves it alone).
  static constexpr const char* kHeaderId = "";
  const std::string_view header = dgettext(kTextDomain, kHeaderId);
  constexpr std::string_view kField = "Language:";
  std::size_t at = header.find(kField);
  while (at != std::string_view::npos && at != 0 && header[at - 1] != '\n') at = header.find(kField, at + 1);
  if (at == std::string_view::npos) return {};
  std::string_view value = header.substr(at + kField.size());
  value = value.substr(0, value.find('\n'));
  const std::size_t first = value.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  value = value.substr(first);
  return std::string(value.substr(0, value.find_first_of(" \t\r")));
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
