#pragma once
// "Insert Split Parameters": the size of the pieces a split mosaic is written
// in, entered in pixels or as tiles per row and a number of splits, which the
// window turns into pixels.

#include <QDialog>

#include "output/mosaic_saver.hpp"
#include "settings/mosaic_parameters.hpp"

class QButtonGroup;
class QLabel;
class QRadioButton;
class QSpinBox;

namespace tess {

class Prompt;

/// The piece size of `splits` pieces across and down a mosaic of
/// `tiles_per_row` × `tile_rows` tiles of tile_width × tile_height pixels:
/// every piece holds whole tiles, so cuts fall between tiles. Zero sides
/// when any figure is below 1.
SplitPieceSize split_size_from_tiles(int tiles_per_row, int tile_rows, int splits, int tile_width, int tile_height);

class SplitDialog final : public QDialog {
  Q_OBJECT

 public:
  /// `parameters` name the output format whose limits the pieces are checked
  /// against; the mosaic and tile sizes (pixels) feed the tiles entry.
  /// `initial` is shown when both sides are set, else two splits each way.
  /// Refusals and questions go to `prompt`.
  SplitDialog(const MosaicParameters& parameters, int mosaic_width, int mosaic_height, int tile_width,
              int tile_height, const SplitPieceSize& initial, Prompt& prompt, QWidget* parent = nullptr);

  /// The piece size in the pixel fields.
  SplitPieceSize piece_size() const;
  void set_piece_size(const SplitPieceSize& size);
  /// Switches to the tiles entry and fills it.
  void set_tiles(int tiles_per_row, int splits);

  /// OK: checks the size (refusal or the format's question through the
  /// prompt) and closes only when it may be stored.
  void accept() override;

 private:
  void update_from_tiles();
  void update_enabled();

  MosaicParameters m_parameters;
  int m_mosaic_tiles_per_row = 1;  // of the mosaic as it is set up now
  int m_tile_rows = 1;
  int m_tile_width = 1;
  int m_tile_height = 1;
  Prompt& m_prompt;

  QRadioButton* m_in_pixels = nullptr;
  QRadioButton* m_in_tiles = nullptr;
  QSpinBox* m_width = nullptr;
  QSpinBox* m_height = nullptr;
  QSpinBox* m_tiles_per_row = nullptr;
  QSpinBox* m_splits = nullptr;
};

}  // namespace tess
