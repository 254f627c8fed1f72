// tessellarium-sample-tiles: cuts a tile library out of a few sample
// photographs, so the demo has real pictures to build a mosaic from without
// the repository keeping any.
//
//   tessellarium-sample-tiles SOURCE_DIR OUT_DIR COUNT SEED
//
// Every JPEG and PNG of SOURCE_DIR (not its subfolders) with colour in it is a
// source. COUNT crops are cut at random positions and scales, three of four
// landscape (200 × 150) and the rest portrait (150 × 200), half of them
// mirrored, and written to OUT_DIR as JPEGs. The same sources and SEED give the
// same tiles, byte for byte: the generator is std::mt19937_64 (its output is
// fixed by the standard) and every draw is mapped to a range here rather than
// by the library's distributions, which differ between implementations.

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/prompt.hpp"
#include "images/foto.hpp"
#include "output/jpeg_writer.hpp"

namespace {

namespace fs = std::filesystem;

constexpr int kLongSide = 200;
constexpr int kShortSide = 150;
constexpr int kJpegQuality = 88;
// The largest crop takes this share of the source's shorter side: whole-picture
// crops would all look alike, the smallest crops show texture.
constexpr double kLargestCropShare = 0.9;
// A pixel counts as coloured when its channels spread at least this far apart.
constexpr std::uint32_t kColourSpread = 24;

// Nobody answers this tool: messages are printed and questions take their
// default answer.
class StderrPrompt final : public tess::Prompt {
 public:
  void message(const std::string& text, tess::Icon icon) override {
    const char* tag = icon == tess::Icon::error ? "error" : icon == tess::Icon::warning ? "warning" : "info";
    std::fprintf(stderr, "%s: %s\n", tag, text.c_str());
  }
  tess::Answer ask(const std::string& text, tess::Buttons, tess::Answer default_answer, tess::Icon) override {
    std::fprintf(stderr, "question: %s\n", text.c_str());
    return default_answer;
  }
  std::vector<std::string> choose_files(const tess::FileRequest&) override { return {}; }
  std::string choose_folder(const tess::FolderRequest&) override { return {}; }
  void show_picture(const tess::PictureView&, const std::string& caption) override {
    std::fprintf(stderr, "info: %s\n", caption.c_str());
  }
};

struct Source {
  std::string stem;
  tess::Foto foto;
};

bool parse_number(std::string_view text, std::uint64_t& value) {
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

bool has_picture_name(const fs::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".jpg" || ext == ".jpeg" || ext == ".png";
}

// Grey pictures (scans, microscope shots, silhouettes) make tiles that fit no
// coloured cell, so a source needs a fair share of coloured pixels.
bool has_colour(const tess::Foto& foto) {
  std::size_t coloured = 0;
  const std::uint32_t* p = foto.pixels();
  for (std::size_t i = 0; i < foto.pixel_count(); ++i) {
    const std::uint32_t r = tess::pixel_red(p[i]), g = tess::pixel_green(p[i]), b = tess::pixel_blue(p[i]);
    if (std::max({r, g, b}) - std::min({r, g, b}) >= kColourSpread) ++coloured;
  }
  return coloured * 10 >= foto.pixel_count();
}

// A see-through part would come out of the JPEG in whatever colour the
// transparent pixels happen to hold.
bool is_opaque(const tess::Foto& foto) {
  const std::uint32_t* p = foto.pixels();
  return std::all_of(p, p + foto.pixel_count(), [](std::uint32_t px) { return tess::pixel_transparency(px) == 0; });
}

// Sources in name order, so that the tiles do not depend on the order in
// which the file system lists the folder.
std::vector<Source> load_sources(const fs::path& folder, tess::Prompt& prompt) {
  std::vector<fs::path> paths;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file(ec) && has_picture_name(it->path())) paths.push_back(it->path());
  }
  if (ec) {
    prompt.message("cannot read the folder " + folder.string() + ": " + ec.message(), tess::Icon::error);
    return {};
  }
  std::sort(paths.begin(), paths.end());

  std::vector<Source> sources;
  for (const fs::path& path : paths) {
    Source source{path.stem().string(), {}};
    // One line below says why a picture is skipped.
    if (!source.foto.load(path, 0, 0)) {
      prompt.message("skipped " + path.string() + ": not a readable picture", tess::Icon::information);
    } else if (std::min(source.foto.width(), source.foto.height()) < kLongSide) {
      prompt.message("skipped " + path.string() + ": smaller than a tile", tess::Icon::information);
    } else if (!is_opaque(source.foto) || !has_colour(source.foto)) {
      prompt.message("skipped " + path.string() + ": transparent or without colour", tess::Icon::information);
    } else {
      sources.push_back(std::move(source));
    }
  }
  return sources;
}

class Draws {
 public:
  explicit Draws(std::uint64_t seed) : m_engine(seed) {}
  /// Uniform in [0, 1), from the top 53 bits of one output.
  double unit() { return static_cast<double>(m_engine() >> 11) * 0x1.0p-53; }
  double between(double low, double high) { return low + (high - low) * unit(); }

 private:
  std::mt19937_64 m_engine;
};

bool cut_tile(const Source& source, Draws& draws, const fs::path& path, tess::Prompt& prompt) {
  const bool portrait = draws.unit() < 0.25;
  const int tile_w = portrait ? kShortSide : kLongSide;
  const int tile_h = portrait ? kLongSide : kShortSide;
  const tess::Foto& foto = source.foto;

  // The crop keeps the tile's shape; its scale is drawn evenly on a log scale
  // between 1:1 and the largest crop, so close-ups and wide views come equally.
  const double fit = std::min(static_cast<double>(foto.width()) / tile_w, static_cast<double>(foto.height()) / tile_h);
  const double largest = std::max(1.0, fit * kLargestCropShare);
  const double scale = std::exp(draws.between(0.0, std::log(largest)));
  const double crop_w = tile_w * scale;
  const double crop_h = tile_h * scale;
  const double x = std::floor(draws.between(0.0, foto.width() - crop_w));
  const double y = std::floor(draws.between(0.0, foto.height() - crop_h));
  const bool mirrored = draws.unit() < 0.5;

  tess::Foto tile;
  if (!foto.resample(tile_w, tile_h, x, y, crop_w, crop_h, tile).ok_or_show(prompt)) {
    prompt.message("cannot cut a tile from " + source.stem, tess::Icon::error);
    return false;
  }
  if (mirrored) tile.mirror();
  return tess::write_jpeg_image(tile, path, true, kJpegQuality, 0, prompt);
}

}  // namespace

int main(int argc, char** argv) {
  // Messages go to standard error as "error: ..." and "info: ...".
  StderrPrompt prompt;
  std::uint64_t count = 0, seed = 0;
  if (argc != 5 || !parse_number(argv[3], count) || count == 0 || count > 1000000 || !parse_number(argv[4], seed)) {
    std::fprintf(stderr, "usage: %s SOURCE_DIR OUT_DIR COUNT SEED\n", argc > 0 ? argv[0] : "tessellarium-sample-tiles");
    return 2;
  }
  const fs::path source_dir = argv[1];
  const fs::path out_dir = argv[2];

  const std::vector<Source> sources = load_sources(source_dir, prompt);
  if (sources.empty()) {
    prompt.message("no usable pictures in " + source_dir.string(), tess::Icon::error);
    return 2;
  }
  std::error_code ec;
  fs::create_directories(out_dir, ec);
  if (ec) {
    prompt.message("cannot make the folder " + out_dir.string() + ": " + ec.message(), tess::Icon::error);
    return 1;
  }

  Draws draws(seed);
  const int digits = static_cast<int>(std::to_string(count - 1).size());
  for (std::uint64_t i = 0; i < count; ++i) {
    // Every source is drawn equally often: weighting by area would let one
    // large picture fill most of the library with look-alike tiles.
    const auto pick = static_cast<std::size_t>(draws.unit() * static_cast<double>(sources.size()));
    const Source& source = sources[std::min(pick, sources.size() - 1)];
    std::string number = std::to_string(i);
    number.insert(0, static_cast<std::size_t>(digits) - number.size(), '0');
    if (!cut_tile(source, draws, out_dir / (source.stem + "-" + number + ".jpg"), prompt)) return 1;
  }
  std::printf("%llu tiles from %zu pictures in %s\n", static_cast<unsigned long long>(count), sources.size(),
              out_dir.string().c_str());
  return 0;
}
