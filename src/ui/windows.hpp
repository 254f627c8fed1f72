#pragma once
// The windows the main window opens, each behind one function, so that the
// main window knows none of their insides. Every function is modal: it
// returns when the window is closed. Paths are UTF-8.

#include <string>

class QWidget;

namespace tess {

class AdvancedOptions;
class ConfigFile;
class Prompt;
class UserState;
struct MosaicParameters;
struct SplitPieceSize;

/// The Tile Images List window: folder views, the All Images view, building
/// and analysing lists, and video extraction. `list_path` is the list the
/// main window has loaded (empty when none); on return it names the list the
/// main window should load (the one saved or loaded last in the window).
/// True when the main window should (re)load `list_path`.
bool run_tile_list_window(QWidget* parent, std::string& list_path, const ConfigFile& config, const UserState& state);

/// The split parameters window ("Insert Split Parameters"): piece size in
/// pixels, or tiles per row and number of splits, validated for the format
/// of `parameters`. True with `size` set on OK.
bool run_split_dialog(QWidget* parent, const MosaicParameters& parameters, int mosaic_width, int mosaic_height,
                      int tile_width, int tile_height, SplitPieceSize& size);

/// About, with the mosaic count and the date of the first mosaic.
void show_about_dialog(QWidget* parent, const UserState& state);

/// The language window: the languages of the data folder's locale list.
/// True with `locale` set (for example "de") when the user chose one.
bool run_language_dialog(QWidget* parent, std::string& locale);

}  // namespace tess
