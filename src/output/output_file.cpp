#include "output/output_file.hpp"

#include "base/prompt.hpp"
#include "base/text.hpp"

namespace tess {

void report_unable_to_save(const std::string& name, Prompt& prompt) {
  prompt.message(format(tr("Unable to save file '%s'"), name), Icon::error);
}

}  // namespace tess
