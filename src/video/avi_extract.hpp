#pragma once
// Cutting tile pictures out of a video: single frames saved as JPEG or BMP
// images, or short clips ("VideoTiles") saved as AVI files, cut where the
// picture changes and sorted into static and moving clips. The results go
// into numbered folders beside the video, from where a list picks them up.
// This is the job that reads and writes; what it takes is chosen by
// clip_detection.hpp, and extract_parameters.hpp checks what the user asked.

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
#include "video/avi_stream.hpp"
#include "video/clip_detection.hpp"
#include "video/extract_parameters.hpp"

namespace tess {

class Foto;
class Prompt;

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
