#include "base/prompt.hpp"

#include <atomic>
#include <cstdio>

namespace tess {
namespace {

// Used before a front end has installed its own prompt: prints, and takes the
// default answer of every question.
class StderrPrompt final : public Prompt {
 public:
  void message(const std::string& text, Icon icon) override {
    const char* tag = icon == Icon::error ? "error" : icon == Icon::warning ? "warning" : "info";
    std::fprintf(stderr, "%s: %s\n", tag, text.c_str());
  }
  Answer ask(const std::string& text, Buttons, Answer default_answer, Icon) override {
    std::fprintf(stderr, "question: %s\n", text.c_str());
    return default_answer;
  }
  std::vector<std::string> choose_files(const FileRequest&) override { return {}; }
  std::string choose_folder(const FolderRequest&) override { return {}; }
  void show_picture(const PictureView&, const std::string& caption) override {
    std::fprintf(stderr, "info: %s\n", caption.c_str());
  }
};

StderrPrompt g_stderr_prompt;
std::atomic<Prompt*> g_process_prompt{nullptr};

}  // namespace

Prompt& process_prompt() {
  Prompt* p = g_process_prompt.load(std::memory_order_acquire);
  return p != nullptr ? *p : g_stderr_prompt;
}

void set_process_prompt(Prompt* prompt) { g_process_prompt.store(prompt, std::memory_order_release); }

}  // namespace tess
