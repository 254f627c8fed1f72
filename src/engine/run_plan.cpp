#include "engine/run_plan.hpp"

#include <algorithm>
#include <filesystem>
#include <utility>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "engine/mask_layout.hpp"
#include "engine/pattern_generator.hpp"
#include "engine/run_plan_fill_check.hpp"
#include "engine/tile_priority.hpp"
#include "images/foto.hpp"
#include "images/load_failure.hpp"
#include "settings/advanced_options.hpp"
#include "settings/size_checks.hpp"
#include "tilelist/list_analysis.hpp"
#include "tilelist/list_file.hpp"

namespace tess {
namespace {

PlanResult refused(std::string reason) {
  PlanResult result;
  result.refusal = PlanRefusal::bad_input;
  result.reason = std::move(reason);
  return result;
}

PlanResult declined(std::string reason) {
  PlanResult result;
  result.refusal = PlanRefusal::declined;
  result.reason = std::move(reason);
  return result;
}

// 2. Very large lists: the offer to turn duplicates off. False on Cancel.
bool offer_no_duplicates(MosaicParameters& params, std::size_t images, Prompt& prompt) {
  if (images < kLargeListImages || params.duplicate_spacing <= 1) return true;
  const std::string question =
      format("%s\n\n%s",
             tr("When using a very large Tile List then it is suggested to set 'no duplicates' to avoid an out of "
                "memory situation."),
             tr("Do you want to set 'no duplicates'?"));
  switch (prompt.ask(question, Buttons::yes_no_cancel, Answer::cancel, Icon::question)) {
    case Answer::yes:
      params.duplicate_spacing = 0;
      params.tile_duplication = 1;
      return true;
    case Answer::no:
      return true;
    default:
      return false;
  }
}

// 5. Whether the list can fill the mosaic. False when the user does not go on.
bool confirm_fill(const MosaicParameters& params, const MosaicLayout& layout, const TileImageList& list,
                  Prompt& prompt) {
  // Mask layouts are only known once the mask is read; an empty list is
  // refused on its own below.
  if (layout.mask_file != 0 || list.entry_count() == 0) return true;
  FillCheckCounts counts;
  counts.landscape_tiles = list.landscape_images() + list.landscape_clips();
  counts.portrait_tiles = list.portrait_images() + list.portrait_clips();
  counts.cells = count_layout_cells(layout, params.pattern);
  pattern_orientations(params.pattern, counts.pattern_has_landscape, counts.pattern_has_portrait);
  const std::string warning = fill_check_text(params, counts);
  return warning.empty() || prompt.ask(warning, Buttons::yes_no, Answer::yes, Icon::question) == Answer::yes;
}

// 9. A mask given in advance: a picture of 1 to 30,000 pixels a side that
// loads whole and holds at least one cell.
bool check_mask(const std::string& path, Prompt& prompt) {
  if (!is_mask_picture(path)) {
    prompt.message(format(tr("The MaskFile '%s' is not a JPG/PNG image of 1 to 30,000 pixels per side."), path),
                   Icon::error);
    return false;
  }
  Foto mask;
  if (!mask.load(path, 0, 0).ok_or_show(prompt)) return false;
  std::vector<MaskRegion> regions;
  if (!find_mask_regions(mask, regions).ok_or_show(prompt) || regions.empty()) {
    prompt.message(format(tr("The MaskFile '%s' contains no tiles: every pixel is white or black."), path),
                   Icon::error);
    return false;
  }
  return true;
}

// Experimental gives each tile one cell at most: a duplicate count other
// than 1, or a picture whose path sets its own count (MAX[n]), cannot be
// honoured. Refused here, before any work, rather than after the analysis.
bool experimental_can_place(const MosaicParameters& params, const TileImageList& list, Prompt& prompt) {
  if (params.processing != kProcessingStandard1 && params.processing != kProcessingStandard2) return true;
  bool own_limit = false;
  if (params.tile_duplication == 1) {
    for (const auto& [path, entry] : list.entries())
      if (tile_use_limit(entry.path)) {
        own_limit = true;
        break;
      }
    if (!own_limit) return true;
  }
  prompt.message(tr("The selected Experimental Mosaic Processing can be used only with the No Duplicate Tile Count."),
                 Icon::error);
  return false;
}

bool check_priority_map(const std::string& path, Prompt& prompt) {
  Foto map;
  return map.load(path, 0, 0).ok_or_show(prompt) && !map.empty();
}

// The masks and the priority map of a run: given in advance or chosen by the plan.
struct RunInputs {
  std::string mask_file;
  std::string mask_folder;
  std::string priority_map;
};

// Masks of a mask-file mosaic and a custom priority map that were not given
// are asked for, as the run would ask when it needs them. False on a cancel.
bool ask_for_missing_inputs(const MosaicParameters& params, const MosaicLayout& layout, Prompt& prompt,
                            RunInputs& inputs) {
  if (layout.mask_file != 0 && inputs.mask_file.empty() && inputs.mask_folder.empty() &&
      !ask_for_masks(prompt, inputs.mask_folder, inputs.mask_file))
    return false;
  if (inputs.priority_map.empty() &&
      priority_area_from_word(params.advanced.value(kOptTilePriorityArea)) == PriorityArea::custom) {
    inputs.priority_map = ask_for_priority_map(prompt);
    if (inputs.priority_map.empty()) return false;
  }
  return true;
}

// Masks and the priority map are read once now, so a mask that is unreadable
// or holds no cells is refused before any file is written. False after
// reporting, with `why` for a log.
bool check_inputs(const RunInputs& inputs, Prompt& prompt, std::string& why) {
  if (!inputs.mask_folder.empty()) {
    const std::vector<std::string> masks = mask_files_in_folder(inputs.mask_folder);
    if (masks.empty()) {
      prompt.message(tr("The specified folder does not contain any JPG/PNG file!"), Icon::error);
      why = "the mask folder holds no mask file";
      return false;
    }
    for (const std::string& mask : masks)
      if (!check_mask(mask, prompt)) {
        why = format("the mask file '%s' cannot be used", mask);
        return false;
      }
  }
  if (!inputs.mask_file.empty() && !check_mask(inputs.mask_file, prompt)) {
    why = format("the mask file '%s' cannot be used", inputs.mask_file);
    return false;
  }
  if (!inputs.priority_map.empty() && !check_priority_map(inputs.priority_map, prompt)) {
    why = format("the priority map '%s' cannot be used", inputs.priority_map);
    return false;
  }
  return true;
}

// Every file the run reads besides the pictures of its list.
std::vector<std::string> read_files(const RunRequest& request) {
  std::vector<std::string> files = request.main_images;
  if (!request.mask_folder.empty())
    for (std::string& mask : mask_files_in_folder(request.mask_folder)) files.push_back(std::move(mask));
  for (const std::string& file : {request.mask_file, request.priority_map, request.list_file})
    if (!file.empty()) files.push_back(file);
  if (!request.list_file.empty()) files.push_back(request.list_file + kErrorFileSuffix);
  for (const std::string& file : request.other_inputs)
    if (!file.empty()) files.push_back(file);
  return files;
}

}  // namespace

bool read_main_image_size(const std::string& path, int& width, int& height) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  // The size as the picture is seen, turned as its file says.
  return Foto::read_size(path, width, height) && width > 0 && height > 0;
}

bool first_image_layout(const MosaicParameters& params, const std::vector<std::string>& main_images,
                        MosaicLayout& layout) {
  int width = 0, height = 0;
  if (!main_images.empty() && !read_main_image_size(main_images.front(), width, height)) width = height = 0;
  return compute_layout(params, width, height, layout);
}

PlanResult prepare_run(const RunRequest& request, Prompt& prompt) {
  RunPlan plan;
  plan.parameters = request.parameters;
  MosaicParameters& params = plan.parameters;

  // 1. The list.
  if (!request.list_file.empty() && !open_list_file(plan.list, request.list_file).ok_or_show(prompt))
    return refused("the Tile Images List cannot be read");

  // 2. Very large lists.
  if (!offer_no_duplicates(params, plan.list.entry_count(), prompt))
    return declined("the question about 'no duplicates' was cancelled");
  if (!experimental_can_place(params, plan.list, prompt))
    return refused("Experimental processing places each picture once: set the duplicate count to 1 and leave out "
                   "pictures whose path sets MAX[n]");

  // 3. A layout that can be built, from a main image that can be read: one
  // that cannot is named with the loader's reason (unsupported format,
  // damaged, unreadable), not taken for a missing image.
  if (!request.main_images.empty()) {
    int width = 0, height = 0;
    Foto probe;
    Status readable;
    if (!read_main_image_size(request.main_images.front(), width, height) &&
        !(readable = probe.load(request.main_images.front(), 16, 16))) {
      // Without a window the reason is the one line the user reads: it says what to do.
      if (!prompt.has_window())
        return refused(format(tr("cannot read the main image '%s' (%s): give a picture this program reads, such as a "
                                 "JPEG or PNG file"),
                              request.main_images.front(), load_failure_reason(readable)));
      prompt.message(readable.message(), Icon::error);
      return refused("the main image cannot be used (" + load_failure_reason(readable) + ")");
    }
  }
  MosaicLayout& layout = plan.run.layout;
  if (!first_image_layout(params, request.main_images, layout)) {
    if (!prompt.has_window()) return refused(command_line_layout_message(layout));
    prompt.message(layout.message, Icon::warning);
    return refused(request.main_images.empty() ? "no main image" : "the mosaic's parameters cannot make a mosaic");
  }

  // 4. Outputs that spare the inputs.
  plan.run.read_files = read_files(request);
  if (request.check_outputs) {
    // Masks chosen only when the run starts give their names then; the run
    // checks those as it names them.
    std::size_t masks = 1;
    if (layout.mask_file != 0)
      masks = !request.mask_folder.empty() ? mask_files_in_folder(request.mask_folder).size()
                                           : request.mask_file.empty() ? 0 : 1;
    const ReadFiles reads{plan.run.read_files, &plan.list};
    const int mosaics = static_cast<int>(request.main_images.size() * masks);
    for (const std::string& image : request.main_images)
      for (std::size_t m = 0; m < masks; ++m) {
        if (!request.check_outputs(params, image, mosaic_label(layout.mask_file != 0, m), mosaics, reads,
                                  prompt))
          return refused("an output would replace a file the run reads or a folder of somebody else's");
      }
  }

  // 5. The list and the mosaic.
  if (!confirm_fill(params, layout, plan.list, prompt)) return declined("the fill warning was answered No");

  // 6. A size the format can hold.
  if (!params.split_mosaic && layout.mask_file == 0) {
    const SizeCheck check = check_mosaic_size(params.output_format, params.output_tiff64, layout.final_width,
                                              layout.final_height);
    if (check.verdict == SizeVerdict::refuse) {
      prompt.message(check.text, Icon::error);
      return refused("the mosaic is too large for its file format");
    }
    if (!confirm_mosaic_size(params, layout.final_width, layout.final_height, prompt))
      return declined("the size question was answered No");
  }

  // 7. A list to build with.
  if (request.list_file.empty() || plan.list.entry_count() == 0) {
    if (prompt.has_window())
      prompt.message(tr("Please load or create a Tile Images List. This List will be used to build the Mosaic."),
                     Icon::warning);
    return refused(request.list_file.empty() ? "no Tile Images List" : "the Tile Images List holds no pictures");
  }

  // 8. Black-and-white lists.
  if (plan.list.black_and_white()) {
    switch (prompt.ask(tr("Do you want to save the Mosaic in Black&White?"), Buttons::yes_no_cancel, Answer::yes,
                       Icon::question)) {
      case Answer::yes:
        plan.save_black_and_white = true;
        break;
      case Answer::no:
        break;
      default:
        return declined("the black-and-white question was cancelled");
    }
  }

  // 9. Masks and the priority map, read once now.
  RunInputs inputs{request.mask_file, request.mask_folder, request.priority_map};
  if (request.ask_for_inputs) {
    if (!ask_for_missing_inputs(params, layout, prompt, inputs)) return declined("no mask or priority map was chosen");
    // Chosen now, they are read by the run: no output may replace them.
    for (const std::string& file : {inputs.mask_file, inputs.priority_map})
      if (!file.empty() && std::find(plan.run.read_files.begin(), plan.run.read_files.end(), file) ==
                               plan.run.read_files.end())
        plan.run.read_files.push_back(file);
    if (!inputs.mask_folder.empty() && inputs.mask_folder != request.mask_folder)
      for (std::string& mask : mask_files_in_folder(inputs.mask_folder)) plan.run.read_files.push_back(std::move(mask));
  }
  if (std::string why; !check_inputs(inputs, prompt, why)) return refused(why);

  plan.run.main_images = request.main_images;
  plan.run.mask_file = inputs.mask_file;
  plan.run.mask_folder = inputs.mask_folder;
  plan.run.priority_map = inputs.priority_map;
  if (request.before_start) request.before_start(params, prompt);
  PlanResult result;
  result.plan = std::move(plan);
  return result;
}

}  // namespace tess
