#include "output/run_outputs.hpp"

#include <cmath>
#include <filesystem>

#include "engine/mosaic_builder.hpp"
#include "output/output_names.hpp"
#include "output/side_images.hpp"
#include "output/text_report.hpp"

namespace tess {

RunOutputs make_run_outputs(const RunOutputOptions& options) {
  RunOutputs outputs;
  outputs.name_outputs = [options](MosaicBuilder& builder, const std::string& main_image, const std::string& label,
                                   RunResult& result) {
    // One named file for several mosaics (a folder of masks): each gets its
    // label added, so no mosaic of the batch overwrites the one before.
    std::string output_file = options.output_file;
    if (!output_file.empty() && builder.total_count() > 1) {
      const std::filesystem::path named(output_file);
      output_file = (named.parent_path() / (named.stem().string() + " " + label + named.extension().string())).string();
    }
    OutputNames names;
    if (!make_output_names(main_image, label, builder.parameters, output_file, names, builder.prompt())) return false;
    result.output_base = names.base_name;
    result.tiles_folder = names.tiles_folder;
    result.destination = names.base_name + format_extension(builder.parameters.output_format);
    return true;
  };
  outputs.write_mask_file = [](MosaicBuilder& builder, const RunResult& result) {
    return write_mask_files(builder.grid, result.output_base, builder.prompt());
  };
  outputs.save_mosaic = [options](MosaicBuilder& builder, const ScoreTables& tables, RunResult& result) {
    FinishRequest request;
    request.base_name = result.output_base;
    request.tiles_folder = result.tiles_folder;
    request.split = options.split;
    request.frames = options.frames;
    // The resolution is kept in pixels (or dots) per inch.
    const double dpi = builder.parameters.resolution.value;
    request.dpi = dpi > 0 ? static_cast<int>(std::lround(dpi)) : 0;
    request.threads = options.threads;
    request.priority = options.priority;
    request.user_state = options.user_state;
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
