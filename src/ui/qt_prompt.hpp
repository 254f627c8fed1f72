#pragma once
// The Prompt of the desktop program: message boxes, questions, file and
// folder dialogs and the picture-view window on Qt. A worker thread that
// reports is handed over to the window thread and waits there until the user
// has answered, so the engine never touches a widget itself.

#include <QPointer>
#include <QWidget>

#include "base/prompt.hpp"

namespace tess {

class UserState;

class QtPrompt final : public Prompt {
 public:
  /// `parent` owns the dialogs (may be null); `state` remembers the folder of
  /// each dialog kind (may be null: dialogs then open in the request's
  /// default folder).
  explicit QtPrompt(QWidget* parent = nullptr, const UserState* state = nullptr);

  void set_parent(QWidget* parent) { m_parent = parent; }

  void message(const std::string& text, Icon icon) override;
  Answer ask(const std::string& text, Buttons buttons, Answer default_answer, Icon icon) override;
  std::vector<std::string> choose_files(const FileRequest& request) override;
  std::string choose_folder(const FolderRequest& request) override;
  void show_picture(const PictureView& view, const std::string& caption) override;

 private:
  QPointer<QWidget> m_parent;
  const UserState* m_state;
};

}  // namespace tess
