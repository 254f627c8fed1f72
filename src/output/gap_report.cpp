#include "output/gap_report.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <system_error>
#include <vector>

#include "base/file_sink.hpp"
#include "base/prompt.hpp"
#include "base/text.hpp"
#include "output/png_writer.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;

// The page says it was written by this report, so a later report may
// replace its files and nobody else's.
constexpr const char* kPageMark = "<meta name=\"generator\" content=\"Tessellarium gap report\">";

// The chart's layout in pixels.
constexpr int kBinWidth = 16;
constexpr int kBinHeight = 12;
constexpr int kGreyGap = 8;
constexpr int kGreyWidth = 24;
constexpr int kChartWidth = ListCoverage::kHueBins * kBinWidth + kGreyGap + kGreyWidth;
constexpr int kChartHeight = ListCoverage::kLightnessBins * kBinHeight;
constexpr std::uint32_t kChartBackground = make_pixel(40, 40, 40);

std::uint32_t mix(std::uint32_t a, std::uint32_t b, double share_of_a) {
  const auto channel = [&](std::uint32_t x, std::uint32_t y) {
    return static_cast<std::uint32_t>(std::lround(x * share_of_a + y * (1.0 - share_of_a)));
  };
  return make_pixel(channel(pixel_red(a), pixel_red(b)), channel(pixel_green(a), pixel_green(b)),
                    channel(pixel_blue(a), pixel_blue(b)));
}

/// The most colourful in-gamut colour of a hue and lightness, at most of
/// chroma 60 so that neighbouring bins stay comparable.
std::uint32_t bin_colour(double hue, double lightness) {
  const double radians = hue * 3.14159265358979323846 / 180.0;
  for (double c = 60.0; c > 0; c -= 2.0) {
    bool inside = false;
    const std::uint32_t pixel = pixel_of_lab({lightness, c * std::cos(radians), c * std::sin(radians)}, &inside);
    if (inside) return pixel;
  }
  return pixel_of_lab({lightness, 0, 0});
}

void fill_rect(Foto& out, int x0, int y0, int w, int h, const auto& colour_at) {
  for (int y = std::max(0, y0); y < std::min(out.height(), y0 + h); ++y)
    for (int x = std::max(0, x0); x < std::min(out.width(), x0 + w); ++x) out.at(x, y) = colour_at(x, y);
}

/// A bin as the chart shows it: its colour where tiles reach it, hatched
/// where they do not, the background where no colour lies.
void draw_bin(Foto& out, int x0, int y0, int w, int h, double covered, std::uint32_t colour) {
  if (covered < 0) return;
  const std::uint32_t faint = mix(colour, kChartBackground, 0.6);
  fill_rect(out, x0, y0, w, h, [&](int x, int y) {
    if (covered >= 0.5) return colour;
    return ((x + y) / 3) % 2 == 0 ? faint : kChartBackground;
  });
}

void draw_dot(Foto& out, int cx, int cy) {
  fill_rect(out, cx - 1, cy - 1, 3, 3, [](int, int) { return make_pixel(0, 0, 0); });
  if (cx >= 0 && cy >= 0 && cx < out.width() && cy < out.height()) out.at(cx, cy) = make_pixel(255, 255, 255);
}

std::string escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string css_colour(std::uint32_t pixel) {
  return format("#%02x%02x%02x", pixel_red(pixel), pixel_green(pixel), pixel_blue(pixel));
}

std::string percent(double share) { return format("%.1f %%", share * 100.0); }

std::string swatch(std::uint32_t pixel) {
  return format("<span class=\"swatch\" style=\"background:%s\"></span>", css_colour(pixel));
}

/// Whether the file at `path` is a page an earlier report wrote.
bool is_report_page(const fs::path& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::string head(4096, '\0');
  head.resize(std::fread(head.data(), 1, head.size(), file));
  std::fclose(file);
  return head.find(kPageMark) != std::string::npos;
}

}  // namespace

std::uint32_t heat_colour(double delta) {
  if (!std::isfinite(delta)) return make_pixel(200, 40, 200);
  struct Stop {
    double delta;
    std::uint32_t colour;
  };
  static constexpr std::array<Stop, 5> kStops = {{{0, make_pixel(40, 160, 70)},
                                                  {5, make_pixel(140, 200, 60)},
                                                  {kGapDeltaE, make_pixel(245, 215, 40)},
                                                  {20, make_pixel(240, 110, 30)},
                                                  {35, make_pixel(190, 20, 30)}}};
  if (delta <= 0) return kStops.front().colour;
  for (std::size_t i = 1; i < kStops.size(); ++i)
    if (delta <= kStops[i].delta) {
      const double t = (delta - kStops[i - 1].delta) / (kStops[i].delta - kStops[i - 1].delta);
      return mix(kStops[i].colour, kStops[i - 1].colour, t);
    }
  return kStops.back().colour;
}

bool draw_coverage_chart(const ListCoverage& coverage, Foto& out, Prompt& prompt) {
  if (!out.allocate_fill(kChartWidth, kChartHeight, kChartBackground).ok_or_show(prompt)) return false;
  for (int row = 0; row < ListCoverage::kLightnessBins; ++row) {
    const double lightness = 100.0 - (row + 0.5) * 100.0 / ListCoverage::kLightnessBins;
    for (int column = 0; column < ListCoverage::kHueBins; ++column) {
      const double hue = (column + 0.5) * 360.0 / ListCoverage::kHueBins;
      draw_bin(out, column * kBinWidth, row * kBinHeight, kBinWidth, kBinHeight,
               coverage.chart[static_cast<std::size_t>(row * ListCoverage::kHueBins + column)],
               bin_colour(hue, lightness));
    }
    draw_bin(out, kChartWidth - kGreyWidth, row * kBinHeight, kGreyWidth, kBinHeight,
             coverage.greys[static_cast<std::size_t>(row)], pixel_of_lab({lightness, 0, 0}));
  }
  for (const LabColour& tile : coverage.tiles) {
    const int y = static_cast<int>((100.0 - tile.lightness) / 100.0 * kChartHeight);
    const int x = chroma(tile) < ListCoverage::kGreyChroma
                      ? kChartWidth - kGreyWidth / 2
                      : static_cast<int>(hue_degrees(tile) / 360.0 * ListCoverage::kHueBins * kBinWidth);
    draw_dot(out, x, y);
  }
  return true;
}

bool draw_heat_map(const ImageGaps& gaps, const Foto& image, Foto& out, Prompt& prompt, int longest_side) {
  if (image.empty()) return false;
  const double scale = std::min(1.0, double(longest_side) / std::max(image.width(), image.height()));
  const int width = std::max(1, static_cast<int>(std::lround(image.width() * scale)));
  const int height = std::max(1, static_cast<int>(std::lround(image.height() * scale)));
  if (!image.resample(width, height, 0, 0, 0, 0, out).ok_or_show(prompt)) return false;
  // The picture in dim grey, so the tint reads as distance and the shapes
  // still show where it lies.
  std::vector<std::uint8_t> grey(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const std::uint32_t p = out.at(x, y);
      const auto g = static_cast<std::uint8_t>((30 * pixel_red(p) + 59 * pixel_green(p) + 11 * pixel_blue(p)) / 100);
      grey[static_cast<std::size_t>(y) * width + x] = g;
      out.at(x, y) = make_pixel(g * 3 / 5, g * 3 / 5, g * 3 / 5);
    }
  for (const GapCell& cell : gaps.cells) {
    const int x0 = static_cast<int>(std::lround(cell.x * scale));
    const int y0 = static_cast<int>(std::lround(cell.y * scale));
    const int x1 = static_cast<int>(std::lround((cell.x + cell.width) * scale));
    const int y1 = static_cast<int>(std::lround((cell.y + cell.height) * scale));
    const std::uint32_t heat = heat_colour(cell.best);
    const bool edges = x1 - x0 >= 6 && y1 - y0 >= 6;
    fill_rect(out, x0, y0, x1 - x0, y1 - y0, [&](int x, int y) {
      const std::uint8_t g = grey[static_cast<std::size_t>(y) * width + x];
      const std::uint32_t tinted = mix(heat, make_pixel(g, g, g), 0.65);
      return edges && (x == x0 || y == y0) ? mix(tinted, 0, 0.7) : tinted;
    });
  }
  return true;
}

std::string gap_report_page(const GapReport& report, bool heat_map) {
  const ListCoverage& coverage = report.coverage;
  const std::string list_name = fs::path(report.list_file).filename().string();
  std::string page = "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n";
  page += std::string(kPageMark) + "\n";
  page += "<title>" + escaped(format(tr("Gap Report of %s"), list_name)) + "</title>\n";
  page +=
      "<style>body{font-family:sans-serif;margin:2em;max-width:60em}"
      ".swatch{display:inline-block;width:3em;height:1.4em;border:1px solid #444;vertical-align:middle}"
      "td,th{padding:.2em .8em;text-align:left}img{max-width:100%;border:1px solid #888}</style>\n</head>\n<body>\n";
  page += "<h1>" + escaped(format(tr("Gap Report of %s"), list_name)) + "</h1>\n";
  page += "<p>" + escaped(report.list_file) + "</p>\n";

  // The list alone.
  page += "<h2>" + escaped(tr("Colour coverage")) + "</h2>\n<p>";
  page += escaped(format(tr("%lu distinct tile colours reach %s of all colours within ΔE %d."),
                         static_cast<unsigned long>(coverage.tile_colours), percent(coverage.covered_share),
                         static_cast<int>(kGapDeltaE)));
  page += "</p>\n<p><img src=\"" + std::string(kGapCoverageName) + "\" alt=\"" + escaped(tr("Colour coverage")) +
          "\"></p>\n<p>";
  page += escaped(tr("Hue across, lightness down, greys at the right. Hatched: no tile within reach. Dots: the "
                     "tiles' colours."));
  page += "</p>\n<h2>" + escaped(tr("Largest holes")) + "</h2>\n";
  if (coverage.holes.empty()) {
    page += "<p>" + escaped(tr("None: the tiles reach every colour.")) + "</p>\n";
  } else {
    page += "<table>\n<tr><th></th><th>" + escaped(tr("Colour")) + "</th><th>" + escaped(tr("Share of all colours")) +
            "</th></tr>\n";
    for (const ColourHole& hole : coverage.holes)
      page += "<tr><td>" + swatch(hole.swatch) + "</td><td>" + escaped(tr(hole.name)) + "</td><td>" +
              escaped(percent(hole.share)) + "</td></tr>\n";
    page += "</table>\n";
  }

  // The list against the main image.
  if (report.image_gaps) {
    const ImageGaps& gaps = *report.image_gaps;
    page += "<h2>" + escaped(format(tr("Against the main image %s"), fs::path(report.main_image).filename().string())) +
            "</h2>\n<p>";
    page += escaped(format(tr("Share of the image no tile matches within ΔE %d: %s"), static_cast<int>(kGapDeltaE),
                           percent(gaps.unmatched_share)));
    page += "<br>" + escaped(format(tr("Mean distance to the nearest tile: ΔE %.1f"), gaps.mean_delta));
    page += "</p>\n";
    if (heat_map) {
      page += "<p><img src=\"" + std::string(kGapHeatMapName) + "\" alt=\"" + escaped(tr("Heat map")) + "\"></p>\n<p>";
      for (const double delta : {0.0, 5.0, kGapDeltaE, 20.0, 35.0})
        page += swatch(heat_colour(delta)) + " " + escaped(format("ΔE %d", static_cast<int>(delta))) + " &nbsp; ";
      page += swatch(heat_colour(kNoTileDelta)) + " " + escaped(tr("no tile may fill the cell")) + "</p>\n";
    }
    page += "<h2>" + escaped(tr("Colours to add")) + "</h2>\n";
    if (gaps.to_add.empty()) {
      page += "<p>" + escaped(tr("None: the tiles match every cell.")) + "</p>\n";
    } else {
      page += "<table>\n<tr><th></th><th>" + escaped(tr("Colour")) + "</th><th>" +
              escaped(tr("Share of the image it would match")) + "</th></tr>\n";
      for (const ColourToAdd& add : gaps.to_add)
        page += "<tr><td>" + swatch(add.swatch) + "</td><td>" + escaped(tr(add.name)) + "</td><td>" +
                escaped(percent(add.share)) + "</td></tr>\n";
      page += "</table>\n";
    }
  }
  page += "<p><small>" +
          escaped(tr("ΔE: the CIE 1976 colour difference between whole-picture colours, before any colour change.")) +
          "</small></p>\n</body>\n</html>\n";
  return page;
}

fs::path default_gap_report_folder(const std::string& list_file) {
  fs::path list(list_file);
  return list.parent_path() / (list.stem().string() + " gaps");
}

bool write_gap_report(const GapReport& report, const Foto* image, const fs::path& folder, Prompt& prompt) {
  // 1. The folder, and nobody else's files under our names.
  std::error_code error;
  fs::create_directories(folder, error);
  if (!fs::is_directory(folder, error)) {
    prompt.message(format(tr("Unable to create the folder '%s'"), folder.string()), Icon::error);
    return false;
  }
  const fs::path page_path = folder / kGapPageName;
  const bool ours = is_report_page(page_path);
  for (const char* name : {kGapPageName, kGapCoverageName, kGapHeatMapName}) {
    if (!ours && fs::exists(folder / name, error)) {
      prompt.message(format(tr("The folder '%s' already holds a file '%s' that no gap report wrote: choose another "
                               "folder."),
                            folder.string(), std::string(name)),
                     Icon::error);
      return false;
    }
  }

  // 2. The pictures, then the page that shows them.
  Foto chart;
  if (!draw_coverage_chart(report.coverage, chart, prompt) ||
      !write_png_picture(chart, folder / kGapCoverageName, prompt))
    return false;
  const bool heat_map = report.image_gaps && image != nullptr;
  if (heat_map) {
    Foto heat;
    if (!draw_heat_map(*report.image_gaps, *image, heat, prompt) ||
        !write_png_picture(heat, folder / kGapHeatMapName, prompt))
      return false;
  } else if (ours) {
    // An earlier report's heat map would not belong to this one.
    fs::remove(folder / kGapHeatMapName, error);
  }
  if (!write_file_atomically(page_path, gap_report_page(report, heat_map))) {
    prompt.message(format(tr("Unable to save file '%s'"), page_path.string()), Icon::error);
    return false;
  }
  return true;
}

}  // namespace tess
