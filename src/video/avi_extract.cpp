// Frame and clip extraction. Frames are decoded in order under one lock
// (a video decoder seeks badly backwards), while the costly work on each
// decoded frame - its signature, its JPEG - runs on the job pool. Clip files
// each read the video through a decoder of their own, so clips are written
// side by side without one clip's frames forcing seeks on another's.

#include "video/avi_extract.hpp"

#include <algorithm>
#include <system_error>
#include <utility>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "engine/job_pool.hpp"
#include "images/foto.hpp"
#include "video/avi_create.hpp"
#include "video/video_timing.hpp"

namespace tess {

namespace {

// Frames handed to the pool at a time during the analysis: enough to keep
// every thread busy, few enough that the signatures waiting to be compared
// stay small.
constexpr std::int64_t kMinAnalysisBatch = 32;

const char* kind_word(ExtractFolderKind kind) {
  switch (kind) {
    case ExtractFolderKind::image:
      return N_("Image");
    case ExtractFolderKind::still_video:
      return N_("Static Video");
    case ExtractFolderKind::video:
      break;
  }
  return N_("Video");
}

}  // namespace

// ---------------------------------------------------------------------------
// Names

std::filesystem::path extract_folder_path(const std::filesystem::path& base, int number, ExtractFolderKind kind) {
  return std::filesystem::path(
      format("%s_%s%d%s", base.string(), tr("FRAMES"), number, std::string(" ") + tr(kind_word(kind))));
}

std::string extract_image_name(const std::string& prefix, std::int64_t frame, ExtractMode mode) {
  return format(mode == ExtractMode::bmp ? "%s%06d.bmp" : "%s%06d.jpg", prefix, frame);
}

std::string extract_clip_name(const std::string& prefix, std::int64_t first_frame, std::int64_t frame_count) {
  return format("%s%06d-%06d-(%04d).avi", prefix, first_frame, first_frame + frame_count - 1, frame_count);
}

std::filesystem::path extract_base_path(const std::filesystem::path& video) {
  std::filesystem::path base = video;
  base.replace_extension();
  return base;
}

// ---------------------------------------------------------------------------
// The extraction

// One image to write: the frame and the folder it goes to.
struct AviExtract::ImageSlot {
  std::int64_t frame = 0;
  std::filesystem::path folder;
};

// The numbered folders of one kind.
struct AviExtract::FolderSeries {
  explicit FolderSeries(ExtractFolderKind of) : kind(of) {}
  ExtractFolderKind kind;
  int number = 0;          // the number of the current folder; 0 before the first
  std::int64_t files = 0;  // files sent to folders of this series
  std::filesystem::path current;
};

AviExtract::AviExtract(Prompt& prompt) : m_prompt(prompt), m_status(tr("Ready")) {}

AviExtract::~AviExtract() {
  request_stop();
  if (m_worker.joinable()) m_worker.join();
}

bool AviExtract::start(Job job) {
  if (m_running.load()) return false;
  if (m_worker.joinable()) m_worker.join();
  // A stop asked for as soon as start() returns must not be lost.
  m_stop = false;
  m_running = true;
  m_worker = std::thread([this, job = std::move(job)]() mutable { execute(std::move(job)); });
  return true;
}

ExtractOutcome AviExtract::wait() {
  if (m_worker.joinable()) m_worker.join();
  return m_outcome;
}

void AviExtract::request_stop() {
  m_stop = true;
  if (m_running.load()) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_status = tr("Stopping...");
  }
}

std::string AviExtract::status() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_status;
}

double AviExtract::progress() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_progress;
}

int AviExtract::error_count() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_errors;
}

std::vector<std::filesystem::path> AviExtract::folders() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_folders;
}

void AviExtract::set_status(std::string text, double progress) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_progress = std::clamp(progress, 0.0, 1.0);
  // Once a stop is asked for, the status says so until the worker has ended.
  if (!m_stop.load()) m_status = std::move(text);
}

bool AviExtract::count_error() {
  bool report = false;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    ++m_errors;
    report = m_errors == kExtractMaxErrors + 1;
  }
  if (report) {
    m_aborted = true;
    m_prompt.message(tr("Too many Errors"), Icon::error);
  }
  return !m_aborted.load();
}

void AviExtract::count_failed_jobs(const JobsOutcome& jobs, const CAviStream& stream) {
  if (jobs.ok()) return;
  m_prompt.message(failed_jobs_text(jobs, stream.width(), stream.height()), Icon::error);
  for (std::size_t i = 0; i < jobs.failed; ++i)
    if (!count_error()) break;
}

ExtractOutcome AviExtract::run(Job job) {
  m_stop = false;
  return execute(std::move(job));
}

ExtractOutcome AviExtract::execute(Job job) {
  m_running = true;
  m_aborted = false;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_status = tr("Ready");
    m_progress = 0.0;
    m_errors = 0;
    m_next_image = 0;
    m_image_slots.clear();
    m_folders.clear();
  }
  m_images_written = 0;
  m_clips_written = 0;
  m_clips.clear();
  if (job.base.empty()) job.base = extract_base_path(job.video);

  m_outcome = extract(job);
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_outcome == ExtractOutcome::stopped || (m_outcome == ExtractOutcome::failed && !m_aborted.load())) {
      m_status = tr("Ready");
    } else if (job.parameters.mode == ExtractMode::clips) {
      m_status = format(tr("Extracted %d Video Clips."), m_clips_written.load());
    } else {
      m_status = format(tr("Extracted %d Images."), m_images_written.load());
    }
    if (m_outcome == ExtractOutcome::done) m_progress = 1.0;
    m_image_slots.clear();
  }
  m_running = false;
  return m_outcome;
}

ExtractOutcome AviExtract::extract(const Job& job) {
  CAviStream stream;
  stream.show_messages(m_prompt);
  if (!stream.open(job.video)) return ExtractOutcome::failed;
  if (const std::string error = crop_error(job.parameters.crop, stream.width(), stream.height()); !error.empty()) {
    m_prompt.message(error, Icon::error);
    return ExtractOutcome::failed;
  }
  const bool finished = job.parameters.mode == ExtractMode::clips ? extract_clips(job, stream)
                                                                  : extract_images(job, stream);
  if (m_aborted.load()) return ExtractOutcome::failed;
  if (!finished || m_stop.load()) return ExtractOutcome::stopped;
  return ExtractOutcome::done;
}

std::filesystem::path AviExtract::next_folder(const Job& job, FolderSeries& series) {
  const std::int64_t capacity = std::max<std::int64_t>(job.folder_capacity, 1);
  if (series.files++ % capacity != 0) return series.current;
  // A full folder (or none yet): the next number whose folder is not there.
  series.current.clear();
  while (series.number < kExtractMaxFolderNumber) {
    const std::filesystem::path folder = extract_folder_path(job.base, ++series.number, series.kind);
    std::error_code ec;
    if (std::filesystem::exists(folder, ec) || ec) continue;
    if (!std::filesystem::create_directory(folder, ec)) return {};
    series.current = folder;
    {
      std::lock_guard<std::mutex> guard(m_mutex);
      m_folders.push_back(folder);
    }
    if (job.folder_pause.count() > 0) std::this_thread::sleep_for(job.folder_pause);
    break;
  }
  return series.current;
}

// --- Image mode --------------------------------------------------------------

bool AviExtract::extract_images(const Job& job, CAviStream& stream) {
  const ExtractParameters& params = job.parameters;
  const std::vector<std::int64_t> frames =
      select_image_frames(std::max<std::int64_t>(params.first, 0),
                          std::min(params.last, stream.frame_count() - 1), params.count);
  JobPool pool;
  pool.start_threads(job.threads - 1, job.priority);
  JobQueue queue(pool);
  FolderSeries series(ExtractFolderKind::image);
  for (const std::int64_t frame : frames) {
    if (should_stop()) break;
    // Folders are made here, in file order, before any job can ask for them.
    ImageSlot slot{frame, next_folder(job, series)};
    {
      std::lock_guard<std::mutex> guard(m_mutex);
      m_image_slots.push_back(std::move(slot));
    }
    queue.submit([this, &job, &stream] { image_job(job, stream); });
  }
  if (should_stop()) queue.cancel_all();
  count_failed_jobs(queue.wait_all(), stream);
  return !should_stop();
}

void AviExtract::image_job(const Job& job, CAviStream& stream) {
  if (should_stop()) return;
  const ExtractParameters& params = job.parameters;
  ImageSlot slot;
  std::int64_t done = 0;
  std::size_t total = 0;
  Foto frame;
  bool read = false;
  {
    // Frames are taken and decoded in order, one at a time.
    std::lock_guard<std::mutex> decode(m_decode_mutex);
    {
      std::lock_guard<std::mutex> guard(m_mutex);
      slot = m_image_slots[static_cast<std::size_t>(m_next_image)];
      done = m_next_image++;
      total = m_image_slots.size();
    }
    std::mutex fetch;  // the stream is only ever fetched under the decode lock
    read = stream.get_frame(slot.frame, params.crop, frame, fetch);
  }
  set_status(format("%s %d", tr("Extract Image#"), slot.frame + 1),
             static_cast<double>(done) / static_cast<double>(std::max<std::size_t>(total, 1)));
  if (!read) {
    count_error();
    return;
  }
  const std::string name = extract_image_name(params.prefix, slot.frame + 1, params.mode);
  const ExtractImageWriter& writer = params.mode == ExtractMode::bmp ? job.bmp_writer : job.jpeg_writer;
  if (slot.folder.empty()) {
    // No folder could be made for it: the file is never written elsewhere.
    m_prompt.message(format(tr("Unable to save file '%s'"), name), Icon::error);
    count_error();
    return;
  }
  if (!writer || !writer(frame, slot.folder / name, params.quality, m_prompt)) {
    count_error();
    return;
  }
  ++m_images_written;
}

// --- Clip mode ---------------------------------------------------------------

bool AviExtract::analyse_frames(const Job& job, CAviStream& stream, std::vector<FrameRuns>& runs) {
  const ExtractParameters& params = job.parameters;
  const std::int64_t first = std::max<std::int64_t>(params.first, 0);
  const std::int64_t last = std::min(params.last, stream.frame_count() - 1);
  const std::int64_t total = std::max<std::int64_t>(last - first + 1, 0);
  const std::int64_t batch_size = std::max<std::int64_t>(kMinAnalysisBatch, 4 * job.threads);

  JobPool pool;
  pool.start_threads(job.threads - 1, job.priority);
  JobQueue queue(pool);
  FrameRunTracker tracker(job.detection.static_threshold, job.detection.cut_threshold, job.detection.window());
  std::vector<TileSignature> signatures(static_cast<std::size_t>(std::min(batch_size, std::max<std::int64_t>(total, 1))));
  std::vector<char> analysed(signatures.size());
  for (std::int64_t begin = 0; begin < total; begin += batch_size) {
    if (should_stop()) return false;
    const std::int64_t count = std::min(batch_size, total - begin);
    std::fill(analysed.begin(), analysed.end(), 0);
    std::int64_t next = 0;  // the batch's next frame, taken under the decode lock
    for (std::int64_t j = 0; j < count; ++j) {
      queue.submit([&, this] {
        if (should_stop()) return;
        std::int64_t slot = 0;
        Foto frame;
        bool read = false;
        {
          std::lock_guard<std::mutex> decode(m_decode_mutex);
          slot = next++;
          std::mutex fetch;
          read = stream.get_frame(first + begin + slot, params.crop, frame, fetch);
        }
        set_status(format("%s %d", tr("Analyze Frame#"), first + begin + slot + 1),
                   0.5 * static_cast<double>(begin + slot) / static_cast<double>(total));
        const auto index = static_cast<std::size_t>(slot);
        if (read && signatures[index].analyse(frame, AnalysisMode::fill)) {
          analysed[index] = 1;
        } else {
          count_error();
        }
      });
    }
    count_failed_jobs(queue.wait_all(), stream);
    if (should_stop()) return false;
    for (std::int64_t j = 0; j < count; ++j) {
      const auto index = static_cast<std::size_t>(j);
      tracker.add(analysed[index] != 0 ? &signatures[index] : nullptr);
    }
  }
  runs = tracker.finish();
  return true;
}

bool AviExtract::extract_clips(const Job& job, CAviStream& stream) {
  std::vector<FrameRuns> runs;
  if (!analyse_frames(job, stream, runs)) return false;
  const std::int64_t first = std::max<std::int64_t>(job.parameters.first, 0);
  std::vector<ClipSpan> clips = plan_clips(runs, job.detection);
  for (ClipSpan& clip : clips) clip.first += first;
  m_clips = clips;
  stream.close();  // every clip reads through a decoder of its own

  JobPool pool;
  pool.start_threads(job.threads - 1, job.priority);
  JobQueue queue(pool);
  FolderSeries moving(ExtractFolderKind::video);
  FolderSeries still(ExtractFolderKind::still_video);
  std::vector<std::filesystem::path> folders(clips.size());
  std::size_t next = 0;
  std::size_t done = 0;
  const std::size_t total = clips.size();
  for (std::size_t i = 0; i < total; ++i) {
    if (should_stop()) break;
    folders[i] = next_folder(job, clips[i].still ? still : moving);
    queue.submit([&, this] {
      if (should_stop()) return;
      std::size_t index = 0;
      std::size_t finished = 0;
      {
        std::lock_guard<std::mutex> guard(m_mutex);
        index = next++;
        finished = done;
      }
      const ClipSpan& clip = clips[index];
      set_status(format(tr("Extract VideoTile# %d/%d (Frame# %d->%d)..."), index + 1, total, clip.first + 1,
                        clip.end()),
                 0.5 + 0.5 * static_cast<double>(finished) / static_cast<double>(total));
      if (write_clip(job, clip, folders[index])) ++m_clips_written;
      std::lock_guard<std::mutex> guard(m_mutex);
      ++done;
    });
  }
  if (should_stop()) queue.cancel_all();
  count_failed_jobs(queue.wait_all(), stream);
  return !should_stop();
}

bool AviExtract::write_clip(const Job& job, const ClipSpan& clip, const std::filesystem::path& folder) {
  const ExtractParameters& params = job.parameters;
  const std::string name = extract_clip_name(params.prefix, clip.first + 1, clip.length);
  if (folder.empty()) {
    m_prompt.message(format(tr("Unable to save file '%s'"), name), Icon::error);
    count_error();
    return false;
  }
  CAviStream stream;
  stream.show_messages(m_prompt);
  if (!stream.open(job.video)) {
    count_error();
    return false;
  }
  const std::filesystem::path path = folder / name;
  CAviCreate writer;
  writer.show_messages(m_prompt);
  bool written = writer.create(path, static_cast<int>(params.crop.width), static_cast<int>(params.crop.height),
                               job.detection.fourcc, rate_units(stream.rate().num, stream.rate().den));
  std::mutex fetch;  // this clip's own decoder
  Foto frame;
  for (std::int64_t f = clip.first; written && f < clip.end(); ++f)
    written = stream.get_frame(f, params.crop, frame, fetch) && writer.write(frame);
  // A clip that was not written whole is not left looking like one, and an
  // earlier clip of that name stays as it was.
  if (!written) writer.abandon();
  if (written && writer.close()) return true;
  count_error();
  return false;
}

}  // namespace tess
