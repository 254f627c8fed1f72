// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Which frames of a video an extraction takes: evenly spaced frames for
// pictures, and for clips the runs of frames between cuts, sorted into static
// and moving clips. Pure functions over per-frame records, so the detection
// can be reasoned about (and tested) without a video.

#include <cstdint>
#include <vector>

#include "tilelist/tile_signature.hpp"

namespace tess {

class AdvancedOptions;

/// The clip detection settings, from the "Extract." and "DivarAdadir.FourCC"
/// advanced options.
struct ClipDetection {
  std::uint64_t cut_threshold = 1000 * kFineSampleCount;    ///< distance from which two frames are a cut
  std::uint64_t static_threshold = 150 * kFineSampleCount;  ///< distance below which two frames are static
  std::int64_t min_static_frames = 50;  ///< shortest static clip; 0: no static clips
  std::int64_t min_frames = 30;         ///< shortest clip, 1..100,000
  std::int64_t max_frames = 400;        ///< longest clip, 1..100,000
  bool extract_static = false;          ///< static clips are written too
  std::uint32_t fourcc = 0;             ///< codec of the clips; 0 uncompressed

  /// How many frames back a frame is compared: 4 × max_frames, so no run is
  /// longer.
  std::int64_t window() const { return 4 * max_frames; }
};

/// The settings of `options` (read as integers the way C's atoi reads them;
/// counts held to their ranges, thresholds to 0 and above, the cut threshold
/// raised to the static one when lower).
ClipDetection clip_detection(const AdvancedOptions& options);

// ---------------------------------------------------------------------------
// Frame selection and clip detection

/// Image mode: step = (last − first + 1) / count, at least 1; frames first +
/// trunc(k × step) for k = 0, 1, ... while fewer than `count` and not past
/// `last`. Empty when count < 1 or last < first.
std::vector<std::int64_t> select_image_frames(std::int64_t first, std::int64_t last, std::int64_t count);

/// What the analysis learns about one frame: how many frames, itself
/// included, stay similar to it (up to the first cut) and how many stay
/// static against it.
struct FrameRuns {
  std::int64_t similar = 0;
  std::int64_t still = 0;
  friend bool operator==(const FrameRuns&, const FrameRuns&) = default;
};

/// A run of frames: `first` is an index into the analysed range.
struct ClipSpan {
  std::int64_t first = 0;
  std::int64_t length = 0;
  bool still = false;  ///< a static clip
  std::int64_t end() const { return first + length; }  ///< one past the last frame
  friend bool operator==(const ClipSpan&, const ClipSpan&) = default;
};

/// Measures the runs of frames fed in order. Every frame is compared with
/// the earlier frames that have not met a cut yet, at most `window` back; a
/// run is always measured against its own first frame.
class FrameRunTracker {
 public:
  FrameRunTracker(std::uint64_t static_threshold, std::uint64_t cut_threshold, std::int64_t window);

  /// The next frame's signature; null for a frame that could not be read,
  /// which is a cut against every frame before it and starts no run of its
  /// own beyond itself.
  void add(const TileSignature* signature);
  /// Frames fed so far.
  std::int64_t frame_count() const { return static_cast<std::int64_t>(m_runs.size()); }
  /// Ends the open runs at the last frame and hands over one record per frame.
  std::vector<FrameRuns> finish();

 private:
  struct Pending {
    std::int64_t frame;
    TileSignature signature;
    bool still_open;
  };
  void close_similar(const Pending& pending, std::int64_t end);

  std::uint64_t m_static_threshold;
  std::uint64_t m_cut_threshold;
  std::int64_t m_window;
  std::vector<FrameRuns> m_runs;
  std::vector<Pending> m_pending;  // oldest first
};

/// Static clips: a frame whose static run is at least `min_static_frames`
/// long starts a clip covering that run, and the scan goes on after it. None
/// when `min_static_frames` is 0.
std::vector<ClipSpan> find_static_clips(const std::vector<FrameRuns>& runs, std::int64_t min_static_frames);

/// Candidates: every frame whose similar run is at least `min_frames` long,
/// cut short before the first static clip that ends after its start (or
/// dropped when it starts inside that clip), and dropped when then shorter
/// than `min_frames`.
std::vector<ClipSpan> find_candidates(const std::vector<FrameRuns>& runs, const std::vector<ClipSpan>& static_clips,
                                      std::int64_t min_frames);

/// Longest first (the earlier of equal ones): the chosen clip is cut to
/// `max_frames` with the rest put back when longer than `min_frames`, every
/// other candidate it overlaps is replaced by its parts before and after it
/// (each kept when at least `min_frames` long), until no candidate of
/// `min_frames` is left. The clips come back in order of their first frame.
std::vector<ClipSpan> select_clips(std::vector<ClipSpan> candidates, std::int64_t min_frames,
                                   std::int64_t max_frames);

/// Every clip the runs give with `detection`: the moving clips, and the static
/// ones when they are extracted, in order of their first frame.
std::vector<ClipSpan> plan_clips(const std::vector<FrameRuns>& runs, const ClipDetection& detection);

}  // namespace tess
