#pragma once
// The codec of written videos, chosen by a four-character code as the user
// types it in the options.

#include <cstdint>
#include <string>
#include <string_view>

namespace tess {

/// No compression: raw 24-bit frames.
inline constexpr std::uint32_t kFourccUncompressed = 0;

/// Reads an option naming a codec: blanks are ignored; "0", "o" and
/// "uncompressed" (letter case ignored for the last two) mean no compression;
/// exactly four characters are the code, the first in the lowest byte, letter
/// case kept ("XVID" and "xvid" differ); anything else means no compression.
std::uint32_t parse_fourcc(std::string_view option);

/// The code as its four characters, first the lowest byte; "uncompressed" for 0.
std::string fourcc_text(std::uint32_t fourcc);

}  // namespace tess
