#include "engine/progress_model.hpp"

#include <algorithm>

namespace tess {

const char* progress_stage_keyword(int stage) {
  switch (stage) {
    case kStageTileDistance: return "tile_distance";
    case 1: return "saving";
    case kStageCellBuilding: return "cell_building";
    case kStageMainImageAnalysis: return "main_image_analysis";
    case kStageRequiredImages: return "required_images";
    case kStagePriorityImages: return "priority_images";
    case kStageFreeingMemory: return "freeing_memory";
    case kStagePlacement: return "placement";
    case kStageSplitPlacement: return "split_placement";
    default: return "starting";
  }
}

void ProgressModel::reset() {
  m_weight = {16, 3870, 1, 7, 300, 300, 9, 5800, 5804};
  m_elapsed_ms.fill(0);
  m_done.fill(0);
  m_total.fill(1);
  m_current = -1;
}

void ProgressModel::set_weight(int stage, double weight) {
  if (stage >= 0 && stage < kStageCount) m_weight[stage] = weight;
}

void ProgressModel::close_stage(Clock::time_point now) {
  if (m_current < 0) return;
  m_elapsed_ms[m_current] =
      static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(now - m_stage_start).count());
  m_done[m_current] = m_total[m_current];
  m_current = -1;
}

void ProgressModel::complete(Clock::time_point now) {
  close_stage(now);
  m_done = m_total;
}

void ProgressModel::begin_stage(int stage, double total, Clock::time_point now) {
  close_stage(now);
  if (stage < 0 || stage >= kStageCount) return;
  m_current = stage;
  m_stage_start = now;
  if (total > 0) m_total[stage] = total;
}

void ProgressModel::add_progress(double amount) {
  if (m_current >= 0) m_done[m_current] += amount;
}

void ProgressModel::move_into(int target, int source) {
  if (target < 0 || target >= kStageCount || source < 0 || source >= kStageCount || target == source) return;
  m_elapsed_ms[target] += m_elapsed_ms[source];
  m_elapsed_ms[source] = 0;
  m_done[source] = 0;
  m_total[source] = 1;
  if (m_current == source) m_current = -1;
}

double ProgressModel::overall_percent() const {
  double weights = 0;
  double sum = 0;
  for (int i = 0; i < kStageCount; ++i) {
    weights += m_weight[i];
    double done = std::clamp(m_done[i], 0.0, m_total[i]);
    if (m_total[i] > 0) sum += done / m_total[i] * m_weight[i];
  }
  return weights > 0 ? 100.0 / weights * sum : 0.0;
}

double ProgressModel::stage_percent() const {
  if (m_current < 0 || m_total[m_current] == 1) return -1;
  return m_done[m_current] / m_total[m_current] * 100.0;
}

}  // namespace tess
