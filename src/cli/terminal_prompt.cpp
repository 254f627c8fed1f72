#include "cli/terminal_prompt.hpp"

#include <cstdio>
#include <mutex>
#include <utility>

namespace tess {
namespace {

std::mutex g_output_mutex;

const char* answer_word(Answer a) {
  switch (a) {
    case Answer::ok: return "ok";
    case Answer::cancel: return "cancel";
    case Answer::yes: return "yes";
    case Answer::no: return "no";
    case Answer::abort: return "abort";
    case Answer::retry: return "retry";
    case Answer::ignore: return "ignore";
  }
  return "?";
}

bool offers(Buttons buttons, Answer a) {
  switch (buttons) {
    case Buttons::ok: return a == Answer::ok;
    case Buttons::ok_cancel: return a == Answer::ok || a == Answer::cancel;
    case Buttons::yes_no: return a == Answer::yes || a == Answer::no;
    case Buttons::yes_no_cancel: return a == Answer::yes || a == Answer::no || a == Answer::cancel;
    case Buttons::retry_cancel: return a == Answer::retry || a == Answer::cancel;
    case Buttons::abort_retry_ignore: return a == Answer::abort || a == Answer::retry || a == Answer::ignore;
  }
  return false;
}

// --yes stands for the affirmative button of any question, --no for the
// negative one.
std::optional<Answer> preset_for(Buttons buttons, Answer preset) {
  if (offers(buttons, preset)) return preset;
  Answer alt = preset == Answer::yes ? Answer::ok : Answer::cancel;
  if (offers(buttons, alt)) return alt;
  return std::nullopt;
}

}  // namespace

void TerminalPrompt::message(const std::string& text, Icon icon) {
  const char* tag = icon == Icon::error ? "error" : icon == Icon::warning ? "warning" : "info";
  std::lock_guard lock(g_output_mutex);
  std::fprintf(stderr, "%s: %s\n", tag, text.c_str());
}

Answer TerminalPrompt::ask(const std::string& text, Buttons buttons, Answer default_answer, Icon) {
  Answer answer = default_answer;
  if (m_preset)
    if (auto p = preset_for(buttons, *m_preset)) answer = *p;
  std::lock_guard lock(g_output_mutex);
  std::fprintf(stderr, "question: %s\nanswer: %s\n", text.c_str(), answer_word(answer));
  return answer;
}

std::vector<std::string> TerminalPrompt::choose_files(const FileRequest&) { return std::exchange(m_files, {}); }

std::string TerminalPrompt::choose_folder(const FolderRequest&) { return std::exchange(m_folder, {}); }

void TerminalPrompt::show_picture(const PictureView&, const std::string& caption) {
  std::lock_guard lock(g_output_mutex);
  std::fprintf(stderr, "info: %s\n", caption.c_str());
}

}  // namespace tess
