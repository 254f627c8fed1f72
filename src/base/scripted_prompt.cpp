#include "base/scripted_prompt.hpp"

namespace tess {

void ScriptedPrompt::plan_answer(Answer answer) {
  std::lock_guard lock(m_mutex);
  m_answers.push_back(answer);
}

void ScriptedPrompt::plan_files(std::vector<std::string> paths) {
  std::lock_guard lock(m_mutex);
  m_files.push_back(std::move(paths));
}

void ScriptedPrompt::plan_folder(std::string folder) {
  std::lock_guard lock(m_mutex);
  m_folders.push_back(std::move(folder));
}

void ScriptedPrompt::record(Kind kind, const std::string& text, Icon icon) {
  m_calls.push_back(Call{kind, text, icon});
}

void ScriptedPrompt::message(const std::string& text, Icon icon) {
  std::lock_guard lock(m_mutex);
  record(Kind::message, text, icon);
}

Answer ScriptedPrompt::ask(const std::string& text, Buttons, Answer default_answer, Icon icon) {
  std::lock_guard lock(m_mutex);
  record(Kind::ask, text, icon);
  if (m_answers.empty()) return default_answer;
  Answer a = m_answers.front();
  m_answers.pop_front();
  return a;
}

std::vector<std::string> ScriptedPrompt::choose_files(const FileRequest& request) {
  std::lock_guard lock(m_mutex);
  record(Kind::choose_files, request.caption, Icon::none);
  if (m_files.empty()) return {};
  auto paths = std::move(m_files.front());
  m_files.pop_front();
  return paths;
}

std::string ScriptedPrompt::choose_folder(const FolderRequest& request) {
  std::lock_guard lock(m_mutex);
  record(Kind::choose_folder, request.caption, Icon::none);
  if (m_folders.empty()) return {};
  auto folder = std::move(m_folders.front());
  m_folders.pop_front();
  return folder;
}

void ScriptedPrompt::show_picture(const PictureView&, const std::string& caption) {
  std::lock_guard lock(m_mutex);
  record(Kind::show_picture, caption, Icon::none);
}

std::vector<ScriptedPrompt::Call> ScriptedPrompt::calls() const {
  std::lock_guard lock(m_mutex);
  return m_calls;
}

std::vector<std::string> ScriptedPrompt::messages() const {
  std::lock_guard lock(m_mutex);
  std::vector<std::string> texts;
  for (const auto& c : m_calls)
    if (c.kind == Kind::message) texts.push_back(c.text);
  return texts;
}

void ScriptedPrompt::clear() {
  std::lock_guard lock(m_mutex);
  m_calls.clear();
  m_answers.clear();
  m_files.clear();
  m_folders.clear();
}

}  // namespace tess
