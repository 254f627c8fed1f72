#pragma once
// A Prompt for tests: records every call and replays planned answers, so a
// test can assert on the exact texts the program showed.

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "base/prompt.hpp"

namespace tess {

class ScriptedPrompt final : public Prompt {
 public:
  enum class Kind { message, ask, choose_files, choose_folder, show_picture };

  struct Call {
    Kind kind;
    std::string text;  ///< message or question text, dialog caption, picture caption
    Icon icon = Icon::none;
  };

  /// Planned answers, taken in order; when none is left a question takes its
  /// default answer and a dialog is cancelled.
  void plan_answer(Answer answer);
  void plan_files(std::vector<std::string> paths);
  void plan_folder(std::string folder);

  void message(const std::string& text, Icon icon) override;
  Answer ask(const std::string& text, Buttons buttons, Answer default_answer, Icon icon) override;
  std::vector<std::string> choose_files(const FileRequest& request) override;
  std::string choose_folder(const FolderRequest& request) override;
  void show_picture(const PictureView& view, const std::string& caption) override;

  std::vector<Call> calls() const;
  /// The texts of the message calls, in order.
  std::vector<std::string> messages() const;
  void clear();

 private:
  void record(Kind kind, const std::string& text, Icon icon);

  mutable std::mutex m_mutex;
  std::vector<Call> m_calls;
  std::deque<Answer> m_answers;
  std::deque<std::vector<std::string>> m_files;
  std::deque<std::string> m_folders;
};

}  // namespace tess
