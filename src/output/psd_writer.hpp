#pragma once
// Photoshop documents: one flat 8-bit RGB image, no layers and no alpha
// channel, with a caption and the print resolution. The file stores the
// picture plane by plane while rows arrive top first, so every row is split
// into its three channels and each goes straight to its place in the file.

#include <cstdint>
#include <filesystem>

namespace tess {

class Prompt;
class RowSource;

/// The longest side of the standard form (PSD), or with `big` of the large
/// document form (PSB): the hard side limit of that output format.
int max_photoshop_side(bool big);

/// Writes the rows of `source` as a Photoshop document, the large document
/// form when `big` is set. `dpi` is stored as the horizontal and vertical
/// resolution (values outside 0..65535 are held to that range, the most the
/// 16.16 field can carry). A side over the form's limit is refused before a
/// file is created, with the text that names the limit and the form to use
/// instead. Returns true only when every row was written and the file closed
/// cleanly. Every failure is reported through `prompt` (the writer's own
/// error text when it has one, else "Unable to save file '%s'" with the path),
/// except when the source stopped on request; a file that was started is
/// removed again on failure.
[[nodiscard]] bool write_photoshop_rows(RowSource& source, const std::filesystem::path& path, bool big, int dpi,
                          Prompt& prompt);

}  // namespace tess
