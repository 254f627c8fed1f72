#pragma once
// What every writer says when its file could not be written. The writing
// itself goes through base/file_sink.hpp, which leaves an earlier file of
// the same name untouched when the new one fails.

#include <string>

namespace tess {

class Prompt;

/// "Unable to save file '<name>'" with the error icon.
void report_unable_to_save(const std::string& name, Prompt& prompt);

}  // namespace tess
