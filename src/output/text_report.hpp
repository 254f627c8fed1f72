#pragma once
// The text report written beside a finished mosaic: a comma-separated file
// (UTF-8 with a byte-order mark, CR LF line ends) with a summary of the run,
// one line per tile and one line per distinct picture. It also recomputes the
// mosaic extent from the tiles, to catch a layout that does not match the
// mosaic's size, and self-tests the 64-bit FNV-1a hash.
//
// Gathering (from the builder) and composing (plain data to text) are kept
// apart, so the text can be checked byte for byte without a whole run.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/fnv_hash.hpp"
#include "engine/colour_fidelity.hpp"
#include "engine/puzzle.hpp"

namespace tess {

class MosaicBuilder;
class Prompt;
class ScoreTables;
struct MosaicParameters;
enum class PatternCode : std::int32_t;
struct RunResult;

// ---- Small pieces -------------------------------------------------------------

/// Whether fnv1a_64 gives the known value for "FNV Hash Test".
[[nodiscard]] bool hash_self_test();

/// `name` in double quotes with every inner double quote doubled; always
/// quoted, whatever it holds.
std::string quoted_csv_name(std::string_view name);

/// The report's file: `output_base` followed by " Text Report" (translated) and ".csv".
std::filesystem::path text_report_path(const std::string& output_base);

/// The display names of the summary, translated: the processing choice as
/// the main window labels it (its keyword when it has no label), the
/// pattern's name and the adaptation ("Original", "Adapt Tile", "Adapt Mosaic").
std::string processing_display_name(std::int32_t processing);
std::string pattern_display_name(PatternCode pattern);
std::string adaptation_display_name(std::int32_t adaptation);

/// The print resolution in pixels per inch, whichever of PPI and DPI it was given in.
double resolution_ppi(const MosaicParameters& parameters);

// ---- The report as plain data -------------------------------------------------

/// One distinct picture used by the tiles.
struct ReportPicture {
  std::string name;            ///< as written in the report: the picture's path
  std::uint32_t sequence = 0;  ///< 1-based position in the Tile Images List; 0 when not in it
};

/// One tile (cell) of the mosaic, in tile-list order.
struct ReportTile {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  bool counts = true;  ///< counts towards the mosaic extent
  std::uint8_t priority = kNormalCellPriority;
  std::uint32_t score = 0;
  int picture = -1;  ///< index into ReportInput::pictures; -1 for a tile without a picture
};

/// Everything the report shows, gathered from a finished run.
struct ReportInput {
  std::int64_t main_width = 0;  ///< the main image as loaded
  std::int64_t main_height = 0;
  std::int64_t mosaic_width = 0;  ///< the mosaic's own size
  std::int64_t mosaic_height = 0;
  std::int32_t colour_change = 0;  ///< percent
  std::int32_t duplicate_spacing = 0;
  std::int32_t consecutive_frames = 0;
  std::string algorithm;   ///< display names
  std::string pattern;
  std::string adaptation;
  std::int32_t half_tiles = 0;     ///< percent
  std::int32_t quarter_tiles = 0;  ///< percent
  std::string area_priority;  ///< advanced option texts as stored
  std::string size_priority;
  std::string tile_split;
  std::string mask_file;  ///< empty without one
  double ppi = 0;
  /// The colour differences of the cells to the main image; shown in the
  /// summary when any cell was measured.
  ColourFidelity colour;
  std::vector<ReportPicture> pictures;  ///< distinct pictures in numbering order
  std::vector<ReportTile> tiles;
};

/// What the report derives from its input.
struct ReportFigures {
  std::int64_t extent_width = 0;  ///< from the tiles that count and have a size
  std::int64_t extent_height = 0;
  /// Both sides of the extent differ from the mosaic's own size.
  bool size_mismatch = false;
  long with_picture = 0;
  long without_picture = 0;
  std::uint32_t best = 0;  ///< both after the adjustments of compute_report_figures()
  std::uint32_t worst = 0;
  std::uint32_t average = 0;  ///< 0 when no tile holds a picture
  double factor = 1;          ///< quality points per score step
  std::vector<long> use_counts;       ///< per picture: tiles using it
  std::vector<long> picture_numbers;  ///< per picture: its Image#, shared by equal names

  /// 100 for the best score down to 0 for the worst.
  double quality(std::uint32_t score) const;
};

/// Extent, counts, scores and picture numbers of `input`. The worst score is
/// taken as at least 1; when it is not above the best, the best becomes the
/// worst and every tile has 100 %.
ReportFigures compute_report_figures(const ReportInput& input);

/// Composes the whole report and hands it to `write` in blocks (never the
/// whole text at once for a large mosaic). False as soon as `write` fails.
[[nodiscard]] bool compose_text_report(const ReportInput& input, const ReportFigures& figures,
                         const std::function<bool(std::string_view)>& write);

/// The whole report as one string (for small reports and tests).
std::string text_report_text(const ReportInput& input);

// ---- The report of a run ------------------------------------------------------

/// Gathers the report's input from the builder's finished grid. Every tile
/// with a picture gets its score computed again with the run's comparison,
/// and the cell keeps it.
ReportInput gather_report_input(MosaicBuilder& builder, const ScoreTables& tables, const RunResult& result);

/// Writes `input` to `path`. A file that cannot be created (or that is not a
/// regular file) is reported through `prompt` and left alone; a write failure
/// removes the partial file and is reported too. Shows the size-mismatch warning when the
/// report was created and the sizes disagree. False when nothing was written.
[[nodiscard]] bool write_text_report_file(const std::filesystem::path& path, const ReportInput& input, Prompt& prompt);

/// The report step of a run: the hash self-test, then the report beside the
/// mosaic (text_report_path of result.output_base). Never stops the run; the
/// result only says whether the file was written.
[[nodiscard]] bool write_text_report(MosaicBuilder& builder, const ScoreTables& tables, const RunResult& result);

}  // namespace tess
