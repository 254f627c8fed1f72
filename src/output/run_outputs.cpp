#include "output/run_outputs.hpp"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cmath>
#include <filesystem>
#include <memory>
#include <thread>

#include "base/file_lock.hpp"
#include "base/fnv_hash.hpp"
#include "base/paths.hpp"
#include "base/prompt.hpp"
#include "base/text.hpp"
#include "engine/mosaic_builder.hpp"
#include "output/output_guard.hpp"
#include "output/output_names.hpp"
#include "output/side_images.hpp"
#include "output/text_report.hpp"
#include "output/web_pyramid.hpp"

namespace tess {

namespace {

// The file the user named for one mosaic of the batch: with several mosaics
// (a folder of masks) each gets its label added, so no mosaic of the batch
// overwrites the one before.
std::string named_output_file(const std::string& output_file, const std::string& label, int mosaics) {
  if (output_file.empty() || mosaics <= 1) return output_file;
  const std::filesystem::path named(output_file);
  return (named.parent_path() / (named.stem().string() + " " + label + named.extension().string())).string();
}

// What the lock of a mosaic's outputs is named after: the base name, and
// the pieces or frames written when several processes write one mosaic.
std::string lock_name(const std::string& base_name, const RunOutputOptions& options) {
  if (options.split.first_piece > 0)
    return format("%s pieces %d-%d", base_name, options.split.first_piece, options.split.last_piece);
  if (options.frames.first > 0)
    return format("%s frames %ld-%ld", base_name, static_cast<long>(options.frames.first),
                  static_cast<long>(options.frames.last));
  return base_name;
}

// Takes the outputs of `base_name` for this run: at once, or once the run
// writing them now has finished (the status says so), unless the run is
// stopped meanwhile or must not wait. Null when they could not be taken
// (reported unless stopped); a folder that takes no lock file gives an
// unheld lock, and the writing itself then reports the folder.
std::shared_ptr<FileLock> take_outputs(MosaicBuilder& builder, const std::string& name, bool wait) {
  const std::filesystem::path target = output_lock_target(name);
  auto lock = std::make_shared<FileLock>(target, FileLock::Wait::no);
  if (!lock->busy()) return lock;
  if (!wait) {
    builder.prompt().message(format(tr("'%s' is being written by another run of Tessellarium."), name), Icon::error);
    return nullptr;
  }
  const std::string status = builder.status();
  builder.set_status(format(tr("Waiting for another run to finish writing '%s'..."), name));
  while (lock->busy()) {
    if (builder.stop_requested()) return nullptr;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    lock = std::make_shared<FileLock>(target, FileLock::Wait::no);
  }
  builder.set_status(status);
  return lock;
}

}  // namespace

std::filesystem::path output_lock_target(const std::string& name) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path named(name);
  const fs::path folder =
      fs::weakly_canonical(fs::absolute(named.has_parent_path() ? named.parent_path() : fs::path("."), ec), ec);
  const std::string full = (folder / named.filename()).string();
  // FNV-1a of the full name keeps the lock file's name short, whatever the path.
  const std::uint64_t hash = fnv1a_64(full);
  // The user's runtime folder (a tmpfs emptied at logout) where there is one.
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const fs::path locks = runtime != nullptr && runtime[0] == '/' ? fs::path(runtime) / "tessellarium-output-locks"
                                                                 : cache_folder() / "Output Locks";
  fs::create_directories(locks, ec);
  return locks / format("%016llx", static_cast<unsigned long long>(hash));
}

OutputCheck make_output_check(const RunOutputOptions& options) {
  return [options](const MosaicParameters& parameters, const std::string& main_image, const std::string& label,
                   int mosaics, const ReadFiles& reads, Prompt& prompt) {
    OutputNames names;
    plan_output_names(main_image, label, parameters, named_output_file(options.output_file, label, mosaics), names);
    return check_outputs_spare_inputs(names, parameters, options.save_placement, reads, prompt,
                                      options.kept_folders.get(), OutputCheckStep::plan);
  };
}

RunOutputs make_run_outputs(const RunOutputOptions& options) {
  RunOutputs outputs;
  outputs.name_outputs = [options](MosaicBuilder& builder, const std::string& main_image, const std::string& label,
                                   const ReadFiles& reads, RunResult& result) {
    const std::string output_file = named_output_file(options.output_file, label, builder.total_count());
    const bool new_name = output_file.empty() && (builder.parameters.file_name_rule == kFileNameNew ||
                                                  builder.parameters.web_output);
    OutputNames names;
    std::shared_ptr<FileLock> lock;
    // 1. The names, taken for this run; a new name that another run wrote
    // while this one waited for it is no longer new: the next one is taken.
    for (int tries = 0;; ++tries) {
      if (!make_output_names(main_image, label, builder.parameters, output_file, names, builder.prompt()))
        return false;
      lock.reset();  // the name taken before, if any, is free again
      lock = take_outputs(builder, lock_name(names.base_name, options), options.wait_for_outputs);
      if (lock == nullptr) return false;
      if (!new_name || !output_name_taken(names.base_name) || tries == 100) break;
    }
    // 2. Nothing of the user's is written over, now that nobody else writes here.
    if (!check_outputs_spare_inputs(names, builder.parameters, options.save_placement, reads, builder.prompt(),
                                    options.kept_folders.get(), OutputCheckStep::naming))
      return false;
    result.output_lock = std::move(lock);
    result.output_base = names.base_name;
    result.tiles_folder = names.tiles_folder;
    result.destination = names.base_name + names.extension;
    return true;
  };
  outputs.write_mask_file = [](MosaicBuilder& builder, const RunResult& result) {
    return write_mask_files(builder.grid, result.output_base, builder.prompt());
  };
  outputs.save_mosaic = [options](MosaicBuilder& builder, const ScoreTables& tables, RunResult& result) {
    FinishRequest request;
    request.base_name = result.output_base;
    request.tiles_folder = result.tiles_folder;
    request.extension = mosaic_extension(builder.parameters.output_format, options.output_file);
    request.split = options.split;
    request.frames = options.frames;
    // The resolution is kept in pixels (or dots) per inch.
    const double dpi = builder.parameters.resolution.value;
    request.dpi = dpi > 0 ? static_cast<int>(std::lround(dpi)) : 0;
    request.threads = options.threads;
    request.priority = options.priority;
    request.user_state = options.user_state;
    request.far_view = &result.far_view;
    FinishResult finished;
    const bool saved = finish_mosaic(builder, tables, request, finished);
    result.result_file = finished.result_file;
    result.written_files = finished.written_files;
    result.colour_fidelity = finished.colour_fidelity;
    if (finished.side_files_failed) result.side_files_failed = true;
    return saved;
  };
  outputs.write_report = write_text_report;
  return outputs;
}

}  // namespace tess
