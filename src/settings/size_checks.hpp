#pragma once
// Size limits of the output formats, checked before a run starts so that a
// mosaic the format cannot hold is not built for hours first.

#include <cstdint>
#include <string>

#include "settings/mosaic_parameters.hpp"

namespace tess {

class Prompt;

enum class SizeVerdict {
  fits,    ///< nothing to say
  ask,     ///< over the soft side limit: the user decides
  refuse,  ///< over the pixel limit or the hard side limit
};

struct SizeCheck {
  SizeVerdict verdict = SizeVerdict::fits;
  std::string text;  ///< the message or question; empty when it fits
};

/// Checks a mosaic of width × height pixels, saved whole (no split), against
/// the limits of `format`. TIFF with `tiff64`, PPM, RAW, RezIroriz and the
/// DivarAdadir formats have no limit here.
SizeCheck check_mosaic_size(OutputFormatCode format, bool tiff64, std::int64_t width, std::int64_t height);

/// The check before a run: a split mosaic always passes; otherwise a refusal
/// is shown (error icon) and a soft-limit question is asked with Yes/No, No
/// being the default. Returns true when the run may start.
[[nodiscard]] bool confirm_mosaic_size(const MosaicParameters& parameters, std::int64_t width, std::int64_t height,
                         Prompt& prompt);

/// Split pieces are asked for in pixels, each side above 10 and at most this.
inline constexpr std::int64_t kMinSplitPieceSide = 11;
inline constexpr std::int64_t kMaxSplitPieceSide = 1'000'000;

/// Checks a split piece size: a side outside 11..1,000,000 is refused; a
/// piece over the format's pixel limit or side limit makes the user decide.
SizeCheck check_split_size(OutputFormatCode format, bool tiff64, std::int64_t width, std::int64_t height);

/// The split window's OK: a refusal is shown (the window stays open, false);
/// the question is asked with Yes/No, No the default (No keeps it open).
/// True when the piece size may be stored.
[[nodiscard]] bool confirm_split_size(const MosaicParameters& parameters, std::int64_t width, std::int64_t height,
                        Prompt& prompt);

}  // namespace tess
