#include "engine/run_controller.hpp"

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "base/scripted_prompt.hpp"

namespace tess {
namespace {

using namespace std::chrono_literals;

// A run that builds one mosaic and then waits for a stop request or a release.
struct FakeRun {
  std::atomic<bool> release{false};
  void operator()(MosaicBuilder& b) {
    b.begin_batch(1);
    b.begin_mosaic();
    b.set_status("Placing Tiles");
    while (!b.stop_requested() && !release) std::this_thread::sleep_for(1ms);
    b.end_mosaic(!b.stop_requested());
    b.end_batch();
  }
};

void wait_until_idle(RunController& c) {
  for (int i = 0; i < 2000 && c.running(); ++i) std::this_thread::sleep_for(1ms);
}

TEST(RunController, SecondPressAsksThenThirdSaysItIsStopping) {
  ScriptedPrompt prompt;
  MosaicBuilder builder(prompt);
  RunController controller(builder, {});
  FakeRun run;
  ASSERT_TRUE(controller.start(std::ref(run), ThreadPriority::normal));
  EXPECT_TRUE(controller.running());

  prompt.plan_answer(Answer::no);
  EXPECT_FALSE(controller.request_stop());  // asked, answered No: goes on running
  EXPECT_FALSE(builder.stop_requested());
  prompt.plan_answer(Answer::yes);
  EXPECT_FALSE(controller.request_stop());
  EXPECT_TRUE(builder.stop_requested());
  EXPECT_FALSE(controller.request_stop());
  controller.wait();

  auto calls = prompt.calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].text, "There is a Mosaic process running. Do you want to stop it?");
  EXPECT_EQ(calls[2].text, "Stopping the Mosaic Process. Please Wait...");
  EXPECT_FALSE(builder.take_finished());  // stopped: nothing completed
  EXPECT_TRUE(controller.request_stop());  // no run: the caller may go on
}

TEST(RunController, FinishedBatchRunsTheFinalActionOnce) {
  ScriptedPrompt prompt;
  MosaicBuilder builder(prompt);
  builder.parameters.advanced.set_value(kOptFinalAction, "ask");
  int opened = 0, beeps = 0;
  std::string folder_seen;
  RunController controller(builder, {[&] { ++beeps; },
                                     [&](const std::string& f) {
                                       ++opened;
                                       folder_seen = f;
                                     },
                                     {}});
  controller.set_outputs("/out/mosaics", "");
  FakeRun run;
  run.release = true;
  ASSERT_TRUE(controller.start(std::ref(run), ThreadPriority::normal));
  controller.wait();
  wait_until_idle(controller);
  builder.queue_message({"Mask file written", 0, 0, {}});
  prompt.plan_answer(Answer::yes);
  controller.poll();
  controller.poll();
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(beeps, 1);
  EXPECT_EQ(folder_seen, "/out/mosaics");
  auto calls = prompt.calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].text, "Mask file written");
  EXPECT_EQ(calls[1].text, "Mosaic completed! Do you want to open the destination folder?");
}

// The command line follows a run by waiting on it: the end must wake the
// waiter, not the next tick of its timeout.
TEST(RunController, WaitForWakesWhenTheWorkerEnds) {
  ScriptedPrompt prompt;
  MosaicBuilder builder(prompt);
  RunController controller(builder, {});
  FakeRun run;
  ASSERT_TRUE(controller.start(std::ref(run), ThreadPriority::normal));
  EXPECT_FALSE(controller.wait_for(20ms));
  EXPECT_TRUE(controller.running());
  run.release = true;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(controller.wait_for(120s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
  EXPECT_FALSE(controller.running());
  EXPECT_TRUE(controller.wait_for(0ms));
}

TEST(RunController, NothingMeansNothingAndLoadFailuresAreReported) {
  ScriptedPrompt prompt;
  MosaicBuilder builder(prompt);
  builder.parameters.advanced.set_value(kOptFinalAction, "nothing");
  int opened = 0, beeps = 0, pages = 0;
  RunController controller(builder, {[&] { ++beeps; }, [&](const std::string&) { ++opened; },
                                     [&](const std::string&) { ++pages; }});
  controller.set_outputs("/out/mosaics", "/out/mosaics/m RezIroriz/index.html");
  ASSERT_TRUE(controller.start(
      [](MosaicBuilder& b) {
        b.begin_batch(1);
        b.add_tile_load_failure();
        b.add_tile_load_failure();
        b.begin_mosaic();
        b.end_mosaic(true);
        b.end_batch();
      },
      ThreadPriority::normal));
  controller.wait();
  wait_until_idle(controller);
  controller.poll();
  // No folder, no web page in the browser, no sound, no question.
  EXPECT_EQ(opened, 0);
  EXPECT_EQ(pages, 0);
  EXPECT_EQ(beeps, 0);
  ASSERT_EQ(prompt.messages().size(), 1u);
  EXPECT_EQ(prompt.calls().size(), 1u);
  EXPECT_EQ(prompt.messages()[0].rfind("About 2 Tile Images where not loaded", 0), 0u);
}

}  // namespace
}  // namespace tess
