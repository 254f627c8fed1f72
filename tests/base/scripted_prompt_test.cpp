#include "base/scripted_prompt.hpp"

#include <gtest/gtest.h>

namespace tess {
namespace {

TEST(ScriptedPrompt, RecordsCallsAndReplaysPlannedAnswers) {
  ScriptedPrompt p;
  p.plan_answer(Answer::no);
  p.plan_files({"/a/b.jpg"});
  p.message("Stopped!", Icon::warning);
  EXPECT_EQ(p.ask("Stop?", Buttons::yes_no, Answer::yes, Icon::question), Answer::no);
  EXPECT_EQ(p.ask("Again?", Buttons::yes_no, Answer::yes, Icon::question), Answer::yes);  // default when none planned
  EXPECT_EQ(p.choose_files(FileRequest{}), std::vector<std::string>{"/a/b.jpg"});
  EXPECT_TRUE(p.choose_folder(FolderRequest{}).empty());  // cancelled
  ASSERT_EQ(p.calls().size(), 5u);
  EXPECT_EQ(p.messages(), std::vector<std::string>{"Stopped!"});
  EXPECT_EQ(p.calls()[0].icon, Icon::warning);
}

}  // namespace
}  // namespace tess
