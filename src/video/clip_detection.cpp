// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/clip_detection.hpp"

#include <algorithm>
#include <charconv>
#include <limits>
#include <map>
#include <set>
#include <system_error>
#include <utility>

#include "settings/advanced_options.hpp"
#include "video/fourcc.hpp"

namespace tess {

namespace {

constexpr std::int64_t kMaxClipFrames = 100000;

// An option read the way C's atoi reads it: leading blanks, a sign, digits;
// 0 when there are none.
std::int64_t option_integer(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i < text.size() && text[i] == '+') ++i;
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data() + i, text.data() + text.size(), value);
  if (error == std::errc::result_out_of_range) return text[i] == '-' ? std::numeric_limits<std::int64_t>::min()
                                                                     : std::numeric_limits<std::int64_t>::max();
  return error == std::errc{} ? value : 0;
}

// A threshold per fine sample as a distance over the whole signature.
std::uint64_t threshold(std::int64_t per_sample) {
  // Beyond this every pair of frames is within the threshold anyway.
  constexpr std::int64_t kLargest = 3 * 255 * 255 + 1;
  return static_cast<std::uint64_t>(std::clamp<std::int64_t>(per_sample, 0, kLargest)) * kFineSampleCount;
}

// Candidates during the selection: at most one per first frame (a shorter one
// starting at the same frame lies inside the longer and is never chosen
// before it), indexed both by first frame and by length.
class CandidateSet {
 public:
  void add(std::int64_t first, std::int64_t length) {
    auto [it, inserted] = m_by_first.try_emplace(first, length);
    if (!inserted) {
      if (it->second >= length) return;
      m_by_length.erase({-it->second, first});
      it->second = length;
    }
    m_by_length.insert({-length, first});
    m_longest = std::max(m_longest, length);
  }
  void remove(std::int64_t first) {
    auto it = m_by_first.find(first);
    if (it == m_by_first.end()) return;
    m_by_length.erase({-it->second, first});
    m_by_first.erase(it);
  }
  bool empty() const { return m_by_first.empty(); }
  /// The longest, the earliest of equal ones.
  ClipSpan longest() const {
    const auto& [negative_length, first] = *m_by_length.begin();
    return ClipSpan{first, -negative_length, false};
  }
  /// Every candidate overlapping [first, end).
  std::vector<ClipSpan> overlapping(std::int64_t first, std::int64_t end) const {
    std::vector<ClipSpan> found;
    // No candidate is longer than the longest ever added, so none starting
    // earlier than that can reach the span.
    const std::int64_t from = first > std::numeric_limits<std::int64_t>::min() + m_longest ? first - m_longest : first;
    for (auto it = m_by_first.upper_bound(from); it != m_by_first.end() && it->first < end; ++it)
      if (it->first + it->second > first) found.push_back(ClipSpan{it->first, it->second, false});
    return found;
  }

 private:
  std::map<std::int64_t, std::int64_t> m_by_first;           // first → length
  std::set<std::pair<std::int64_t, std::int64_t>> m_by_length;  // (−length, first)
  std::int64_t m_longest = 0;
};

}  // namespace

ClipDetection clip_detection(const AdvancedOptions& options) {
  ClipDetection detection;
  detection.static_threshold = threshold(option_integer(options.value(kOptStaticVideoTileThreshold)));
  detection.cut_threshold =
      std::max(threshold(option_integer(options.value(kOptVideoTileThreshold))), detection.static_threshold);
  detection.min_static_frames = std::clamp<std::int64_t>(option_integer(options.value(kOptMinimumStaticFrames)), 0,
                                                         kMaxClipFrames);
  // A clip has at least one frame: a minimum of 0 would make empty clips.
  detection.min_frames = std::clamp<std::int64_t>(option_integer(options.value(kOptExtractMinFrames)), 1,
                                                  kMaxClipFrames);
  detection.max_frames = std::clamp<std::int64_t>(option_integer(options.value(kOptExtractMaxFrames)), 1,
                                                  kMaxClipFrames);
  detection.extract_static = option_integer(options.value(kOptExtractStaticVideo)) != 0;
  detection.fourcc = parse_fourcc(options.value(kOptFourCC));
  return detection;
}

// ---------------------------------------------------------------------------
// Frame selection and clip detection

std::vector<std::int64_t> select_image_frames(std::int64_t first, std::int64_t last, std::int64_t count) {
  std::vector<std::int64_t> frames;
  if (count < 1 || last < first) return frames;
  const double step = std::max(1.0, static_cast<double>(last - first + 1) / static_cast<double>(count));
  for (std::int64_t k = 0; k < count; ++k) {
    const auto frame = first + static_cast<std::int64_t>(static_cast<double>(k) * step);
    if (frame > last) break;
    frames.push_back(frame);
  }
  return frames;
}

FrameRunTracker::FrameRunTracker(std::uint64_t static_threshold, std::uint64_t cut_threshold, std::int64_t window)
    : m_static_threshold(static_threshold),
      m_cut_threshold(std::max(cut_threshold, static_threshold)),
      m_window(std::max<std::int64_t>(window, 1)) {}

void FrameRunTracker::close_similar(const Pending& pending, std::int64_t end) {
  FrameRuns& runs = m_runs[static_cast<std::size_t>(pending.frame)];
  runs.similar = end - pending.frame;
  if (pending.still_open) runs.still = runs.similar;
}

void FrameRunTracker::add(const TileSignature* signature) {
  const std::int64_t frame = frame_count();
  m_runs.emplace_back();
  std::size_t kept = 0;
  for (std::size_t i = 0; i < m_pending.size(); ++i) {
    Pending& pending = m_pending[i];
    // A run never grows past the window.
    if (frame - pending.frame >= m_window) {
      close_similar(pending, pending.frame + m_window);
      continue;
    }
    const std::uint64_t distance = signature != nullptr ? signature_distance(pending.signature, *signature)
                                                        : std::numeric_limits<std::uint64_t>::max();
    if (pending.still_open && distance >= m_static_threshold) {
      m_runs[static_cast<std::size_t>(pending.frame)].still = frame - pending.frame;
      pending.still_open = false;
    }
    if (distance >= m_cut_threshold) {
      // A cut ends the frame's runs and it is never compared again.
      close_similar(pending, frame);
      continue;
    }
    if (kept != i) m_pending[kept] = std::move(pending);
    ++kept;
  }
  m_pending.resize(kept);
  if (signature != nullptr) {
    m_pending.push_back(Pending{frame, *signature, true});
  } else {
    m_runs.back() = FrameRuns{1, 1};
  }
}

std::vector<FrameRuns> FrameRunTracker::finish() {
  const std::int64_t end = frame_count();
  for (const Pending& pending : m_pending) close_similar(pending, std::min(end, pending.frame + m_window));
  m_pending.clear();
  return std::move(m_runs);
}

std::vector<ClipSpan> find_static_clips(const std::vector<FrameRuns>& runs, std::int64_t min_static_frames) {
  std::vector<ClipSpan> clips;
  if (min_static_frames <= 0) return clips;
  const auto n = static_cast<std::int64_t>(runs.size());
  for (std::int64_t i = 0; i < n;) {
    const std::int64_t length = runs[static_cast<std::size_t>(i)].still;
    if (length >= min_static_frames) {
      clips.push_back(ClipSpan{i, length, true});
      i += length;
    } else {
      ++i;
    }
  }
  return clips;
}

std::vector<ClipSpan> find_candidates(const std::vector<FrameRuns>& runs, const std::vector<ClipSpan>& static_clips,
                                      std::int64_t min_frames) {
  std::vector<ClipSpan> candidates;
  auto next_static = static_clips.begin();
  const auto n = static_cast<std::int64_t>(runs.size());
  for (std::int64_t i = 0; i < n; ++i) {
    ClipSpan candidate{i, runs[static_cast<std::size_t>(i)].similar, false};
    if (candidate.length < min_frames) continue;
    // Static clips come in order: the first one ending after this frame is
    // the only one that can cut the candidate.
    while (next_static != static_clips.end() && next_static->end() <= i) ++next_static;
    if (next_static != static_clips.end() && next_static->first < candidate.end()) {
      if (i >= next_static->first) continue;
      candidate.length = next_static->first - i + 1;
    }
    if (candidate.length >= min_frames) candidates.push_back(candidate);
  }
  return candidates;
}

std::vector<ClipSpan> select_clips(std::vector<ClipSpan> candidates, std::int64_t min_frames,
                                   std::int64_t max_frames) {
  max_frames = std::max<std::int64_t>(max_frames, 1);
  CandidateSet set;
  for (const ClipSpan& candidate : candidates)
    if (candidate.length > 0) set.add(candidate.first, candidate.length);

  std::vector<ClipSpan> chosen;
  while (!set.empty()) {
    const ClipSpan longest = set.longest();
    if (longest.length < min_frames) break;
    set.remove(longest.first);
    ClipSpan clip = longest;
    if (clip.length > max_frames) {
      clip.length = max_frames;
      const std::int64_t rest = longest.length - max_frames;
      if (rest > min_frames) set.add(clip.end(), rest);
    }
    // What overlaps the clip keeps only its parts before and after it.
    for (const ClipSpan& other : set.overlapping(clip.first, clip.end())) {
      set.remove(other.first);
      if (other.first < clip.first && clip.first - other.first >= min_frames)
        set.add(other.first, clip.first - other.first);
      if (other.end() > clip.end() && other.end() - clip.end() >= min_frames)
        set.add(clip.end(), other.end() - clip.end());
    }
    chosen.push_back(clip);
  }
  std::sort(chosen.begin(), chosen.end(),
            [](const ClipSpan& a, const ClipSpan& b) { return a.first < b.first; });
  return chosen;
}

std::vector<ClipSpan> plan_clips(const std::vector<FrameRuns>& runs, const ClipDetection& detection) {
  const std::vector<ClipSpan> static_clips = find_static_clips(runs, detection.min_static_frames);
  std::vector<ClipSpan> clips =
      select_clips(find_candidates(runs, static_clips, detection.min_frames), detection.min_frames,
                   detection.max_frames);
  if (detection.extract_static) {
    clips.insert(clips.end(), static_clips.begin(), static_clips.end());
    std::stable_sort(clips.begin(), clips.end(),
                     [](const ClipSpan& a, const ClipSpan& b) { return a.first < b.first; });
  }
  return clips;
}

}  // namespace tess
