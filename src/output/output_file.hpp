#pragma once
// What every writer says when its file could not be written. The writing
// itself goes through base/file_sink.hpp, which leaves an earlier file of
// the same name untouched when the new one fails.

#include <string>

namespace tess {

class Prompt;

/// "Unable to save file '<name>'" with the error icon.
void report_unable_to_save(const std::string& name, Prompt& prompt);
/// The system's text for `error` (an errno value) and the path it concerns:
/// "Is a directory: out/m.jpg".
std::string system_error_text(int error, const std::string& path);

/// "Unable to save file '<path>'" followed, when `error` (an errno value) is
/// not 0, by the system's text for it: ". No space left on device: out/m.jpg".
void report_unable_to_save(const std::string& path, int error, Prompt& prompt);

/// `path` without the "/" it ends with, if any ("/" itself stays).
std::string without_trailing_slash(std::string path);

/// A new empty hidden folder beside `path` (a file, or a folder with or
/// without its last "/"): "<parent>/.<name>.<role>.XXXXXX/", "/" included,
/// for what must not show under its own name yet (a pyramid being built,
/// earlier files kept until their replacements are complete).
[[nodiscard]] bool make_sibling_folder(const std::string& path, const char* role, std::string& made);

}  // namespace tess
