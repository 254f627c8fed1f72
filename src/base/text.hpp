#pragma once
// User-visible text: every message is its English text used as a gettext
// message id, translated at the place of use, and formatted with printf-style
// fields through fmt::sprintf (type-checked, never raw snprintf on user data).

#include <filesystem>
#include <string>
#include <string_view>

#include <fmt/printf.h>

namespace tess {

inline constexpr const char* kTextDomain = "tessellarium";

/// Binds the "tessellarium" domain to the catalogues under `locale_dir`
/// (<locale_dir>/<lang>/LC_MESSAGES/tessellarium.mo), with UTF-8 output.
/// Calls setlocale(LC_ALL, "") first, so LANGUAGE and LC_* take effect.
/// Call once at start-up, after the interface language has been chosen.
void init_text(const std::filesystem::path& locale_dir);

/// Binds the catalogues of the data folder (see paths.hpp).
void init_text_from_data_folder();

/// The translation of `message_id`, or the id itself when none exists.
std::string tr(const char* message_id);

/// The language of the catalogue the texts come from ("de"), as its header
/// names it; empty while the texts are the English originals.
std::string catalogue_language();

/// Whether two texts are equal when ASCII letters are compared without case
/// (keys and keywords of the program's files; other bytes must match).
bool iequals(std::string_view a, std::string_view b);
/// Whether `text` begins with `prefix`, ASCII letters compared without case.
bool starts_with_ignoring_case(std::string_view text, std::string_view prefix);
/// Whether `part` occurs anywhere in `text`, ASCII letters compared without case.
bool contains_ignoring_case(std::string_view text, std::string_view part);

/// The singular or plural translation for the count `n`, by the plural rules
/// of the active language.
std::string trn(const char* singular, const char* plural, unsigned long n);

/// Marks a text for the translators where it is stored rather than shown
/// (tables of labels and messages); tr() translates it where it is used.
constexpr const char* N_(const char* text) { return text; }

/// printf-style formatting of a (usually translated) template. A template
/// whose fields do not fit the arguments (a faulty translation) comes back
/// unformatted instead of throwing.
template <typename... Args>
std::string format(std::string_view templ, const Args&... args) {
  try {
    return fmt::sprintf(templ, args...);
  } catch (const std::exception&) {
    return std::string(templ);
  }
}

}  // namespace tess
