// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/list_questions.hpp"

#include <vector>

#include "base/prompt.hpp"
#include "base/text.hpp"

namespace tess {

namespace {

Answer ask_yes_no(Prompt& prompt, const std::string& text) {
  return prompt.ask(text, Buttons::yes_no, Answer::no, Icon::question);
}

/// Asks to stop a running video extraction; false when declined.
bool stop_extraction(Prompt& prompt, const LeaveQuestions& questions) {
  const auto& extraction = questions.video_extraction;
  if (!extraction || !extraction->running || !extraction->running()) return true;
  if (ask_yes_no(prompt, tr("There is a Video Extraction Process running. Do you want to stop it?")) != Answer::yes)
    return false;
  if (extraction->stop) extraction->stop();
  return true;
}

}  // namespace

bool leave_check(ListAnalysis& analysis, const LeaveQuestions& questions) {
  Prompt& prompt = analysis.prompt();
  if (!stop_extraction(prompt, questions)) return false;
  if (analysis.active()) {
    if (ask_yes_no(prompt, tr("There is an Analyze Process running. Do you want to stop it?")) != Answer::yes)
      return false;
    analysis.stop();
  }
  if (!list_changed(analysis)) return true;
  if (questions.ask_save)
    return ask_yes_no(prompt, tr("You did not saved the Images List. Are you sure to continue without saving?")) ==
           Answer::yes;
  if (questions.ask_analyse)
    return ask_yes_no(prompt,
                      tr("You did not Analyze the Folders. Are you sure you want to continue without Analyzing?")) ==
           Answer::yes;
  return true;
}

ListSaveResult start_analysis(ListAnalysis& analysis, int thread_count, bool save_as,
                              const LeaveQuestions& questions) {
  // The analysis's own refusals come before the question: a busy analysis
  // or a list without folders is told so without asking anything.
  if (analysis.active()) return ListSaveResult::busy;
  bool has_sources = false;
  {
    std::lock_guard lock(analysis.mutex());
    has_sources = analysis.list().has_sources();
  }
  if (has_sources && !stop_extraction(analysis.prompt(), questions)) return ListSaveResult::cancelled;
  return analysis.start(thread_count, save_as);
}

bool new_list(ListAnalysis& analysis, const LeaveQuestions& questions) {
  if (!leave_check(analysis, questions)) return false;
  clear_list(analysis);
  return true;
}

OpenListResult open_list(ListAnalysis& analysis, const std::string& file, int thread_count,
                         const LeaveQuestions& questions) {
  if (!leave_check(analysis, questions)) return OpenListResult::cancelled;
  Prompt& prompt = analysis.prompt();
  std::string path = file;
  if (path.empty()) {
    FileRequest request;
    request.caption = tr("Select a Image List File (*.tzc, *.tz4, *.tz9, ...)");
    request.kind = kListFileKind;
    request.filter = list_file_filter();
    const std::vector<std::string> chosen = prompt.choose_files(request);
    if (chosen.empty() || chosen.front().empty()) return OpenListResult::cancelled;
    path = chosen.front();
  }
  const OpenListResult loaded = load_list(analysis, path);
  if (loaded != OpenListResult::outdated) return loaded;
  if (ask_yes_no(prompt, upgrade_question()) != Answer::yes) return forget_list(analysis);
  return upgrade_list(analysis, thread_count);
}

bool switch_black_and_white(ListAnalysis& analysis, bool black_and_white) {
  if (analysis.active()) return false;
  const std::string question = black_and_white_question(analysis, black_and_white);
  if (!question.empty() && ask_yes_no(analysis.prompt(), question) != Answer::yes) return false;
  return apply_black_and_white(analysis, black_and_white);
}

}  // namespace tess
