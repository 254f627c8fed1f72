#include "engine/run_driver.hpp"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <new>
#include <optional>
#include <set>
#include <system_error>
#include <vector>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "engine/cell_analysis.hpp"
#include "engine/job_pool.hpp"
#include "engine/mask_layout.hpp"
#include "engine/pattern_generator.hpp"
#include "engine/placement.hpp"
#include "engine/required_images.hpp"
#include "engine/run_threads.hpp"
#include "engine/score_tables.hpp"
#include "engine/split_placement.hpp"
#include "engine/tile_list_file.hpp"
#include "engine/tile_priority.hpp"
#include "images/foto.hpp"
#include "images/picture_files.hpp"
#include "settings/geometry.hpp"
#include "settings/settings_file.hpp"
#include "settings/size_checks.hpp"
#include "tilelist/tile_image_list.hpp"

namespace fs = std::filesystem;

namespace tess {
namespace {

constexpr int kMaxMaskSide = 30000;

// How a mosaic ended. A stage that cannot go on (`stage_failed`) ends the
// batch the way a stop does, but the run failed: the user did not cancel it.
enum class Outcome { done, failed, skipped, end_batch, stage_failed, stopped };

std::string upper_extension(const fs::path& p) {
  std::string ext = p.extension().string();
  if (!ext.empty()) ext.erase(0, 1);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return ext;
}

// The path without its extension, as the mask look-up beside a main image wants it.
std::string without_extension(const std::string& path) {
  fs::path p(path);
  return (p.parent_path() / p.stem()).string();
}

// One mask picture chosen by the user; empty when cancelled.
std::string ask_for_mask_file(Prompt& prompt) {
  const auto files = prompt.choose_files(picture_file_request(tr("Select a JPG/PNG image"), "MaskFile"));
  return files.empty() ? std::string() : files.front();
}

// Works out the perceptual form of every list entry's samples that lacks
// it, on `threads` threads: over a million colours for a list of ten
// thousand photos. A job that fails leaves its signatures unprepared, and
// those are converted as they are scored instead, so nothing is lost.
void prepare_perceptual_samples(TileImageList& list, int threads, ThreadPriority priority) {
  std::vector<TileSignature*> pending;
  list.for_each_entry([&pending](FotoInfo& entry) {
    if (entry.signature.perceptual_ready == 0) pending.push_back(&entry.signature);
  });
  constexpr std::size_t kSignaturesPerJob = 1024;
  const auto prepare = [&pending](std::size_t first, std::size_t last) {
    for (std::size_t i = first; i < last; ++i) pending[i]->prepare_perceptual();
  };
  if (threads <= 1 || pending.size() <= kSignaturesPerJob) {
    prepare(0, pending.size());
    return;
  }
  JobPool pool;
  pool.start_threads(threads - 1, priority);
  {
    JobQueue queue(pool);
    for (std::size_t first = 0; first < pending.size(); first += kSignaturesPerJob)
      queue.submit([&prepare, first, last = std::min(pending.size(), first + kSignaturesPerJob)] { prepare(first, last); });
    // Unprepared signatures are still scored exactly: see above.
    static_cast<void>(queue.wait_all());
  }
  pool.shut_down();
}

class BatchDriver {
 public:
  BatchDriver(MosaicBuilder& builder, TileImageList& list, MosaicRun& run, const RunOutputs& outputs)
      : m_builder(builder), m_list(list), m_run(run), m_outputs(outputs), m_prompt(builder.prompt()) {}

  void run();

 private:
  bool stopped() const { return m_builder.stop_requested(); }
  /// How a mosaic ends whose stage gave up: stopped when a stop was asked
  /// for, failed when the stage failed or reported an error on the way
  /// (`otherwise` when it did neither: a cancelled question, an empty grid).
  Outcome gave_up(Outcome otherwise = Outcome::stopped) const {
    if (stopped()) return Outcome::stopped;
    if (!m_builder.failure().empty() || m_builder.errors_shown() > m_errors_before_stages) return Outcome::stage_failed;
    return otherwise;
  }
  /// Where the result of a mosaic is kept: the main image, with the label in mask-file mode.
  std::string result_key(const std::string& main_image, const std::string& label) const {
    return m_mask_mode ? main_image + " " + label : main_image;
  }
  bool choose_mask_set();
  Outcome build_one(const std::string& main_image, const std::string& label, const std::string& mask);
  bool load_mask(const std::string& main_image, const std::string& assigned, Foto& mask, std::string& used);
  /// Steps 17-19: the final placement kept, the mosaic rendered and saved, its report.
  Outcome save_mosaic(const ScoreTables& tables, RunResult& result);
  void finish_mosaic();
  /// Writes the settings copy beside the mosaic; a failure is told once a mosaic.
  void save_settings_beside(RunResult& result);
  /// Cells cut and tiles taken from the run's placement file: done, failed
  /// (reported) or stopped.
  Outcome take_fixed_placement(const Foto& image, bool adapt, ThreadPriority priority, const ScoreTables& tables,
                               TileUseState& uses);

  MosaicBuilder& m_builder;
  TileImageList& m_list;
  MosaicRun& m_run;
  const RunOutputs& m_outputs;
  Prompt& m_prompt;
  bool m_mask_mode = false;
  int m_mask_scale = 1;
  std::vector<std::string> m_masks;
  fs::path m_settings_copy_reported;  ///< the settings copy whose failure was told last
  long m_errors_before_stages = 0;     ///< errors shown before the stages of this mosaic began
  std::optional<PlacementOrigin> m_origin;  ///< of the mosaic being built, when its placement is saved
};

bool BatchDriver::choose_mask_set() {
  std::vector<std::string> chosen;
  std::string folder = m_run.mask_folder;
  std::string file = m_run.mask_file;
  if (folder.empty() && file.empty() && !ask_for_masks(m_prompt, folder, file)) return false;
  if (!folder.empty()) {
    chosen = mask_files_in_folder(folder);
  } else {
    chosen.push_back(file);
  }
  // 4. Nothing usable.
  if (chosen.empty()) {
    m_prompt.message(tr("The specified folder does not contain any JPG/PNG file!"), Icon::warning);
    return false;
  }
  m_masks = std::move(chosen);
  return true;
}

bool BatchDriver::load_mask(const std::string& main_image, const std::string& assigned, Foto& mask, std::string& used) {
  std::string path = assigned;
  if (path.empty()) {
    // A mask that lies beside the main image, else the one chosen earlier, else ask.
    const std::string stem = without_extension(main_image);
    for (const char* suffix : {" Mask.jpg", "Mask.jpg", " Mask.png", "Mask.png"}) {
      std::error_code ec;
      if (fs::is_regular_file(stem + suffix, ec)) {
        path = stem + suffix;
        break;
      }
    }
    if (path.empty()) path = m_run.mask_file;
    if (path.empty()) path = ask_for_mask_file(m_prompt);
    if (path.empty()) return false;
  }
  m_builder.set_status(tr("Loading Mask Image..."));
  used = path;
  return mask.load(path, 0, 0).ok_or_show(m_prompt);
}

Outcome BatchDriver::build_one(const std::string& main_image, const std::string& label, const std::string& mask_path) {
  MosaicParameters& params = m_builder.parameters;
  RunResult& result = m_run.results[result_key(main_image, label)];
  m_builder.clear_failure();
  m_errors_before_stages = m_builder.errors_shown();

  // 3. The main image; one that cannot be loaded is skipped.
  m_builder.set_status(tr("Loading Image..."));
  Foto image;
  if (!image.load(main_image, 0, 0).ok_or_show(m_prompt)) return Outcome::skipped;
  if (stopped()) return Outcome::stopped;
  result.main_width = image.width();
  result.main_height = image.height();

  // 4. Black-and-white lists make black-and-white mosaics.
  if (m_list.black_and_white()) image.to_greyscale();

  // 5. Where everything of this mosaic goes.
  if (m_outputs.name_outputs &&
      !m_outputs.name_outputs(m_builder, main_image, label, ReadFiles{m_run.read_files, &m_list}, result))
    return stopped() ? Outcome::stopped : Outcome::failed;
  if (stopped()) return Outcome::stopped;

  // 6. The geometry for this image.
  MosaicLayout layout;
  if (!compute_layout(params, image.width(), image.height(), layout, m_builder.prompt())) return gave_up();
  // A later main image may make a mosaic of another size than the first one,
  // whose size the plan checked: this one's is checked before any of it is made.
  if (!params.split_mosaic && layout.mask_file == 0 &&
      (layout.final_width != m_run.layout.final_width || layout.final_height != m_run.layout.final_height)) {
    const SizeCheck check =
        check_mosaic_size(params.output_format, params.output_tiff64, layout.final_width, layout.final_height);
    if (check.verdict == SizeVerdict::refuse) {
      m_prompt.message(check.text, Icon::error);
      return Outcome::failed;
    }
    // The question as before the first mosaic; No ends the batch, as it
    // keeps the first mosaic from being made.
    if (!confirm_mosaic_size(params, layout.final_width, layout.final_height, m_prompt)) return Outcome::stopped;
  }

  // 7. The settings beside the mosaic; its failure is told and the mosaic goes on.
  if (params.text_report && !result.output_base.empty()) save_settings_beside(result);
  if (stopped()) return Outcome::stopped;
  m_errors_before_stages = m_builder.errors_shown();

  // 8. No split stage when nothing is to be split.
  if (params.half_tiles == 0 && params.quarter_tiles == 0) m_builder.set_progress_weight(kStageSplitPlacement, 0);

  const ThreadPriority priority = configured_priority(params.advanced);
  const bool adapt = params.tile_adaptation == kAdaptMosaicSize;

  // 9. Cells and their analysis; a failure here ends the batch normally.
  m_builder.set_status(tr("Analysis of Image..."));
  bool built;
  if (!m_mask_mode) {
    built = build_cells_from_pattern(m_builder, pattern_input(layout, params.pattern));
  } else {
    Foto mask;
    // Cancelling the choice of a mask ends the batch; a mask that cannot be
    // read (reported by the loader) fails this mosaic only.
    if (!load_mask(main_image, mask_path, mask, result.mask_file))
      return result.mask_file.empty() ? Outcome::stopped : Outcome::failed;
    built = build_cells_from_mask(m_builder, mask, m_mask_scale);
  }
  if (stopped()) return Outcome::stopped;
  if (!built || !analyse_cells(m_builder, image, adapt, false, m_run.threads, priority))
    return gave_up(Outcome::end_batch);
  // Whoever follows the run sees the cells before the first tile comes.
  m_builder.refresh_sketch(true);

  // 10. Cell priorities.
  m_builder.set_status(tr("Calculating Mosaic Information..."));
  TileUseState uses;
  if (!compute_priorities(m_builder, true, uses, m_run.priority_map) || stopped()) return gave_up();

  // 11. Placement. "Automatic" detail follows the tiles of the mosaic, not
  // the pictures of the list.
  ScoreTables tables;
  if (std::string why; !tables.set_up(params, static_cast<std::int64_t>(m_builder.grid.size()), &why)) {
    m_builder.fail(why);
    return gave_up();
  }
  // The perceptual comparison reads every tile in its own form: converted
  // once here, and kept with the list for the mosaics after this one.
  if (tables.perceptual()) prepare_perceptual_samples(m_list, m_run.threads, priority);
  // The consecutive-frames rule looks for close frames among the cells
  // within the spacing.
  compute_neighbour_lists(m_builder, static_cast<double>(layout.tile_width), static_cast<double>(layout.tile_height));
  if (stopped()) return Outcome::stopped;
  PlacementSetup setup;
  setup.threads = m_run.threads;
  setup.priority = priority;
  if (!result.output_base.empty()) setup.tile_list_file = tile_list_file_path(result.output_base);
  setup.tile_list_file_failed = &result.side_files_failed;
  m_builder.set_status(tr("Creating Mosaic..."));
  // What the saved placement belongs to, so a later run renders it only for this mosaic.
  m_origin.reset();
  if (PlacementOrigin origin; !m_run.save_placement_file.empty() &&
                              placement_origin(main_image, result.main_width, result.main_height, m_list.path(),
                                               layout, params.pattern, result.mask_file, origin))
    m_origin = std::move(origin);
  const bool fixed = !m_run.placement_file.empty();
  if (fixed) {
    // 11-12 from a placement written before: its cuts, then its tiles.
    if (const Outcome taken = take_fixed_placement(image, adapt, priority, tables, uses); taken != Outcome::done)
      return taken;
  } else if (!place_tiles(m_builder, tables, uses, setup) || stopped()) {
    return gave_up();
  }

  // 12. Halves and quarters. The split cells keep their priorities and the
  // cells that kept their tiles keep them, so the priorities are not
  // computed again (that would empty every cell).
  if (fixed) {
    m_builder.set_progress_weight(kStageSplitPlacement, 0);
  } else if (split_half_and_quarter_tiles(m_builder, tables, uses)) {
    m_builder.move_progress_into_split_stage();
    m_builder.begin_progress_stage(kStageSplitPlacement, 1);
    if (!analyse_cells(m_builder, image, adapt, true, m_run.threads, priority) || stopped()) return gave_up();
    if (!place_split_cells(m_builder, tables, uses, setup) || stopped()) return gave_up();
  } else {
    m_builder.set_progress_weight(kStageSplitPlacement, 0);
  }
  if (stopped()) return Outcome::stopped;

  // 14. Mask file and score image.
  if (params.create_mask_file && m_outputs.write_mask_file) {
    m_builder.set_status(tr("Create MaskFile..."));
    if (!m_outputs.write_mask_file(m_builder, result)) result.side_files_failed = true;
  }

  // 15. The main image is not needed any more, once the few hundred pixels a
  // side it shows from afar are kept for the mosaic to be compared with.
  result.far_view = far_view_of(image, far_columns(layout, m_builder.grid));
  image.clear();

  // 16. Required and priority images (a fixed placement has them already).
  if (!fixed &&
      (!insert_required_images(m_builder, tables, uses) || !insert_priority_images(m_builder, tables, uses)))
    return gave_up();
  if (stopped()) return Outcome::stopped;
  return save_mosaic(tables, result);
}

Outcome BatchDriver::save_mosaic(const ScoreTables& tables, RunResult& result) {
  // The final placement, for later runs that render this mosaic again.
  if (!m_run.save_placement_file.empty() &&
      !save_tile_list_file(m_builder, m_run.save_placement_file, m_origin ? &*m_origin : nullptr))
    return Outcome::failed;

  // 17. Render and save, the sketch starting from the final placement.
  m_builder.refresh_sketch(true);
  result.success = m_outputs.save_mosaic ? m_outputs.save_mosaic(m_builder, tables, result) : false;
  result.far_view = FarView{};  // a batch keeps every result: not its pictures
  if (stopped()) return Outcome::stopped;

  // 18-19.
  if (result.success) m_builder.set_status(tr("Mosaic Created."));
  if (m_builder.parameters.text_report && result.success) {
    m_builder.set_status(tr("Saving Report"));
    if (m_outputs.write_report && !m_outputs.write_report(m_builder, tables, result)) result.side_files_failed = true;
    if (!result.output_base.empty()) save_settings_beside(result);
  }
  return result.success ? Outcome::done : Outcome::failed;
}

Outcome BatchDriver::take_fixed_placement(const Foto& image, bool adapt, ThreadPriority priority,
                                          const ScoreTables& tables, TileUseState& uses) {
  const std::string file = m_run.placement_file.string();
  FixedPlacement placement;
  if (!placement.load(m_run.placement_file)) {
    m_prompt.message(format(tr("Unable to open file '%s'"), file), Icon::error);
    return Outcome::failed;
  }
  // The cells cut as the run that wrote the placement cut them, then analysed.
  bool split_any = false;
  const PuzzleInfo* unexplained = nullptr;
  if (!split_cells_as_listed(
          m_builder, uses, [&placement](const PuzzleInfo& cell) { return placement.lists(cell); }, split_any,
          &unexplained)) {
    m_prompt.message(format(tr("The placement '%s' is not one of this mosaic: it has no cell %s."), file,
                            unexplained != nullptr ? tile_list_key(*unexplained) : std::string()),
                     Icon::error);
    return Outcome::failed;
  }
  if (split_any && (!analyse_cells(m_builder, image, adapt, true, m_run.threads, priority) || stopped()))
    return gave_up();
  std::string problem;
  if (!placement.apply(m_builder, tables, uses, problem)) {
    m_prompt.message(format(tr("The placement '%s' does not fit this mosaic and list: %s"), file, problem),
                     Icon::error);
    return Outcome::failed;
  }
  return stopped() ? Outcome::stopped : Outcome::done;
}

void BatchDriver::save_settings_beside(RunResult& result) {
  const fs::path path = settings_copy_path(result.output_base);
  if (save_settings_copy(path, m_builder.parameters, m_list.path(), true)) return;
  result.side_files_failed = true;
  // Saved twice a mosaic: one message is enough.
  if (path == m_settings_copy_reported) return;
  m_settings_copy_reported = path;
  m_prompt.message(format(tr("Unable to save file '%s'"), path.string()), Icon::error);
}

void BatchDriver::finish_mosaic() {
  // 21. Freeing the cells of this mosaic.
  // The stage first, so whoever follows the status sees it in this stage.
  m_builder.begin_progress_stage(kStageFreeingMemory, 1);
  m_builder.set_status(tr("Freeing Memory"));
  m_builder.grid.free();
  m_builder.close_progress_stage();
}

void BatchDriver::run() {
  const MosaicParameters& params = m_builder.parameters;
  m_builder.begin_batch(static_cast<int>(m_run.main_images.size()));
  m_list.group_variants(params.processing);

  // Mask-file mode is the plan's: its maximum size is a square of 1 to 8.
  m_mask_mode = !m_run.main_images.empty() && m_run.layout.mask_file > 0;
  m_mask_scale = std::max(1, m_run.layout.mask_file);
  bool stop = false;
  if (m_mask_mode) {
    stop = !choose_mask_set();
    if (!stop) {
      // 5. Every main image with every mask.
      m_builder.begin_batch(static_cast<int>(m_run.main_images.size() * m_masks.size()));
    }
  }

  bool end_batch = false;
  bool stage_failed = false;
  for (std::size_t image = 0; !stop && !end_batch && !stage_failed && image < m_run.main_images.size(); ++image) {
    const std::size_t mask_count = m_mask_mode ? m_masks.size() : 1;
    for (std::size_t m = 0; m < mask_count; ++m) {
      if (stopped()) {
        stop = true;
        break;
      }
      // 1-2. A fresh progress figure and the work item; masks vary fastest.
      m_builder.begin_mosaic();
      const std::string label = mosaic_label(m_mask_mode, m);
      const std::string mask = m_mask_mode ? m_masks[m] : std::string();
      Outcome outcome = build_one(m_run.main_images[image], label, mask);
      if (outcome != Outcome::skipped && outcome != Outcome::stopped && outcome != Outcome::stage_failed)
        finish_mosaic();
      // 22. One more done. A mosaic whose side files failed stands, but the
      // run must not end as if everything had been written.
      m_builder.end_mosaic(outcome == Outcome::done);
      const auto found = m_run.results.find(result_key(m_run.main_images[image], label));
      // Every file of this mosaic is written: another run may have its outputs.
      if (found != m_run.results.end()) found->second.output_lock.reset();
      const bool side_failed = found != m_run.results.end() && found->second.side_files_failed;
      if (outcome == Outcome::failed || outcome == Outcome::stage_failed || (outcome == Outcome::done && side_failed))
        ++m_run.failed;
      if (outcome == Outcome::done) m_builder.set_status(tr("Ready"));
      if (outcome == Outcome::stopped || stopped()) {
        stop = true;
        break;
      }
      if (outcome == Outcome::stage_failed) {
        // Told as the stage gave up; kept for whoever follows the run.
        std::string reason = m_builder.failure();
        if (reason.empty()) reason = m_builder.last_error();
        if (m_run.failure.empty()) m_run.failure = reason.empty() ? tr("Stopped!") : reason;
        stage_failed = true;
        break;
      }
      if (outcome == Outcome::end_batch) {
        end_batch = true;
        break;
      }
    }
  }

  // End of the batch.
  const int done = m_builder.done_count();
  if (stop || stopped() || stage_failed) {
    // A failed stage ends the batch with the texts of a stop; only a stop
    // asked for is a stop.
    m_run.stopped = !stage_failed || stopped();
    m_builder.set_status(tr("Freeing Memory (Stopping...)"));
    m_builder.grid.free();
    m_builder.set_status(tr("Stopped!"));
  } else if (done > 0) {
    m_builder.set_status(format(trn("Completed %ld Mosaic!", "Completed %ld Mosaics!", static_cast<unsigned long>(done)),
                                static_cast<long>(done)));
  } else {
    m_builder.set_status(tr("Ok"));
  }
  m_builder.grid.free();
  m_builder.end_batch();
}

}  // namespace

std::string mosaic_label(bool mask_mode, std::size_t mask_index) {
  return mask_mode ? format("M%02d %s", static_cast<int>(mask_index + 1), tr("Mosaic")) : tr("Mosaic");
}

bool is_mask_picture(const fs::path& p) {
  static const std::set<std::string> kAccepted = {"JPG", "JPEG", "JPE", "PNG"};
  if (kAccepted.count(upper_extension(p)) == 0) return false;
  int w = 0, h = 0;
  return Foto::read_size(p, w, h) && w >= 1 && h >= 1 && w <= kMaxMaskSide && h <= kMaxMaskSide;
}

std::vector<std::string> mask_files_in_folder(const std::string& folder) {
  std::vector<std::string> found;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code type_ec;
    if (!it->is_regular_file(type_ec)) continue;
    if (is_mask_picture(it->path())) found.push_back(it->path().string());
  }
  std::sort(found.begin(), found.end());
  return found;
}

bool ask_for_masks(Prompt& prompt, std::string& folder, std::string& file) {
  // 1. Folder or single file.
  if (prompt.ask(tr("Do you want to specify a Folder containing Maskfiles?"), Buttons::yes_no, Answer::no,
                 Icon::question) == Answer::yes) {
    // 2. Every mask picture of a folder.
    FolderRequest request;
    request.caption = tr("Please select a Folder where the MaskFiles are contained (all JPG or PNG files):");
    request.kind = "MaskFilePath";
    folder = prompt.choose_folder(request);
    return !folder.empty();
  }
  // 3. One mask picture.
  file = ask_for_mask_file(prompt);
  return !file.empty();
}

void run_batch(MosaicBuilder& builder, TileImageList& list, MosaicRun& run, const RunOutputs& outputs) {
  renew_memory_reserve();  // an earlier run's report of too little memory may have used it
  builder.tile_list = &list;
  // Stages report the allocations they expect to fail; any other one (a
  // node of a bookkeeping set, a thread that gets no stack) still ends the
  // run as out of memory rather than the program.
  const auto out_of_memory = [&] {
    const std::int32_t width = builder.grid.pixel_width();
    const std::int32_t height = builder.grid.pixel_height();
    builder.grid.free();
    const std::string text = out_of_memory_text(width, height) + "!";
    builder.prompt().message(text, Icon::error);
    if (run.failure.empty()) run.failure = text;
    ++run.failed;
  };
  try {
    BatchDriver(builder, list, run, outputs).run();
  } catch (const std::bad_alloc&) {
    out_of_memory();
  } catch (const std::system_error& error) {
    if (error.code() != std::errc::resource_unavailable_try_again) throw;
    out_of_memory();
  }
}

}  // namespace tess
