#include "video/fourcc.hpp"

#include <array>
#include <string>

#include "base/text.hpp"

namespace tess {
namespace {

// Codecs users name by their FourCC in whatever case, or by the encoder's
// name: each maps to the code it is written with. A four-character code
// outside this table is taken as typed, so a code such as "avc1", whose
// case matters to some players, still reaches the encoder unchanged.
struct NamedCodec {
  const char* code;
  std::array<const char*, 3> names;  // blanks removed, compared without case
};
constexpr NamedCodec kNamedCodecs[] = {
    {"MJPG", {"mjpeg", "motionjpeg", nullptr}},
    {"XVID", {"xvid", nullptr, nullptr}},
    {"DIVX", {"divx", nullptr, nullptr}},
    {"DX50", {"dx50", nullptr, nullptr}},
    {"FMP4", {"mpeg4", nullptr, nullptr}},
    {"H264", {"h.264", "avc", nullptr}},
    {"X264", {nullptr, nullptr, nullptr}},
    {"FFV1", {nullptr, nullptr, nullptr}},
    {"HFYU", {"huffyuv", nullptr, nullptr}},
    {"FFVH", {"ffvhuff", nullptr, nullptr}},
    {"MP42", {"msmpeg4v2", nullptr, nullptr}},
    {"MP43", {"msmpeg4", "msmpeg4v3", nullptr}},
    {"WMV1", {"wmv1", nullptr, nullptr}},
    {"WMV2", {"wmv2", nullptr, nullptr}},
    {"MPNG", {"png", nullptr, nullptr}},
};

std::uint32_t code_of(std::string_view text) {
  std::uint32_t code = 0;
  for (int i = 3; i >= 0; --i) code = (code << 8) | static_cast<unsigned char>(text[static_cast<std::size_t>(i)]);
  return code;
}

}  // namespace

std::optional<std::uint32_t> read_fourcc(std::string_view option) {
  std::string text;
  for (const char c : option)
    if (c != ' ') text += c;
  if (text.empty() || text == "0" || iequals(text, "o") || iequals(text, "uncompressed")) return kFourccUncompressed;
  for (const NamedCodec& codec : kNamedCodecs) {
    if (iequals(text, codec.code)) return code_of(codec.code);
    for (const char* name : codec.names)
      if (name != nullptr && iequals(text, name)) return code_of(codec.code);
  }
  if (text.size() == 4) return code_of(text);
  return std::nullopt;
}

std::uint32_t parse_fourcc(std::string_view option) { return read_fourcc(option).value_or(kFourccUnknown); }

std::string fourcc_text(std::uint32_t fourcc) {
  if (fourcc == kFourccUncompressed) return "uncompressed";
  if (fourcc == kFourccUnknown) return "unknown";
  std::string text;
  for (int i = 0; i < 4; ++i) text += static_cast<char>((fourcc >> (8 * i)) & 0xFF);
  return text;
}

}  // namespace tess
