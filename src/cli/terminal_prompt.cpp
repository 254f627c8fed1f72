#include "cli/terminal_prompt.hpp"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>

#include <unistd.h>

#include "base/text.hpp"

namespace tess {
namespace {

std::mutex g_output_mutex;
std::atomic<bool> g_waiting{false};

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

/// The answers a question offers, in the order they are shown.
std::vector<Answer> choices(Buttons buttons) {
  switch (buttons) {
    case Buttons::ok: return {Answer::ok};
    case Buttons::ok_cancel: return {Answer::ok, Answer::cancel};
    case Buttons::yes_no: return {Answer::yes, Answer::no};
    case Buttons::yes_no_cancel: return {Answer::yes, Answer::no, Answer::cancel};
    case Buttons::retry_cancel: return {Answer::retry, Answer::cancel};
    case Buttons::abort_retry_ignore: return {Answer::abort, Answer::retry, Answer::ignore};
  }
  return {};
}

bool offers(Buttons buttons, Answer a) {
  for (Answer offered : choices(buttons))
    if (offered == a) return true;
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

// The answer that goes no further: what a question nobody could answer
// takes, so the path that asked ends as it does on a No.
Answer negative_answer(Buttons buttons, Answer default_answer) {
  for (Answer a : {Answer::cancel, Answer::no, Answer::abort})
    if (offers(buttons, a)) return a;
  return default_answer;
}

// "[y/N]": the first letter of each answer, the default's in capitals.
std::string choice_hint(Buttons buttons, Answer default_answer) {
  std::string hint = "[";
  for (Answer a : choices(buttons)) {
    if (hint.size() > 1) hint += '/';
    const char letter = answer_word(a)[0];
    hint += a == default_answer ? static_cast<char>(std::toupper(static_cast<unsigned char>(letter))) : letter;
  }
  return hint + "]";
}

// The answer a typed line stands for: empty takes the default, otherwise
// the answer's word or its first letter in any case.
std::optional<Answer> typed_answer(std::string line, Buttons buttons, Answer default_answer) {
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  std::size_t start = 0;
  while (start < line.size() && std::isspace(static_cast<unsigned char>(line[start]))) ++start;
  line.erase(0, start);
  if (line.empty()) return default_answer;
  for (char& c : line) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (Answer a : choices(buttons)) {
    const std::string word = answer_word(a);
    if (line == word || line == word.substr(0, 1)) return a;
  }
  return std::nullopt;
}

// A question on one line, however its text is broken for a window.
std::string one_line(const std::string& text) {
  std::string line;
  for (char c : text) {
    const bool space = c == '\n' || c == '\r' || c == ' ' || c == '\t';
    if (space && (line.empty() || line.back() == ' ')) continue;
    line += space ? ' ' : c;
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

bool can_ask() { return ::isatty(STDIN_FILENO) == 1 && ::isatty(STDERR_FILENO) == 1; }

// One line from standard input, without its line break; nothing at its end.
std::optional<std::string> read_line() {
  char* buffer = nullptr;
  std::size_t capacity = 0;
  const ssize_t length = ::getline(&buffer, &capacity, stdin);
  std::optional<std::string> line;
  if (length >= 0) {
    line.emplace(buffer, static_cast<std::size_t>(length));
    if (!line->empty() && line->back() == '\n') line->pop_back();
  }
  std::free(buffer);
  return line;
}

// Keeps a progress line from writing over the question while it waits.
class Waiting {
 public:
  Waiting() { g_waiting.store(true); }
  ~Waiting() { g_waiting.store(false); }
  Waiting(const Waiting&) = delete;
  Waiting& operator=(const Waiting&) = delete;
};

}  // namespace

bool TerminalPrompt::refused() const { return m_refused.load(); }

bool TerminalPrompt::waiting_for_answer() { return g_waiting.load(); }

void TerminalPrompt::message(const std::string& text, Icon icon) {
  const char* tag = icon == Icon::error ? "error" : icon == Icon::warning ? "warning" : "info";
  std::lock_guard lock(g_output_mutex);
  std::fprintf(stderr, "%s: %s\n", tag, text.c_str());
}

Answer TerminalPrompt::ask(const std::string& text, Buttons buttons, Answer default_answer, Icon) {
  std::optional<Answer> answer;
  // A preset the question has no button for leaves it its default.
  if (m_preset) answer = preset_for(buttons, *m_preset).value_or(default_answer);
  if (!answer && (m_take_defaults || buttons == Buttons::ok)) answer = default_answer;
  if (answer) {
    std::lock_guard lock(g_output_mutex);
    std::fprintf(stderr, "question: %s\nanswer: %s\n", text.c_str(), answer_word(*answer));
    return *answer;
  }

  std::lock_guard lock(g_output_mutex);
  if (!m_refused.load() && can_ask()) {
    const Waiting waiting;
    const std::string hint = choice_hint(buttons, default_answer);
    for (;;) {
      // The live progress line is cleared first.
      std::fprintf(stderr, "\r\033[K%s %s ", text.c_str(), hint.c_str());
      std::fflush(stderr);
      errno = 0;
      const std::optional<std::string> line = read_line();
      if (!line && errno == EINTR) {
        // Ctrl-C while the question waits: the run is being stopped.
        std::fputc('\n', stderr);
        return negative_answer(buttons, default_answer);
      }
      if (!line) {
        std::fputc('\n', stderr);
        break;  // the input ended: nobody is left to answer
      }
      if (const auto typed = typed_answer(*line, buttons, default_answer)) return *typed;
      std::fprintf(stderr, "%s\n", format(tr("please answer %s"), hint).c_str());
    }
  }
  // Nobody can answer: taking the default silently would decide for the user.
  m_refused.store(true);
  std::fprintf(stderr, "error: %s\n",
               format(tr("the run must ask \"%s\": answer it with --yes or --no"), one_line(text)).c_str());
  return negative_answer(buttons, default_answer);
}

std::optional<std::string> TerminalPrompt::read_typed(const std::string& caption) {
  std::lock_guard lock(g_output_mutex);
  if (m_refused.load() || !can_ask()) return std::nullopt;
  const Waiting waiting;
  std::fprintf(stderr, "\r\033[K%s ", caption.c_str());
  std::fflush(stderr);
  return read_line();
}

std::vector<std::string> TerminalPrompt::choose_files(const FileRequest& request) {
  if (!m_files.empty()) return std::exchange(m_files, {});
  // Asked on the terminal only where a question went before (a mask file
  // the run needs); an empty line cancels.
  if (m_preset || m_take_defaults) return {};
  const std::optional<std::string> typed = read_typed(request.caption);
  if (!typed || typed->empty()) return {};
  return {*typed};
}

std::string TerminalPrompt::choose_folder(const FolderRequest& request) {
  if (!m_folder.empty()) return std::exchange(m_folder, {});
  if (m_preset || m_take_defaults) return {};
  return read_typed(request.caption).value_or(std::string());
}

void TerminalPrompt::show_picture(const PictureView&, const std::string& caption) {
  std::lock_guard lock(g_output_mutex);
  std::fprintf(stderr, "info: %s\n", caption.c_str());
}

}  // namespace tess
