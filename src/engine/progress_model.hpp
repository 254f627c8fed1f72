#pragma once
// The nine-stage weighted progress figure of one mosaic. Not thread-safe by
// itself: MosaicBuilder guards it with its lock.

#include <array>
#include <chrono>

namespace tess {

/// Stages as the run uses them.
enum ProgressStage : int {
  kStageTileDistance = 0,
  kStageCellBuilding = 2,
  kStageMainImageAnalysis = 3,
  kStageRequiredImages = 4,
  kStagePriorityImages = 5,
  kStageFreeingMemory = 6,
  kStagePlacement = 7,
  kStageSplitPlacement = 8,
};

/// A word for a stage, for readers that are programs: "tile_distance",
/// "saving" (stage 1, which the saver takes), "cell_building",
/// "main_image_analysis", "required_images", "priority_images",
/// "freeing_memory", "placement", "split_placement"; "starting" for none.
const char* progress_stage_keyword(int stage);

class ProgressModel {
 public:
  static constexpr int kStageCount = 9;
  using Clock = std::chrono::steady_clock;

  ProgressModel() { reset(); }

  /// Weights 16, 3870, 1, 7, 300, 300, 9, 5800, 5804; every total 1, nothing done.
  void reset();
  void set_weight(int stage, double weight);

  /// Closes the current stage and makes `stage` current; `total` above 0
  /// becomes the stage's total.
  void begin_stage(int stage, double total, Clock::time_point now = Clock::now());
  /// Adds to the current stage's done amount (nothing without a current stage).
  void add_progress(double amount);
  /// The current stage's time is kept and its done amount set to its total.
  void close_stage(Clock::time_point now = Clock::now());
  /// Closes the current stage and counts every stage as done: a mosaic that
  /// is finished skipped nothing it still had to do.
  void complete(Clock::time_point now = Clock::now());

  /// The time spent in `source` is carried over to `target` and `source`
  /// starts again from nothing (the stages of a mosaic that was split are
  /// shown as the split stage).
  void move_into(int target, int source);

  /// 0..100: every stage's done amount clamped to 0..its total, weighted.
  double overall_percent() const;
  /// done/total × 100 of the current stage; negative when there is none or its total is 1.
  double stage_percent() const;

  int current_stage() const { return m_current; }
  double done(int stage) const { return m_done[stage]; }
  double total(int stage) const { return m_total[stage]; }
  long elapsed_ms(int stage) const { return m_elapsed_ms[stage]; }

 private:
  std::array<double, kStageCount> m_weight{};
  std::array<long, kStageCount> m_elapsed_ms{};
  std::array<double, kStageCount> m_done{};
  std::array<double, kStageCount> m_total{};
  int m_current = -1;
  Clock::time_point m_stage_start{};
};

}  // namespace tess
