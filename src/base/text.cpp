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

}  // namespace tess
