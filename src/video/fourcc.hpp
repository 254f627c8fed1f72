#pragma once
// The codec of written videos, chosen by a four-character code as the user
// types it in the options.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tess {

/// No compression: raw 24-bit frames.
inline constexpr std::uint32_t kFourccUncompressed = 0;
/// A codec name the program does not know: no encoder takes it, so a video
/// asked for with it fails with a message instead of coming out uncompressed.
inline constexpr std::uint32_t kFourccUnknown = 0xFFFFFFFFu;

/// Reads an option naming a codec: blanks are ignored; nothing, "0", "o" and
/// "uncompressed" (letter case ignored) mean no compression; the FourCCs of
/// the common encoders ("MJPG", "XVID", "DIVX", ...) and their encoders'
/// names ("mjpeg", "mpeg4", ...) are taken in any letter case; any other
/// four characters are the code as typed, the first in the lowest byte.
/// nullopt for any other text.
[[nodiscard]] std::optional<std::uint32_t> read_fourcc(std::string_view option);

/// read_fourcc(), with kFourccUnknown for a text it does not take.
std::uint32_t parse_fourcc(std::string_view option);

/// The code as its four characters, first the lowest byte; "uncompressed" for
/// 0, "unknown" for kFourccUnknown.
std::string fourcc_text(std::uint32_t fourcc);

}  // namespace tess
