// `tessellarium extract`: cuts frames or clips out of a video into numbered
// folders beside it, with the same extraction, parameter checks and options
// as the desktop program's video dialog, following it with a progress line.

#include <charconv>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include <unistd.h>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "cli/cli_app.hpp"
#include "cli/commands.hpp"
#include "cli/interrupt.hpp"
#include "cli/run_parameters.hpp"
#include "cli/terminal_prompt.hpp"
#include "engine/run_threads.hpp"
#include "images/foto.hpp"
#include "output/extraction_job.hpp"
#include "settings/advanced_options.hpp"
#include "settings/configuration.hpp"
#include "video/avi_extract.hpp"
#include "video/avi_stream.hpp"

namespace tess {
namespace {

struct ExtractArgs {
  std::string video;
  std::string mode = "clips";
  std::int64_t first = 0;
  std::int64_t last = 0;
  std::int64_t count = 0;
  std::string crop;
  std::string prefix;
  int quality = 0;
  // Which of the options were given; the others keep the video's defaults.
  CLI::Option* first_given = nullptr;
  CLI::Option* last_given = nullptr;
  CLI::Option* count_given = nullptr;
  CLI::Option* prefix_given = nullptr;
  CLI::Option* quality_given = nullptr;
};

bool given(const CLI::Option* option) { return option != nullptr && option->count() > 0; }

// "L,T,W,H" in video pixels.
bool parse_crop(const std::string& text, FrameRect& crop) {
  std::int64_t values[4] = {};
  const char* p = text.data();
  const char* end = text.data() + text.size();
  for (int i = 0; i < 4; ++i) {
    const auto [next, error] = std::from_chars(p, end, values[i]);
    if (error != std::errc{}) return false;
    p = next;
    if (i < 3) {
      if (p == end || *p != ',') return false;
      ++p;
    }
  }
  if (p != end) return false;
  crop = FrameRect{values[0], values[1], values[2], values[3]};
  return true;
}

// Follows the extraction until its worker has ended: status and percentage on
// one live line on a terminal; on a pipe a line when the status changed, at
// most about one a second, since the status names every frame. Gives the
// last line printed.
std::string follow(AviExtract& extract) {
  using Clock = std::chrono::steady_clock;
  const bool live = ::isatty(STDERR_FILENO) != 0;
  std::string last_status;
  Clock::time_point last_line{};
  bool stop_sent = false;
  while (extract.running()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (InterruptGuard::interrupted() && !stop_sent) {
      extract.request_stop();
      stop_sent = true;
    }
    const std::string status = extract.status();
    const int percent = static_cast<int>(extract.progress() * 100.0);
    if (live) {
      std::fprintf(stderr, "\r\033[K%s %d%%", status.c_str(), percent);
    } else if (status != last_status && Clock::now() - last_line >= std::chrono::seconds(1)) {
      std::fprintf(stderr, "%s\n", status.c_str());
      last_status = status;
      last_line = Clock::now();
    }
    std::fflush(stderr);
  }
  if (live) std::fprintf(stderr, "\r\033[K");
  return last_status;
}

int extract_video(const ExtractArgs& args, TerminalPrompt& prompt) {
  ExtractMode mode = ExtractMode::clips;
  if (args.mode == "jpg") mode = ExtractMode::jpeg;
  if (args.mode == "bmp") mode = ExtractMode::bmp;

  // The video: a file that cannot be read is bad input, reported in the
  // video layer's own words.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(args.video, ec)) return usage_error(format("no such video '%s'", args.video));
  CAviStream stream;
  stream.show_messages(prompt);
  if (!stream.open(args.video)) return kExitUsage;

  ExtractParameters params = extract_parameters(extraction_defaults(stream, mode == ExtractMode::clips), mode);
  // The command line counts frames from 1, as the files' names do; the
  // extraction counts them from 0.
  if (given(args.first_given)) params.first = args.first - 1;
  if (given(args.last_given)) params.last = args.last - 1;
  if (const std::int64_t frames = stream.frame_count();
      (given(args.first_given) || given(args.last_given)) &&
      (params.first < 0 || params.last >= frames || params.first > params.last))
    return usage_error(format("--first and --last take frames 1 to %lld of this video, the first not after the last",
                              static_cast<long long>(frames)));
  if (given(args.count_given)) params.count = args.count;
  if (given(args.prefix_given)) params.prefix = args.prefix;
  if (given(args.quality_given)) params.quality = args.quality;
  if (!args.crop.empty() && !parse_crop(args.crop, params.crop))
    return usage_error(format("--crop '%s' is not LEFT,TOP,WIDTH,HEIGHT", args.crop));
  // The prefix starts file names inside the new folders; it may not lead out of them.
  if (params.prefix.find('/') != std::string::npos) return usage_error("--prefix must not contain '/'");
  if (params.count < 1) return usage_error("--count must be at least 1");
  if (params.quality < 1 || params.quality > 100) return usage_error("--quality must be between 1 and 100");
  // The parameters window's checks, then the extraction's own.
  std::string refusal = check_extract_parameters(params, stream.width(), stream.height(), stream.frame_count());
  if (refusal.empty()) refusal = crop_error(params.crop, stream.width(), stream.height());
  if (!refusal.empty()) return usage_error(refusal);

  const ConfigFile config;
  AdvancedOptions options;
  options.initialise_all(true, config);

  AviExtract::Job job = extraction_job(args.video, params, options, configured_thread_count(options, config));
  stream.close();

  AviExtract extract(prompt);
  InterruptGuard interrupts;
  if (!extract.start(std::move(job))) {
    std::fprintf(stderr, "error: the extraction could not be started\n");
    return kExitFailed;
  }
  const std::string shown = follow(extract);
  const ExtractOutcome outcome = extract.wait();

  if (const std::string status = extract.status(); status != shown) std::fprintf(stderr, "%s\n", status.c_str());
  for (const auto& folder : extract.folders()) std::printf("%s\n", folder.string().c_str());
  // Every file asked for must have been written for the job to have succeeded.
  if (outcome == ExtractOutcome::done && extract.error_count() == 0) return kExitOk;
  if (outcome == ExtractOutcome::stopped)
    std::fprintf(stderr, "error: the extraction was stopped\n");
  else
    std::fprintf(stderr, "error: the extraction did not write every file (%d failed)\n", extract.error_count());
  return kExitFailed;
}

}  // namespace

void add_extract_command(CLI::App& app, CommandContext& context) {
  auto args = std::make_shared<ExtractArgs>();
  CLI::App* command =
      app.add_subcommand("extract", "Cut video clips or single frames out of VIDEO into folders beside it");
  command->add_option("VIDEO", args->video, "The video file")->required()->type_name("VIDEO");
  command
      ->add_option("--mode", args->mode,
                   "clips (AVI clips cut at scene changes), jpg or bmp (single frames) (default: clips)")
      ->check(CLI::IsMember({"clips", "jpg", "bmp"}))
      ->type_name("clips|jpg|bmp");
  // Frames count from 1, as in the other ranges and in the names of the files written.
  args->first_given =
      command->add_option("--first", args->first, "First frame, counted from 1 (default: 1)")->type_name("N");
  args->last_given = command
                         ->add_option("--last", args->last,
                                      "Last frame, counted from 1 (default: the last frame); the files' names number "
                                      "the frames from 1 as well")
                         ->type_name("N");
  args->count_given =
      command->add_option("--count", args->count, "Images to take in jpg and bmp mode (default: every frame, at most 5000)")
          ->type_name("N");
  command->add_option("--crop", args->crop, "Part of the frame to keep, in pixels (default: the whole frame)")
      ->type_name("LEFT,TOP,WIDTH,HEIGHT");
  args->prefix_given = command->add_option("--prefix", args->prefix, "Text put before every file name (default: FR)")
                            ->type_name("TEXT");
  args->quality_given = command->add_option("--quality", args->quality, "JPEG quality, 1 to 100 (default: 90)")->type_name("N");
  set_examples(*command, {{"tessellarium extract holiday.avi", "Cut the clips between scene changes into holiday_FRAMES1 Video."},
                          {"tessellarium extract holiday.avi --mode jpg --count 100 --first 251 --last 1250",
                           "100 evenly spaced frames of frames 251 to 1250, as JPEG pictures."}});
  command->callback([&context, args] { context.status = extract_video(*args, context.prompt); });
}

}  // namespace tess
