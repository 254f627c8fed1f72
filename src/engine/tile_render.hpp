#pragma once
// Tile rendering: one placed picture drawn into its cell. The picture is
// decoded no larger than the cell needs, cropped to the cell's proportions,
// turned or mirrored as the matching chose, moved in colour toward the cell
// (a uniform shift, then a local blend toward the cell's own colours) and cut
// to the cell's shape. Every step keeps its integer arithmetic: identical
// mosaic files depend on it.
//
// A TileRenderer is set up once per run and only read afterwards, so any
// number of band jobs may render with it at the same time.

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/puzzle.hpp"
#include "engine/score_kernel.hpp"
#include "engine/score_tables.hpp"
#include "images/foto.hpp"
#include "tilelist/foto_info.hpp"
#include "tilelist/tile_signature.hpp"

namespace tess {

/// What rendering did to a cell's tile, kept with the cell for the text
/// report and the web output.
struct TileRenderRecord {
  /// Red, green and blue shift of the uniform colour move (0 when tiles keep
  /// their colour). A shift may reach ±255, so it does not fit a signed byte.
  std::array<std::int16_t, 3> shift{};
  std::uint8_t variant = kVariantCodeNone;  ///< 1..8: how the tile was drawn
  std::uint8_t cell_portrait = 0;           ///< the cell is taller than wide
  std::uint8_t tile_portrait = 0;           ///< the tile picture is taller than wide
  /// The cell as drawn, in mean red, green and blue (0..255) over the pixels
  /// that reach the mosaic (a shaped cell's own shape): the tile before any
  /// colour change, and as it was finally drawn. Taken while the pixels are
  /// at hand, so that no pass over the finished mosaic is needed.
  std::array<float, 3> mean_before{};
  std::array<float, 3> mean_after{};
  std::uint8_t measured = 0;  ///< 1 when both means were taken (a shape may leave no pixel)
};

/// Fetches the picture of a video tile: `clip` decoded at no more than about
/// 8 times `max_width` × `max_height`. Called from several threads at once.
using TileFrameLoader = std::function<bool(const FotoInfo& clip, int max_width, int max_height, Foto& frame)>;

class TileRenderer {
 public:
  /// `tables` must outlive the renderer and stay unchanged while it renders.
  /// `black_and_white` is the tile list's flag. Without a frame loader a
  /// video tile cannot be loaded and its cell stays empty. Running out of
  /// memory while drawing is reported through `report`, which must outlive
  /// the renderer and may be told from several threads at once.
  TileRenderer(const ScoreTables& tables, bool black_and_white, Prompt& report, TileFrameLoader frame_loader = {});

  /// The rendered picture of `cell`: cell width × height, its tile loaded,
  /// cropped, turned, colour-corrected and cut to the cell's shape. False
  /// with `out` empty when the cell has no tile (`message` empty: the gap
  /// colour stays), when the picture cannot be loaded (`message` holds
  /// "Unable to load JPG File: " and the path for the caller to report), or
  /// when memory ran out (already reported through the renderer's prompt,
  /// `message` empty).
  [[nodiscard]] bool render_cell(const PuzzleInfo& cell, Foto& out, TileRenderRecord& record,
                                 std::string& message) const;

  /// The cell's tile picture decoded at the size the cell needs (DCT-scaled
  /// JPEGs), grey for a black-and-white list. Silent; on failure `picture`
  /// is empty and `message` holds the text to report.
  [[nodiscard]] bool load_tile(const PuzzleInfo& cell, Foto& picture, std::string& message) const;

  /// render_cell() from a picture that load_tile() gave for the same tile,
  /// so that a picture used by several cells is loaded once. `picture` is
  /// only read.
  [[nodiscard]] bool render_cell(const PuzzleInfo& cell, const Foto& picture, Foto& out, TileRenderRecord& record) const;

  /// `picture` (the tile with signature `tile`) drawn as a width × height
  /// copy for a cell of signature `cell`, without the cell's shape.
  [[nodiscard]] bool render_tile(const TileSignature& cell, const Foto& picture, const TileSignature& tile, int width, int height,
                   Foto& out, TileRenderRecord& record) const;
  /// The same, replacing `picture` by the result (the source is freed as
  /// soon as its resampled copy exists). Failure leaves `picture` empty.
  [[nodiscard]] bool render_tile_in_place(const TileSignature& cell, Foto& picture, const TileSignature& tile, int width,
                            int height, TileRenderRecord& record) const;

  /// The variant the matching chose for this cell and tile: the unbounded
  /// kernel of the run's comparison method; 1 when no variant is allowed.
  std::uint8_t variant_for(const TileSignature& cell, const TileSignature& tile) const;

  [[nodiscard]] bool black_and_white() const { return m_black_and_white; }

 private:
  [[nodiscard]] bool render(const TileSignature& cell, const Foto& picture, const TileSignature& tile, int width, int height,
              std::uint8_t variant, const Foto* shape, Foto* release, Foto& out, TileRenderRecord& record) const;
  [[nodiscard]] bool load_sized(const PuzzleInfo& cell, std::uint8_t variant, Foto& picture, std::string& message) const;
  bool render_loaded(const PuzzleInfo& cell, std::uint8_t variant, const Foto& picture, Foto* release, Foto& out,
                     TileRenderRecord& record) const;

  const ScoreTables* m_tables;
  bool m_black_and_white;
  Prompt& m_report;
  TileFrameLoader m_frame_loader;
};

// --- the steps, each usable on its own ---------------------------------------

/// The largest rectangle of proportions `aspect_w` : `aspect_h` inside a
/// picture of `width` × `height`, centred: offsets and size in whole pixels.
struct CropRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};
CropRect centred_crop(int width, int height, int aspect_w, int aspect_h);

/// Crops `picture` to the cell's proportions (turned for codes 5..8),
/// resamples it in one pass and re-indexes it by the variant code, giving a
/// width × height picture. Codes outside 1..8 draw as 1. Out of memory
/// carries its text.
Status draw_tile_variant(const Foto& picture, int variant, int width, int height, Foto& out);

/// The mean red, green and blue of `picture` over the pixels inside `shape`
/// (a pixel of the shape whose transparency is below 255, as a mask cell
/// keeps them), or over every pixel without one. False when no pixel counts.
[[nodiscard]] bool mean_colour(const Foto& picture, const Foto* shape, std::array<float, 3>& mean);

/// Adds `shift` to every pixel's red, green and blue, held to 0..255;
/// transparency is kept.
void apply_colour_shift(Foto& picture, const std::array<int, 3>& shift);

/// Pulls every pixel toward the local colour of the cell under it by up to
/// `amount` (0..255; more counts as 255), read bilinearly from the cell
/// signature's fine samples. Transparent parts of the cell pull nothing.
/// False only when memory for the sampling tables ran out (the picture is
/// then unchanged).
[[nodiscard]] bool blend_toward_cell(Foto& picture, const TileSignature& cell, int amount);

}  // namespace tess
