// Frame and clip extraction. Frames are decoded in order under one lock
// (a video decoder seeks badly backwards), while the costly work on each
// decoded frame - its signature, its JPEG - runs on the job pool. Clip files
// each read the video through a decoder of their own, so clips are written
// side by side without one clip's frames forcing seeks on another's.

#include "video/avi_extract.hpp"

#include <algorithm>
#include <charconv>
#include <limits>
#include <map>
#include <set>
#include <system_error>
#include <utility>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "engine/job_pool.hpp"
#include "images/foto.hpp"
#include "settings/advanced_options.hpp"
#include "video/avi_create.hpp"
#include "video/fourcc.hpp"


namespace tess {

namespace {

constexpr std::int64_t kMaxClipFrames = 100000;
// Rates are written in 1/500 frame per second.
constexpr std::int64_t kRateUnitsPerFrame = 500;
// Frames handed to the pool at a time during the analysis: enough to keep
// every thread busy, few enough that the signatures waiting to be compared
// stay small.
constexpr std::int64_t kMinAnalysisBatch = 32;

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

std::uint32_t rate_units(const FrameRate& rate) {
  if (rate.num <= 0 || rate.den <= 0) return 0;
  const std::int64_t units = (static_cast<std::int64_t>(rate.num) * kRateUnitsPerFrame + rate.den / 2) / rate.den;
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(units, 1, std::numeric_limits<std::uint32_t>::max()));
}

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

// ---------------------------------------------------------------------------
// Parameters

ExtractParameters extract_parameters(const ExtractionDefaults& defaults, ExtractMode mode) {
  ExtractParameters params;
  params.crop = defaults.crop;
  params.first = defaults.first;
  params.last = defaults.last;
  params.count = defaults.count;
  params.mode = mode;
  params.quality = defaults.quality;
  params.prefix = defaults.prefix;
  return params;
}

std::string check_crop_width(const FrameRect& crop, std::int64_t video_width) {
  if (crop.left + crop.width <= video_width) return {};
  return format(tr("The value Left+Width (%ld+%ld pixels) must not exceed the Video Width of %ld pixels"), crop.left,
                crop.width, video_width);
}

std::string check_crop_height(const FrameRect& crop, std::int64_t video_height) {
  if (crop.top + crop.height <= video_height) return {};
  return format(tr("The value Top+Height (%ld+%ld pixels) must not exceed the Video Height of %ld pixels"), crop.top,
                crop.height, video_height);
}

std::string check_frame_range(std::int64_t first, std::int64_t last, std::int64_t frame_count) {
  const std::int64_t last_frame = std::max<std::int64_t>(frame_count - 1, 0);
  if (first >= 0 && first <= last_frame && last >= 0 && last <= last_frame) return {};
  return format(tr("The First/Last Frame values must be between 0 and %ld"), last_frame);
}

std::string check_extract_parameters(const ExtractParameters& params, std::int64_t video_width,
                                     std::int64_t video_height, std::int64_t frame_count) {
  std::string message = check_crop_width(params.crop, video_width);
  if (message.empty()) message = check_crop_height(params.crop, video_height);
  if (message.empty()) message = check_frame_range(params.first, params.last, frame_count);
  return message;
}

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
                               job.detection.fourcc, rate_units(stream.rate()));
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
