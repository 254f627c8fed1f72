#pragma once
// The command line's Prompt: messages go to standard error as "error: ...",
// "warning: ..." or "info: ...". A question takes the answer --yes or --no
// gave; otherwise it is asked on the terminal and waits for the user's
// answer. Without a terminal nobody can answer: the question is refused with
// an "error:" line and its negative answer, and refused() tells the command
// to end with the usage status. File and folder choices come from the
// options, or are typed on the terminal.

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "base/prompt.hpp"

namespace tess {

class TerminalPrompt final : public Prompt {
 public:
  /// `preset`: the answer given by --yes (Answer::yes) or --no (Answer::no).
  explicit TerminalPrompt(std::optional<Answer> preset = std::nullopt) : m_preset(preset) {}

  /// The answer --yes or --no gives every question from now on.
  void set_preset(std::optional<Answer> preset) { m_preset = preset; }

  /// Every question takes its default answer without asking: for commands
  /// that write no mosaic, whose questions change nothing they write.
  void take_defaults() { m_take_defaults = true; }

  /// Paths handed to the next file or folder requests, in order.
  void queue_files(std::vector<std::string> paths) { m_files = std::move(paths); }
  void queue_folder(std::string folder) { m_folder = std::move(folder); }

  /// A question came up that nobody could answer (no terminal, no --yes or
  /// --no, or the end of the input): it was refused with an "error:" line.
  [[nodiscard]] bool refused() const;

  /// True while a question waits for its answer on the terminal, so that a
  /// progress line does not write over it.
  [[nodiscard]] static bool waiting_for_answer();

  void message(const std::string& text, Icon icon) override;
  Answer ask(const std::string& text, Buttons buttons, Answer default_answer, Icon icon) override;
  std::vector<std::string> choose_files(const FileRequest& request) override;
  std::string choose_folder(const FolderRequest& request) override;
  void show_picture(const PictureView& view, const std::string& caption) override;
  bool has_window() const override { return false; }

 private:
  /// A line typed on the terminal after `caption`; nothing without a terminal.
  std::optional<std::string> read_typed(const std::string& caption);

  std::optional<Answer> m_preset;
  bool m_take_defaults = false;
  std::atomic<bool> m_refused{false};  // set by the worker's questions, read once the run has ended
  std::vector<std::string> m_files;
  std::string m_folder;
};

}  // namespace tess
