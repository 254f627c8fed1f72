#include "tilelist/colour_gaps.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>

#include "base/text.hpp"
#include "images/foto.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {
namespace {

struct NamedColour {
  const char* name;
  std::uint32_t reference;
};

// Few enough names that each is a word a person would use for a photo.
constexpr NamedColour kNamedColours[] = {
    {N_("black"), make_pixel(12, 12, 12)},          {N_("dark grey"), make_pixel(70, 70, 70)},
    {N_("grey"), make_pixel(128, 128, 128)},        {N_("light grey"), make_pixel(192, 192, 192)},
    {N_("white"), make_pixel(248, 248, 248)},       {N_("dark red"), make_pixel(120, 14, 20)},
    {N_("red"), make_pixel(215, 35, 35)},           {N_("light red"), make_pixel(240, 125, 115)},
    {N_("orange"), make_pixel(240, 135, 25)},       {N_("light orange"), make_pixel(250, 190, 120)},
    {N_("dark brown"), make_pixel(70, 42, 22)},     {N_("brown"), make_pixel(135, 82, 40)},
    {N_("beige"), make_pixel(205, 180, 140)},       {N_("dark yellow"), make_pixel(140, 125, 20)},
    {N_("yellow"), make_pixel(240, 215, 30)},       {N_("light yellow"), make_pixel(250, 240, 150)},
    {N_("dark green"), make_pixel(20, 85, 30)},     {N_("green"), make_pixel(45, 170, 55)},
    {N_("light green"), make_pixel(150, 225, 130)}, {N_("dark teal"), make_pixel(10, 75, 80)},
    {N_("teal"), make_pixel(20, 145, 145)},         {N_("light teal"), make_pixel(120, 215, 205)},
    {N_("dark blue"), make_pixel(20, 30, 115)},     {N_("blue"), make_pixel(40, 95, 220)},
    {N_("light blue"), make_pixel(135, 185, 240)},  {N_("dark purple"), make_pixel(65, 20, 85)},
    {N_("purple"), make_pixel(130, 50, 175)},       {N_("light purple"), make_pixel(195, 155, 225)},
    {N_("dark pink"), make_pixel(155, 25, 90)},     {N_("pink"), make_pixel(235, 95, 170)},
    {N_("light pink"), make_pixel(248, 185, 212)},
};

const std::vector<LabColour>& named_colour_labs() {
  static const std::vector<LabColour> labs = [] {
    std::vector<LabColour> v;
    for (const NamedColour& named : kNamedColours) v.push_back(lab_of_pixel(named.reference));
    return v;
  }();
  return labs;
}

std::size_t colour_name_index(const LabColour& colour) {
  const auto& labs = named_colour_labs();
  std::size_t best = 0;
  double best_distance = kNoTileDelta;
  for (std::size_t i = 0; i < labs.size(); ++i) {
    const double d = delta_e76(colour, labs[i]);
    if (d < best_distance) {
      best_distance = d;
      best = i;
    }
  }
  return best;
}

// The index's buckets: cubes of kBucketSide ΔE over every colour sRGB holds
// (L 0..100, a and b well inside -130..130).
constexpr double kBucketSide = 10.0;
constexpr double kLowLightness = 0.0;
constexpr double kLowAB = -130.0;
constexpr int kLightnessBuckets = 11;
constexpr int kABBuckets = 26;

/// Every sRGB colour on a grid of this many levels a channel stands for the
/// colour space when shares of it are counted.
constexpr int kSpaceLevels = 24;

LabColour mean_of(const std::vector<LabColour>& colours, const std::vector<double>& weights) {
  LabColour sum;
  double total = 0;
  for (std::size_t i = 0; i < colours.size(); ++i) {
    sum.lightness += colours[i].lightness * weights[i];
    sum.a += colours[i].a * weights[i];
    sum.b += colours[i].b * weights[i];
    total += weights[i];
  }
  if (total > 0) sum = {sum.lightness / total, sum.a / total, sum.b / total};
  return sum;
}

}  // namespace

const char* colour_name(const LabColour& colour) { return kNamedColours[colour_name_index(colour)].name; }

std::vector<const char*> colour_names() {
  std::vector<const char*> names;
  for (const NamedColour& named : kNamedColours) names.push_back(named.name);
  return names;
}

// --- ColourIndex -----------------------------------------------------------------

int ColourIndex::bucket_of(double value, double low, int count) {
  const int i = static_cast<int>(std::floor((value - low) / kBucketSide));
  return std::clamp(i, 0, count - 1);
}

std::size_t ColourIndex::bucket_index(int l, int a, int b) const {
  return (static_cast<std::size_t>(l) * kABBuckets + static_cast<std::size_t>(a)) * kABBuckets +
         static_cast<std::size_t>(b);
}

ColourIndex::ColourIndex(std::vector<LabColour> colours) {
  const std::size_t buckets = static_cast<std::size_t>(kLightnessBuckets) * kABBuckets * kABBuckets;
  const auto index_of = [this](const LabColour& c) {
    return bucket_index(bucket_of(c.lightness, kLowLightness, kLightnessBuckets), bucket_of(c.a, kLowAB, kABBuckets),
                        bucket_of(c.b, kLowAB, kABBuckets));
  };
  m_offsets.assign(buckets + 1, 0);
  for (const LabColour& c : colours) ++m_offsets[index_of(c) + 1];
  std::partial_sum(m_offsets.begin(), m_offsets.end(), m_offsets.begin());
  m_colours.resize(colours.size());
  std::vector<std::size_t> next(m_offsets.begin(), m_offsets.end() - 1);
  for (const LabColour& c : colours) m_colours[next[index_of(c)]++] = c;
}

double ColourIndex::nearest(const LabColour& colour) const {
  if (m_colours.empty()) return kNoTileDelta;
  const int l0 = bucket_of(colour.lightness, kLowLightness, kLightnessBuckets);
  const int a0 = bucket_of(colour.a, kLowAB, kABBuckets);
  const int b0 = bucket_of(colour.b, kLowAB, kABBuckets);
  // A colour outside the buckets' range was pulled into the edge bucket, so
  // the rings around it say nothing about distance: search them all.
  const bool inside = colour.lightness >= kLowLightness && colour.lightness < kLowLightness + kLightnessBuckets * kBucketSide &&
                      colour.a >= kLowAB && colour.a < kLowAB + kABBuckets * kBucketSide && colour.b >= kLowAB &&
                      colour.b < kLowAB + kABBuckets * kBucketSide;
  double best = kNoTileDelta;
  const int rings = std::max(kLightnessBuckets, kABBuckets);
  for (int r = 0; r < rings; ++r) {
    const auto search = [&](int l, int a, int b) {
      const std::size_t i = bucket_index(l, a, b);
      for (std::size_t k = m_offsets[i]; k < m_offsets[i + 1]; ++k) best = std::min(best, delta_e76(colour, m_colours[k]));
    };
    // Only the shell of this ring: the inside was searched before.
    for (int l = std::max(0, l0 - r); l <= std::min(kLightnessBuckets - 1, l0 + r); ++l)
      for (int a = std::max(0, a0 - r); a <= std::min(kABBuckets - 1, a0 + r); ++a) {
        if (std::abs(l - l0) == r || std::abs(a - a0) == r) {
          for (int b = std::max(0, b0 - r); b <= std::min(kABBuckets - 1, b0 + r); ++b) search(l, a, b);
        } else {
          if (b0 - r >= 0) search(l, a, b0 - r);
          if (r > 0 && b0 + r < kABBuckets) search(l, a, b0 + r);
        }
      }
    // Every colour of a later ring lies at least r bucket sides away.
    if (inside && best <= r * kBucketSide) break;
  }
  return best;
}

// --- the list alone --------------------------------------------------------------

std::vector<LabColour> list_colours(const TileImageList& list, TileShape shape) {
  std::vector<std::uint32_t> pixels;
  pixels.reserve(list.entry_count());
  for (const auto& [path, entry] : list.entries()) {
    if (shape == TileShape::landscape && entry.is_portrait()) continue;
    if (shape == TileShape::portrait && !entry.is_portrait()) continue;
    pixels.push_back(entry.signature.overall() & 0x00FFFFFFu);
  }
  std::sort(pixels.begin(), pixels.end());
  pixels.erase(std::unique(pixels.begin(), pixels.end()), pixels.end());
  std::vector<LabColour> colours;
  colours.reserve(pixels.size());
  for (std::uint32_t p : pixels) colours.push_back(lab_of_pixel(p));
  return colours;
}

ListCoverage analyse_list_coverage(const std::vector<LabColour>& tiles, std::size_t most_holes) {
  ListCoverage coverage;
  coverage.tile_colours = tiles.size();
  coverage.tiles = tiles;
  const ColourIndex index(tiles);

  // Every colour of the grid over sRGB: covered or not, counted in its chart
  // bin and, when uncovered, in the hole of its name.
  constexpr int kBins = ListCoverage::kHueBins * ListCoverage::kLightnessBins;
  std::array<int, kBins> bin_total{}, bin_covered{};
  std::array<int, ListCoverage::kLightnessBins> grey_total{}, grey_covered{};
  struct HoleSum {
    std::vector<LabColour> colours;
    double farthest = 0;
  };
  std::map<std::size_t, HoleSum> holes;
  int total = 0, covered = 0;
  for (int r = 0; r < kSpaceLevels; ++r)
    for (int g = 0; g < kSpaceLevels; ++g)
      for (int b = 0; b < kSpaceLevels; ++b) {
        const auto level = [](int i) { return static_cast<std::uint32_t>(i * 255 / (kSpaceLevels - 1)); };
        const LabColour colour = lab_of_pixel(make_pixel(level(r), level(g), level(b)));
        const double distance = index.nearest(colour);
        const bool reached = distance <= kGapDeltaE;
        ++total;
        covered += reached ? 1 : 0;
        const int row = std::clamp(static_cast<int>((100.0 - colour.lightness) / 100.0 * ListCoverage::kLightnessBins),
                                   0, ListCoverage::kLightnessBins - 1);
        if (chroma(colour) < ListCoverage::kGreyChroma) {
          ++grey_total[static_cast<std::size_t>(row)];
          grey_covered[static_cast<std::size_t>(row)] += reached ? 1 : 0;
        } else {
          const int column = std::min(static_cast<int>(hue_degrees(colour) / 360.0 * ListCoverage::kHueBins),
                                      ListCoverage::kHueBins - 1);
          const auto bin = static_cast<std::size_t>(row * ListCoverage::kHueBins + column);
          ++bin_total[bin];
          bin_covered[bin] += reached ? 1 : 0;
        }
        if (!reached) {
          HoleSum& hole = holes[colour_name_index(colour)];
          hole.colours.push_back(colour);
          hole.farthest = std::max(hole.farthest, distance);
        }
      }
  for (std::size_t i = 0; i < coverage.chart.size(); ++i)
    coverage.chart[i] = bin_total[i] == 0 ? -1.0 : double(bin_covered[i]) / bin_total[i];
  for (std::size_t i = 0; i < coverage.greys.size(); ++i)
    coverage.greys[i] = grey_total[i] == 0 ? -1.0 : double(grey_covered[i]) / grey_total[i];
  coverage.covered_share = double(covered) / total;

  // The holes by size: each one's swatch is the middle of its colours.
  for (const auto& [name, hole] : holes) {
    ColourHole out;
    out.name = kNamedColours[name].name;
    out.swatch = pixel_of_lab(mean_of(hole.colours, std::vector<double>(hole.colours.size(), 1.0)));
    out.share = double(hole.colours.size()) / total;
    out.farthest = hole.farthest;
    coverage.holes.push_back(out);
  }
  std::stable_sort(coverage.holes.begin(), coverage.holes.end(),
                   [](const ColourHole& x, const ColourHole& y) { return x.share > y.share; });
  if (coverage.holes.size() > most_holes) coverage.holes.resize(most_holes);
  return coverage;
}

// --- the list against a picture ------------------------------------------------------

ImageGaps match_cells(std::vector<GapCell> cells, const ColourIndex& landscape, const ColourIndex& portrait,
                      const ShapeRule& may_fill, std::size_t most) {
  ImageGaps gaps;
  // 1. Each cell's nearest tile among those that may fill it.
  double area = 0, unmatched = 0, fillable = 0, delta_sum = 0;
  for (GapCell& cell : cells) {
    cell.best = kNoTileDelta;
    if (may_fill(cell.portrait, false)) cell.best = std::min(cell.best, landscape.nearest(cell.colour));
    if (may_fill(cell.portrait, true)) cell.best = std::min(cell.best, portrait.nearest(cell.colour));
    const double a = cell.width * cell.height;
    area += a;
    if (cell.best > kGapDeltaE) unmatched += a;
    if (std::isfinite(cell.best)) {
      fillable += a;
      delta_sum += a * cell.best;
    }
  }
  if (area > 0) gaps.unmatched_share = unmatched / area;
  if (fillable > 0) gaps.mean_delta = delta_sum / fillable;

  // 2. The unmatched cells, gathered by colour (cubes of 4 ΔE, larger while
  // there are too many groups for step 3 to compare each with each), each
  // group with its area and the middle of its colours.
  constexpr std::size_t kMostGroups = 3000;
  std::map<std::array<int, 3>, std::pair<std::vector<LabColour>, std::vector<double>>> groups;
  for (double side = 4.0; groups.empty() || groups.size() > kMostGroups; side *= 2) {
    groups.clear();
    for (const GapCell& cell : cells) {
      if (cell.best <= kGapDeltaE) continue;
      const std::array<int, 3> key = {static_cast<int>(std::floor(cell.colour.lightness / side)),
                                      static_cast<int>(std::floor(cell.colour.a / side)),
                                      static_cast<int>(std::floor(cell.colour.b / side))};
      auto& [colours, weights] = groups[key];
      colours.push_back(cell.colour);
      weights.push_back(cell.width * cell.height);
    }
    if (groups.empty()) break;
  }
  struct Group {
    LabColour colour;
    double area;
  };
  std::vector<Group> left;
  for (const auto& [key, members] : groups)
    left.push_back({mean_of(members.first, members.second),
                    std::accumulate(members.second.begin(), members.second.end(), 0.0)});

  // 3. Greedily: the group colour that would match the most area still
  // unmatched, then the same for what is left.
  while (gaps.to_add.size() < most && !left.empty() && area > 0) {
    double best_gain = 0;
    std::size_t best = 0;
    for (std::size_t i = 0; i < left.size(); ++i) {
      double gain = 0;
      for (const Group& other : left)
        if (delta_e76(left[i].colour, other.colour) <= kGapDeltaE) gain += other.area;
      if (gain > best_gain) {
        best_gain = gain;
        best = i;
      }
    }
    const LabColour chosen = left[best].colour;
    gaps.to_add.push_back({colour_name(chosen), pixel_of_lab(chosen), best_gain / area});
    std::erase_if(left, [&](const Group& g) { return delta_e76(chosen, g.colour) <= kGapDeltaE; });
  }
  gaps.cells = std::move(cells);
  return gaps;
}

}  // namespace tess
