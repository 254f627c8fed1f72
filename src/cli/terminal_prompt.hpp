#pragma once
// The command line's Prompt: messages go to standard error as "error: ...",
// "warning: ..." or "info: ...", questions print the question and the answer
// taken (the default unless the user pre-answered with --yes or --no), and
// file and folder choices come from the options.

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

  /// Paths handed to the next file or folder requests, in order.
  void queue_files(std::vector<std::string> paths) { m_files = std::move(paths); }
  void queue_folder(std::string folder) { m_folder = std::move(folder); }

  void message(const std::string& text, Icon icon) override;
  Answer ask(const std::string& text, Buttons buttons, Answer default_answer, Icon icon) override;
  std::vector<std::string> choose_files(const FileRequest& request) override;
  std::string choose_folder(const FolderRequest& request) override;
  void show_picture(const PictureView& view, const std::string& caption) override;

 private:
  std::optional<Answer> m_preset;
  std::vector<std::string> m_files;
  std::string m_folder;
};

}  // namespace tess
