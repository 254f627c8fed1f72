#include "output/text_report.hpp"

#include <cerrno>
#include <algorithm>
#include <cstddef>
#include <limits>
#include <map>
#include <system_error>
#include <unordered_map>

#include <fcntl.h>
#include <unistd.h>

#include "base/file_sink.hpp"
#include "base/prompt.hpp"
#include "base/text.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/run_driver.hpp"
#include "engine/score_kernel.hpp"
#include "engine/score_tables.hpp"
#include "output/output_file.hpp"
#include "settings/geometry.hpp"
#include "settings/keyword_table.hpp"
#include "settings/mosaic_parameters.hpp"
#include "tilelist/foto_info.hpp"
#include "tilelist/tile_image_list.hpp"


namespace tess {
namespace {

constexpr std::uint64_t kFnvTestHash = 0xA4F804419AD5B1F9ull;

/// Text is handed on in blocks of about this size, so even a report of a
/// million tiles is never held whole.
constexpr std::size_t kBlockSize = 64 * 1024;

struct ChoiceLabel {
  std::int32_t value;
  const char* label;
};

// The labels of the main window's Mosaic Processing list. "standard2" has no
// label there, so it shows its keyword.
constexpr ChoiceLabel kProcessingLabels[] = {
    {kProcessingStandard, N_("High Quality")},
    {kProcessingFaster, N_("Faster")},
    {kProcessingCustom, N_("Custom Tile Variants")},
    {kProcessingSequential, N_("Sequential")},
    {kProcessingRandom, N_("Random")},
    {kProcessingFolder, N_("Folder Tile Variants")},
    {kProcessingSequentialDate, N_("Sequential by Date")},
    {kProcessingStandard1, N_("Experimental (No-Duplicates)")},
};

// "Crop Tile" has no stored value of its own: the three adaptations are
// "No", "Tile Size" and "Mosaic Size".
constexpr ChoiceLabel kAdaptationLabels[] = {
    {kAdaptNo, N_("Original")},
    {kAdaptTileSize, N_("Adapt Tile")},
    {kAdaptMosaicSize, N_("Adapt Mosaic")},
};

const char* label_of(const ChoiceLabel* first, const ChoiceLabel* last, std::int32_t value) {
  const auto* found = std::find_if(first, last, [value](const ChoiceLabel& c) { return c.value == value; });
  return found != last ? found->label : nullptr;
}

// Free texts in the summary (a mask path, option texts) are written as they
// are, unless they would break the line into other columns or lines.
std::string summary_text(const std::string& text) {
  return text.find_first_of(",\"\r\n") == std::string::npos ? text : quoted_csv_name(text);
}

/// Collects lines and hands them on a block at a time.
class BlockWriter {
 public:
  explicit BlockWriter(const std::function<bool(std::string_view)>& write) : m_write(write) {
    m_block.reserve(kBlockSize + 4096);
  }

  bool add(std::string_view text) {
    m_block += text;
    return m_block.size() < kBlockSize || flush();
  }
  bool line(std::string_view text) {
    m_block += text;
    return add("\r\n");
  }
  bool flush() {
    if (m_block.empty()) return true;
    const bool ok = m_write(m_block);
    m_block.clear();
    return ok;
  }

 private:
  const std::function<bool(std::string_view)>& m_write;
  std::string m_block;
};

// The colour differences close the summary, after every line readers of
// earlier reports know, and only when a cell was measured.
bool compose_colour_fidelity(BlockWriter& out, const ColourFidelity& colour) {
  if (colour.cells == 0) return true;
  return out.line(format("Colour Difference before Colour Change (CIEDE2000):,Mean:,%.2lf,95th Percentile:,%.2lf",
                         colour.mean_before, colour.p95_before)) &&
         out.line(format("Colour Difference after Colour Change (CIEDE2000):,Mean:,%.2lf,95th Percentile:,%.2lf",
                         colour.mean_after, colour.p95_after)) &&
         (!colour.has_far() ||
          out.line(format("Colour Difference seen from afar (CIEDE2000):,Mean:,%.2lf,95th Percentile:,%.2lf",
                          colour.far_mean, colour.far_p95)));
}

bool compose_summary(BlockWriter& out, const ReportInput& in, const ReportFigures& f) {
  const std::string real_size =
      f.size_mismatch
          ? format("\r\nReal Mosaic Size (Width x Height in Pixels):,%ld,x,%ld", in.mosaic_width, in.mosaic_height)
          : std::string();
  return out.line(format("Main Image Size (Width x Height in Pixels):,%ld,x,%ld%s", in.main_width, in.main_height,
                         real_size)) &&
         out.line(format("Mosaic Size (Width x Height in Pixels):,%ld,x,%ld", f.extent_width, f.extent_height)) &&
         out.line(format("Tiles with a image:,%d", f.with_picture)) &&
         out.line(format("Tiles without a image:,%d", f.without_picture)) &&
         out.line(format("Unique number of images used as tiles:,%ld", static_cast<long>(in.pictures.size()))) &&
         out.line(format("Average Tile Quality:,%.2lf%%,Score:,%u", f.quality(f.average), f.average)) &&
         out.line(format("Best Tile Quality:,%.2lf%%,Score:,%u", f.quality(f.best), f.best)) &&
         out.line(format("Worst Tile Quality:,%.2lf%%,Score:,%u", f.quality(f.worst), f.worst)) &&
         out.line(format("How much can I modify every tile:,%d%%", in.colour_change)) &&
         out.line(format("Minimum distance between duplicate tiles:,%d", in.duplicate_spacing)) &&
         out.line(format("Minimum distance between sequences:,%d", in.consecutive_frames)) &&
         out.line(format("Algorithm:,%s", summary_text(in.algorithm))) &&
         out.line(format("Pattern:,%s", summary_text(in.pattern))) &&
         out.line(format("Adapt Tile/Mosaic size:,%s", summary_text(in.adaptation))) &&
         out.line(format("Multiple Tile Size 1/2:,%u%%", in.half_tiles)) &&
         out.line(format("Multiple Tile Size 1/4:,%u%%", in.quarter_tiles)) &&
         out.line(format("Tile Area Priority:,%s", summary_text(in.area_priority))) &&
         out.line(format("Tile Size Priority:,%s", summary_text(in.size_priority))) &&
         out.line(format("Tile Split:,%s", summary_text(in.tile_split))) &&
         out.line(format("MaskFile:,%s", summary_text(in.mask_file))) &&
         out.line(format("Pixels x Inch PPI:%lf", in.ppi)) && compose_colour_fidelity(out, in.colour) && out.line("") &&
         out.line("Left,Top,Width,Height,Size KPixels,Image,ImageID/Sequence,Tile Quality,Tile Priority,Score,"
                  "Used Count,Tile#,Image#");
}

bool compose_tiles(BlockWriter& out, const ReportInput& in, const ReportFigures& f) {
  long number = 0;
  for (const ReportTile& tile : in.tiles) {
    ++number;
    const std::uint64_t kilopixels =
        static_cast<std::uint64_t>(std::max(tile.width, 0)) * static_cast<std::uint64_t>(std::max(tile.height, 0)) /
        1000;
    const bool has_picture = tile.picture >= 0 && static_cast<std::size_t>(tile.picture) < in.pictures.size();
    const auto index = static_cast<std::size_t>(has_picture ? tile.picture : 0);
    const std::string name = has_picture ? quoted_csv_name(in.pictures[index].name) : std::string("-");
    // The priority 20 is a normal cell: 100 %.
    const double priority = static_cast<double>(tile.priority) / 20.0 * 100.0;
    if (!out.line(format("%d,%d,%d,%d,%u%c,%s,%u,%.2lf%%,%.0lf%%,%u,%d,%ld,%ld", tile.left, tile.top, tile.width,
                         tile.height, kilopixels, tile.counts ? ' ' : '!', name,
                         has_picture ? in.pictures[index].sequence : 0u, has_picture ? f.quality(tile.score) : 0.0,
                         priority, tile.score, has_picture ? f.use_counts[index] : 0L, number,
                         has_picture ? f.picture_numbers[index] : 0L)))
      return false;
  }
  return true;
}

bool compose_pictures(BlockWriter& out, const ReportInput& in, const ReportFigures& f) {
  if (!out.add("\r\nImage#,Image,Used Count\r\n")) return false;
  for (std::size_t i = 0; i < in.pictures.size(); ++i) {
    if (!out.line(format("%ld,%s,%ld", f.picture_numbers[i], quoted_csv_name(in.pictures[i].name), f.use_counts[i])))
      return false;
  }
  return true;
}

/// Whether the report may be written at `path`: a pipe or device that
/// happens to carry the report's name is left alone.
bool report_target_allowed(const std::filesystem::path& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  return error || !std::filesystem::exists(status) || std::filesystem::is_regular_file(status);
}

}  // namespace

bool hash_self_test() { return fnv1a_64("FNV Hash Test") == kFnvTestHash; }

std::string quoted_csv_name(std::string_view name) {
  std::string quoted;
  quoted.reserve(name.size() + 2);
  quoted += '"';
  for (const char c : name) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}


std::filesystem::path text_report_path(const std::string& output_base) {
  return std::filesystem::path(output_base + tr(" Text Report") + ".csv");
}

std::string processing_display_name(std::int32_t processing) {
  if (const char* label = label_of(std::begin(kProcessingLabels), std::end(kProcessingLabels), processing))
    return tr(label);
  if (const char* keyword = processing_keywords().keyword_of(processing)) return keyword;
  return std::to_string(processing);
}

std::string pattern_display_name(PatternCode pattern) {
  if (const char* keyword = pattern_keywords().keyword_of(pattern_number(pattern))) return tr(keyword);
  return std::to_string(pattern_number(pattern));
}

std::string adaptation_display_name(std::int32_t adaptation) {
  if (const char* label = label_of(std::begin(kAdaptationLabels), std::end(kAdaptationLabels), adaptation))
    return tr(label);
  return std::to_string(adaptation);
}

double resolution_ppi(const MosaicParameters& parameters) {
  const UnitValue& r = parameters.resolution;
  return convert_unit(r.value, r.unit, kUnitPpi).value_or(r.value);
}

double ReportFigures::quality(std::uint32_t score) const {
  return 100.0 - (static_cast<double>(score) - static_cast<double>(best)) * factor;
}

ReportFigures compute_report_figures(const ReportInput& input) {
  ReportFigures f;
  f.use_counts.assign(input.pictures.size(), 0);

  std::uint32_t best = std::numeric_limits<std::uint32_t>::max();
  std::uint32_t worst = 0;
  std::uint64_t sum = 0;
  for (const ReportTile& tile : input.tiles) {
    if (tile.counts && tile.width > 0 && tile.height > 0) {
      f.extent_width = std::max<std::int64_t>(f.extent_width, std::int64_t{tile.left} + tile.width);
      f.extent_height = std::max<std::int64_t>(f.extent_height, std::int64_t{tile.top} + tile.height);
    }
    if (tile.picture < 0 || static_cast<std::size_t>(tile.picture) >= input.pictures.size()) continue;
    ++f.with_picture;
    ++f.use_counts[static_cast<std::size_t>(tile.picture)];
    best = std::min(best, tile.score);
    worst = std::max(worst, tile.score);
    sum += tile.score;
  }
  f.without_picture = static_cast<long>(input.tiles.size()) - f.with_picture;
  f.size_mismatch = f.extent_width != input.mosaic_width && f.extent_height != input.mosaic_height;

  // Without a single picture there is nothing to average: everything is 0.
  if (f.with_picture == 0) best = 0;
  f.average = f.with_picture > 0 ? static_cast<std::uint32_t>(sum / static_cast<std::uint64_t>(f.with_picture)) : 0;
  if (worst == 0) worst = 1;
  if (worst > best) {
    f.factor = 100.0 / static_cast<double>(worst - best);
  } else {
    best = worst;
    f.factor = 1;
  }
  f.best = best;
  f.worst = worst;

  // Pictures are numbered in the order given; an equal name shares its number.
  std::map<std::string_view, long> numbers;
  f.picture_numbers.reserve(input.pictures.size());
  for (const ReportPicture& picture : input.pictures) {
    const auto [it, added] = numbers.try_emplace(picture.name, static_cast<long>(numbers.size()) + 1);
    f.picture_numbers.push_back(it->second);
  }
  return f;
}

bool compose_text_report(const ReportInput& input, const ReportFigures& figures,
                         const std::function<bool(std::string_view)>& write) {
  BlockWriter out(write);
  return out.add("\xEF\xBB\xBF") && compose_summary(out, input, figures) && compose_tiles(out, input, figures) &&
         compose_pictures(out, input, figures) && out.flush();
}

std::string text_report_text(const ReportInput& input) {
  std::string text;
  // Text in memory: the sink never fails.
  (void)compose_text_report(input, compute_report_figures(input), [&text](std::string_view block) {
    text += block;
    return true;
  });
  return text;
}

ReportInput gather_report_input(MosaicBuilder& builder, const ScoreTables& tables, const RunResult& result) {
  const MosaicParameters& p = builder.parameters;
  PuzzleGrid& grid = builder.grid;
  ReportInput input;
  input.main_width = result.main_width;
  input.main_height = result.main_height;
  input.mosaic_width = grid.pixel_width();
  input.mosaic_height = grid.pixel_height();
  input.colour_change = p.colour_change;
  input.duplicate_spacing = p.duplicate_spacing;
  input.consecutive_frames = p.consecutive_frames;
  input.algorithm = processing_display_name(p.processing);
  input.pattern = pattern_display_name(p.pattern);
  input.adaptation = adaptation_display_name(p.tile_adaptation);
  input.half_tiles = p.half_tiles;
  input.quarter_tiles = p.quarter_tiles;
  input.area_priority = p.advanced.value(kOptTilePriorityArea);
  input.size_priority = p.advanced.value(kOptTilePrioritySize);
  input.tile_split = p.advanced.value(kOptTileSplit);
  input.mask_file = result.mask_file;
  input.ppi = resolution_ppi(p);
  input.colour = result.colour_fidelity;

  // Scores are taken again with the run's comparison, so the report shows
  // what the final placement is worth, whichever stage put each tile there.
  std::vector<const FotoInfo*> used;
  used.reserve(grid.size());
  for (const auto& cell : grid.cells()) {
    if (cell->tile == nullptr) continue;
    cell->score = score_tile(tables, cell->signature, cell->priority, cell->tile->signature).score;
    used.push_back(cell->tile);
  }

  // The distinct pictures in path order, the list's own order.
  std::sort(used.begin(), used.end(), [](const FotoInfo* a, const FotoInfo* b) {
    return a->path != b->path ? a->path < b->path : std::less<const FotoInfo*>()(a, b);
  });
  used.erase(std::unique(used.begin(), used.end()), used.end());

  // A picture's sequence number is its place in the list, counted once for all.
  std::unordered_map<const FotoInfo*, std::uint32_t> sequence;
  if (builder.tile_list != nullptr) {
    sequence.reserve(builder.tile_list->entry_count());
    std::uint32_t position = 0;
    for (const auto& [path, entry] : builder.tile_list->entries()) sequence.emplace(&entry, ++position);
  }

  std::unordered_map<const FotoInfo*, int> index_of;
  index_of.reserve(used.size());
  input.pictures.reserve(used.size());
  for (const FotoInfo* picture : used) {
    index_of.emplace(picture, static_cast<int>(input.pictures.size()));
    const auto found = sequence.find(picture);
    input.pictures.push_back({picture->path, found != sequence.end() ? found->second : 0u});
  }

  input.tiles.reserve(grid.size());
  for (const auto& cell : grid.cells()) {
    ReportTile tile;
    tile.left = cell->left;
    tile.top = cell->top;
    tile.width = cell->width;
    tile.height = cell->height;
    tile.counts = counts_towards_extent(*cell);
    tile.priority = cell->priority;
    tile.score = cell->score;
    tile.picture = cell->tile != nullptr ? index_of.at(cell->tile) : -1;
    input.tiles.push_back(tile);
  }
  return input;
}

bool write_text_report_file(const std::filesystem::path& path, const ReportInput& input, Prompt& prompt) {
  FileSink file;
  if (!report_target_allowed(path)) {
    // No report, and the run goes on; but a run that lost its report must say so.
    report_unable_to_save(path.string(), prompt);
    return false;
  }
  if (!file.open(path) || file.is_direct()) {
    report_unable_to_save(path.string(), file.is_open() ? 0 : errno, prompt);
    return false;
  }

  const ReportFigures figures = compute_report_figures(input);
  if (figures.size_mismatch)
    prompt.message(tr("Warning: There is a mismatch between the reported Mosaic Size and the effective Mosaic Size. "
                      "Please check the Text Report and sent it to the developer of Tessellarium."),
                   Icon::warning);

  const bool written =
      compose_text_report(input, figures, [&file](std::string_view block) { return file.write(block); });
  if (written && file.commit()) return true;
  const int error = errno;
  // Half a report would read as a whole one: the earlier report, if any, stays.
  file.roll_back();
  report_unable_to_save(path.string(), error, prompt);
  return false;
}

bool write_text_report(MosaicBuilder& builder, const ScoreTables& tables, const RunResult& result) {
  Prompt& prompt = builder.prompt();
  if (!hash_self_test()) prompt.message(tr("Internal Hash Test Error"), Icon::error);
  if (result.output_base.empty()) return false;
  const ReportInput input = gather_report_input(builder, tables, result);
  return write_text_report_file(text_report_path(result.output_base), input, prompt);
}

}  // namespace tess
