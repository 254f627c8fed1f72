#pragma once
// Photoshop documents: one flat 8-bit RGB image, no layers and no alpha
// channel, with a caption, the print resolution and the sRGB profile. The file stores the
// picture plane by plane while rows arrive top first, so every row is split
// into its three channels and each goes straight to its place in the file.

#include <cstdint>
#include <filesystem>
#include <string>

#include "output/write_options.hpp"

namespace tess {

class Prompt;
class RowSource;

/// The longest side of the standard form (PSD), or with `big` of the large
/// document form (PSB): the hard side limit of that output format.
int max_photoshop_side(bool big);

/// Why a picture of width × height cannot be saved in that form, with the
/// way out: the large form for sides it can hold, else a format without a
/// side limit. write_picture() refuses such a picture with it before a file
/// is created.
std::string photoshop_side_refusal(int width, int height, bool big);

/// Writes the rows of `source` as a Photoshop document of the standard form.
/// The options' dpi is stored as the horizontal and vertical resolution
/// (values outside 0..65535 are held to that range, the most the 16.16 field
/// can carry). Returns true only when every row was written and the file
/// closed cleanly. Every failure is reported through `prompt` (the writer's
/// own error text when it has one, else "Unable to save file '%s'" with the
/// path), except when the source stopped on request; a file that was started
/// is removed again on failure. Called through write_picture(), which
/// refuses a side over max_photoshop_side() first.
[[nodiscard]] bool write_psd_rows(RowSource& source, const std::filesystem::path& path, const WriteOptions& options,
                                  Prompt& prompt);

/// The same as a large document (PSB).
[[nodiscard]] bool write_psb_rows(RowSource& source, const std::filesystem::path& path, const WriteOptions& options,
                                  Prompt& prompt);

}  // namespace tess
