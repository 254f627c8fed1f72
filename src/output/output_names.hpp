#pragma once
// Where a mosaic and its side files go: the base name every output file of one
// mosaic starts with, from the main image, the mosaic's label and the
// destination settings (folder, sub-folder rule, file-name rule).

#include <string>

namespace tess {

class Prompt;
struct MosaicParameters;

/// The names of one mosaic's outputs. Every file is the base name followed
/// by a suffix and an extension; "/" separates folders.
struct OutputNames {
  std::string base_name;      ///< full path of every output file without suffix and extension
  std::string output_folder;  ///< the folder part of base_name, without the last "/"; empty for a bare name
  std::string tiles_folder;   ///< individual tiles folder, without the last "/"; empty when not asked for
  std::string subfolder;      ///< the sub-folder the naming rules call for, without the last "/"; empty when none
  /// The mosaic's extension (see mosaic_extension()): the one of a file named
  /// on the command line when it stands for the format, else the format's.
  std::string extension;

  std::string settings_file() const;   ///< the settings copy, " Settings.txt"
  std::string report_file() const;     ///< the text report, " Text Report.csv" (translated)
  std::string mask_jpeg_file() const;  ///< " MaskFile.jpg"
  std::string mask_bmp_file() const;   ///< " MaskFile.bmp"
  std::string score_file() const;      ///< " Score.jpg"
  std::string tile_list_file() const;  ///< the placement's tile list, " Tile List.txt" (translated)
  std::string web_folder() const;      ///< the RezIroriz folder, " RezIroriz/"
};

/// The output names of one mosaic as make_output_names() forms them, without
/// making any folder.
void plan_output_names(const std::string& main_image, const std::string& label, const MosaicParameters& parameters,
                       const std::string& output_file, OutputNames& names);

/// Forms the output names of one mosaic and creates the folders the naming
/// rules call for (the sub-folder of rules 2 and 3, the individual tiles
/// folder). `label` is the run's label of the mosaic ("Mosaic", translated,
/// when empty); `output_file` is the output file the command line gave for
/// this main image, empty when none: its name without the extension is then
/// the base name as it is. Returns false, after reporting "Unable to save
/// file '%s'" with the folder, when a folder cannot be created.
[[nodiscard]] bool make_output_names(const std::string& main_image, const std::string& label, const MosaicParameters& parameters,
                       const std::string& output_file, OutputNames& names, Prompt& prompt);

/// Whether a NEW mosaic could not take `base_name`: a file of the folder
/// starts with its name, or a folder of exactly its name holds a file.
[[nodiscard]] bool output_name_taken(const std::string& base_name);

}  // namespace tess
