#pragma once
// Cutting tile pictures out of a video: single frames saved as JPEG or BMP
// images, or short clips ("VideoTiles") saved as AVI files, cut where the
// picture changes and sorted into static and moving clips. The results go
// into numbered folders beside the video, from where a list picks them up.
//
// The clip detection is kept apart from the reading and writing, as pure
// functions over per-frame records, so that it can be reasoned about (and
// tested) without a video.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/job_pool.hpp"
#include "engine/thread_priority.hpp"
#include "tilelist/tile_signature.hpp"
#include "video/avi_stream.hpp"

namespace tess {

class AdvancedOptions;
class Foto;
class Prompt;

// ---------------------------------------------------------------------------
// Parameters

/// What the extraction writes.
enum class ExtractMode { clips, jpeg, bmp };

/// The choices of the parameters window.
struct ExtractParameters {
  FrameRect crop;           ///< part of the frame to keep, in video pixels
  std::int64_t first = 0;   ///< first frame of the range, from 0
  std::int64_t last = 0;    ///< last frame of the range, from 0
  std::int64_t count = 1;   ///< images to take in the image modes
  ExtractMode mode = ExtractMode::clips;
  int quality = 90;         ///< JPEG quality, 1..100
  std::string prefix = "FR";
};

/// The window's parameters for `defaults` of a video (see extraction_defaults).
ExtractParameters extract_parameters(const ExtractionDefaults& defaults, ExtractMode mode);

/// The checks of the parameters window, in its order: Left + Width against
/// the video width ("The value Left+Width (%ld+%ld pixels) must not exceed the
/// Video Width of %ld pixels"), Top + Height against the height, then First
/// and Last against the last frame ("The First/Last Frame values must be
/// between 0 and %ld"). Each returns the translated message, empty when the
/// values are accepted.
std::string check_crop_width(const FrameRect& crop, std::int64_t video_width);
std::string check_crop_height(const FrameRect& crop, std::int64_t video_height);
std::string check_frame_range(std::int64_t first, std::int64_t last, std::int64_t frame_count);
/// The three checks together: the first message, empty when all pass.
std::string check_extract_parameters(const ExtractParameters& params, std::int64_t video_width,
                                     std::int64_t video_height, std::int64_t frame_count);

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
// Frame selection and clip detection (pure)

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

// ---------------------------------------------------------------------------
// Names

/// The kinds of output folder.
enum class ExtractFolderKind { image, still_video, video };

/// "<base>_FRAMES<number> <kind>" ("%s_%s%d%s"), with "FRAMES" and the kind
/// translated.
std::filesystem::path extract_folder_path(const std::filesystem::path& base, int number, ExtractFolderKind kind);
/// "%s%06d.jpg" or "%s%06d.bmp": the prefix and the frame number from 1.
std::string extract_image_name(const std::string& prefix, std::int64_t frame, ExtractMode mode);
/// "%s%06d-%06d-(%04d).avi": the prefix, the first and last frame numbers
/// from 1 and the frame count.
std::string extract_clip_name(const std::string& prefix, std::int64_t first_frame, std::int64_t frame_count);
/// The video's path without its extension: the base of the output folders.
std::filesystem::path extract_base_path(const std::filesystem::path& video);

// ---------------------------------------------------------------------------
// The extraction

/// Writes one extracted picture and reports its own failure through the
/// prompt. The picture writers live above the video layer, so the front end
/// hands them in.
using ExtractImageWriter =
    std::function<bool(const Foto& picture, const std::filesystem::path& path, int quality, Prompt& prompt)>;

/// How an extraction ended.
enum class ExtractOutcome { done, stopped, failed };

/// Folders of one kind hold at most this many files.
inline constexpr std::int64_t kExtractFolderCapacity = 2000;
/// Folder numbers run from 1 to this.
inline constexpr int kExtractMaxFolderNumber = 999;
/// The failed reads and writes an extraction puts up with; one more ends it.
inline constexpr int kExtractMaxErrors = 5;

class AviExtract {
 public:
  /// Everything one extraction needs. `video` is opened again by the
  /// extraction itself; `base` defaults to the video's path without its
  /// extension.
  struct Job {
    std::filesystem::path video;
    std::filesystem::path base;
    ExtractParameters parameters;
    ClipDetection detection;
    ExtractImageWriter jpeg_writer;
    ExtractImageWriter bmp_writer;
    int threads = 1;  ///< threads in all, the extraction's own included
    ThreadPriority priority = ThreadPriority::lowest;
    std::int64_t folder_capacity = kExtractFolderCapacity;
    /// The pause after a folder is made, so the file system has it before
    /// the files arrive.
    std::chrono::milliseconds folder_pause{500};
  };

  /// Reports go to `prompt`, which must outlive the extraction.
  explicit AviExtract(Prompt& prompt);
  /// Asks a running extraction to stop and waits for it.
  ~AviExtract();
  AviExtract(const AviExtract&) = delete;
  AviExtract& operator=(const AviExtract&) = delete;

  /// Runs the extraction on the calling thread; how it ended.
  ExtractOutcome run(Job job);
  /// Runs the extraction on a worker thread of its own. False when one is
  /// still running.
  [[nodiscard]] bool start(Job job);
  /// Whether the worker started by start() is still at work.
  [[nodiscard]] bool running() const { return m_running.load(); }
  /// Waits for the worker; how it ended.
  ExtractOutcome wait();

  /// Asks the extraction to stop at the next frame or clip. Safe from any thread.
  void request_stop();
  [[nodiscard]] bool stop_requested() const { return m_stop.load(); }

  /// The status text ("Analyze Frame# 12", "Extracted 40 Images.", "Ready",
  /// ...) and the progress of the whole job from 0 to 1, for a window or a
  /// terminal that polls them. Safe from any thread.
  std::string status() const;
  double progress() const;

  /// Results, readable once the extraction ended.
  ExtractOutcome outcome() const { return m_outcome; }
  std::int64_t images_written() const { return m_images_written.load(); }
  std::int64_t clips_written() const { return m_clips_written.load(); }
  /// Failed reads and writes.
  int error_count() const;
  /// The folders made, in the order they were made.
  std::vector<std::filesystem::path> folders() const;
  /// The clips the analysis found (static ones only when extracted), with
  /// frame numbers of the video from 0.
  const std::vector<ClipSpan>& clips() const { return m_clips; }

 private:
  struct ImageSlot;
  struct FolderSeries;

  /// The whole extraction, with the stop flag as the caller left it.
  ExtractOutcome execute(Job job);
  ExtractOutcome extract(const Job& job);
  [[nodiscard]] bool extract_images(const Job& job, CAviStream& stream);
  bool analyse_frames(const Job& job, CAviStream& stream, std::vector<FrameRuns>& runs);
  [[nodiscard]] bool extract_clips(const Job& job, CAviStream& stream);

  void image_job(const Job& job, CAviStream& stream);
  [[nodiscard]] bool write_clip(const Job& job, const ClipSpan& clip, const std::filesystem::path& folder);

  /// The folder for the next file of `series`, making a new one when the
  /// current is full; empty when no folder could be made.
  std::filesystem::path next_folder(const Job& job, FolderSeries& series);
  /// Counts one failed read or write; the one past the limit reports "Too
  /// many Errors" and ends the extraction. Whether the extraction goes on.
  bool count_error();
  /// After a phase's jobs: each that failed (threw, most likely out of
  /// memory) left a frame or clip undone, told once and counted as an error.
  void count_failed_jobs(const JobsOutcome& jobs, const CAviStream& stream);
  bool should_stop() const { return m_stop.load() || m_aborted.load(); }
  void set_status(std::string text, double progress);

  Prompt& m_prompt;
  std::thread m_worker;
  std::atomic<bool> m_running{false};
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_aborted{false};  // too many errors

  mutable std::mutex m_mutex;  // status, progress, counters, folders, image slots
  std::string m_status;
  double m_progress = 0.0;
  int m_errors = 0;
  std::int64_t m_next_image = 0;
  std::vector<ImageSlot> m_image_slots;
  std::vector<std::filesystem::path> m_folders;
  std::mutex m_decode_mutex;  // frames are taken in order and decoded one at a time

  ExtractOutcome m_outcome = ExtractOutcome::done;
  std::atomic<std::int64_t> m_images_written{0};
  std::atomic<std::int64_t> m_clips_written{0};
  std::vector<ClipSpan> m_clips;
};

}  // namespace tess
