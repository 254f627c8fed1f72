#include "video/fourcc.hpp"

#include <cctype>
#include <string>

namespace tess {

std::uint32_t parse_fourcc(std::string_view option) {
  std::string text;
  for (const char c : option)
    if (c != ' ') text += c;
  std::string lower = text;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (text == "0" || lower == "o" || lower == "uncompressed" || text.size() != 4) return kFourccUncompressed;
  std::uint32_t code = 0;
  for (int i = 3; i >= 0; --i) code = (code << 8) | static_cast<unsigned char>(text[static_cast<std::size_t>(i)]);
  return code;
}

std::string fourcc_text(std::uint32_t fourcc) {
  if (fourcc == kFourccUncompressed) return "uncompressed";
  std::string text;
  for (int i = 0; i < 4; ++i) text += static_cast<char>((fourcc >> (8 * i)) & 0xFF);
  return text;
}

}  // namespace tess
