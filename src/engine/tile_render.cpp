#include "engine/tile_render.hpp"

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>
#include <vector>

#include "base/prompt.hpp"
#include "base/text.hpp"

namespace tess {
namespace {

/// Whether a picture's file still has the size it had when the list analysed
/// it. Entries never analysed (no size stored) are taken as they are.
bool unchanged_since_analysis(const FotoInfo& tile) {
  if (tile.file_size == kNewEntryFileSize) return true;
  std::int64_t modification_time = 0;
  std::int32_t file_size = 0;
  return read_file_state(tile.path, modification_time, file_size) && file_size == tile.file_size;
}

/// Bilinear weights of the local blend are fixed-point with this many bits,
/// so that four fully opaque neighbours always add up to exactly 255.
constexpr int kWeightBits = 12;
constexpr std::int64_t kWeightOne = std::int64_t{1} << kWeightBits;

bool is_quarter_turn(int variant) { return variant >= kVariantCodeQuarterA && variant <= kVariantCodeQuarterMirrored; }

/// One axis of the blend's sampling: the two neighbouring samples a picture
/// column (or row) reads and the weight of the second one.
struct BlendTap {
  int first = 0;
  int second = 0;
  std::int64_t weight = 0;  ///< of `second`, in 1/kWeightOne
};

/// Taps for `count` picture pixels spread over the span [start, start +
/// extent) of a sample axis `samples` long. Pixel i is sampled at the centre
/// of its share of the span; sample centres lie at +0.5.
void build_blend_taps(int count, double start, double extent, int samples, std::vector<BlendTap>& taps) {
  taps.resize(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const double position = start + (i + 0.5) * extent / count - 0.5;
    const double base = std::floor(position);
    BlendTap& tap = taps[static_cast<std::size_t>(i)];
    const int index = static_cast<int>(base);
    tap.first = std::clamp(index, 0, samples - 1);
    tap.second = std::clamp(index + 1, 0, samples - 1);
    tap.weight = std::llround((position - base) * static_cast<double>(kWeightOne));
  }
}

/// A sample of the blend: opacity and opacity-weighted colour.
struct Sample {
  std::int64_t opacity;
  std::int64_t red, green, blue;
};

/// A row's mix of two sample rows when every sample is opaque: opacity 255
/// in weights that add up to kWeightOne.
constexpr std::int64_t kOpaqueRow = 255 * kWeightOne;

/// Blends one picture row toward a row of samples that are all opaque. Every
/// pixel then sees full opacity, so it is pulled by the whole `amount`, and
/// the colour sums are whole multiples of 255: dividing them first gives the
/// very integers of the general blend with narrower arithmetic.
void blend_opaque_row(std::uint32_t* line, int width, const std::vector<BlendTap>& columns,
                      const std::vector<Sample>& mixed, std::vector<Sample>& plain, int amount) {
  for (std::size_t c = 0; c < mixed.size(); ++c)
    plain[c] = {kWeightOne, mixed[c].red / 255, mixed[c].green / 255, mixed[c].blue / 255};
  const auto pull = static_cast<std::uint32_t>(amount);
  const std::uint32_t keep = 255 - pull;
  for (int x = 0; x < width; ++x) {
    const BlendTap& tx = columns[static_cast<std::size_t>(x)];
    const std::int64_t wx1 = tx.weight;
    const std::int64_t wx0 = kWeightOne - wx1;
    const Sample& s0 = plain[static_cast<std::size_t>(tx.first)];
    const Sample& s1 = plain[static_cast<std::size_t>(tx.second)];
    const auto cr = static_cast<std::uint32_t>((wx0 * s0.red + wx1 * s1.red) >> (2 * kWeightBits));
    const auto cg = static_cast<std::uint32_t>((wx0 * s0.green + wx1 * s1.green) >> (2 * kWeightBits));
    const auto cb = static_cast<std::uint32_t>((wx0 * s0.blue + wx1 * s1.blue) >> (2 * kWeightBits));
    const std::uint32_t v = line[x];
    line[x] = make_pixel((pixel_red(v) * keep + pull * cr) / 255, (pixel_green(v) * keep + pull * cg) / 255,
                         (pixel_blue(v) * keep + pull * cb) / 255, pixel_transparency(v));
  }
}

/// Re-indexes a picture W wide and H high into the H × W picture of a
/// quarter-turn variant. Destination row R reads source column R (codes 5
/// and 7) or W − 1 − R (6 and 8); destination column C reads source row
/// H − 1 − C (5 and 8) or C (6 and 7).
Status turn_quarter(const Foto& source, int variant, Foto& out) {
  const int w = source.width();
  const int h = source.height();
  Foto turned;
  if (Status status = turned.allocate(h, w); !status) return status;
  const bool columns_reversed = variant == kVariantCodeQuarterB || variant == kVariantCodeQuarterMirrored;
  const bool rows_reversed = variant == kVariantCodeQuarterA || variant == kVariantCodeQuarterMirrored;
  const std::uint32_t* pixels = source.pixels();
  const std::ptrdiff_t stride = w;
  for (int row = 0; row < w; ++row) {
    const int column = columns_reversed ? w - 1 - row : row;
    std::uint32_t* target = turned.row(row);
    if (rows_reversed) {
      const std::uint32_t* from = pixels + static_cast<std::ptrdiff_t>(h - 1) * stride + column;
      for (int c = 0; c < h; ++c, from -= stride) target[c] = *from;
    } else {
      const std::uint32_t* from = pixels + column;
      for (int c = 0; c < h; ++c, from += stride) target[c] = *from;
    }
  }
  out = std::move(turned);
  return {};
}

}  // namespace

// --- steps -------------------------------------------------------------------

CropRect centred_crop(int width, int height, int aspect_w, int aspect_h) {
  CropRect crop{0, 0, width, height};
  if (width <= 0 || height <= 0 || aspect_w <= 0 || aspect_h <= 0) return crop;
  const std::int64_t w = width;
  const std::int64_t h = height;
  if (w * aspect_h >= h * aspect_w) {
    // The picture is wider than the cell: full height, the sides cut away.
    crop.width = static_cast<int>(std::clamp<std::int64_t>(h * aspect_w / aspect_h, 1, w));
  } else {
    crop.height = static_cast<int>(std::clamp<std::int64_t>(w * aspect_h / aspect_w, 1, h));
  }
  crop.x = (width - crop.width) / 2;
  crop.y = (height - crop.height) / 2;
  return crop;
}

Status draw_tile_variant(const Foto& picture, int variant, int width, int height, Foto& out) {
  if (variant < kVariantCodeAsIs || variant > kVariantCodeQuarterMirrored) variant = kVariantCodeAsIs;
  if (picture.empty() || width <= 0 || height <= 0) {
    out.clear();
    return Status::refused();
  }
  // Quarter turns are drawn from a picture of the turned proportions, so
  // that after the turn it has the cell's size.
  const bool turned = is_quarter_turn(variant);
  const int scaled_w = turned ? height : width;
  const int scaled_h = turned ? width : height;
  const CropRect crop = centred_crop(picture.width(), picture.height(), scaled_w, scaled_h);
  Foto scaled;
  if (Status status = picture.resample(scaled_w, scaled_h, crop.x, crop.y, crop.width, crop.height, scaled); !status) {
    out.clear();
    return status;
  }
  switch (variant) {
    case kVariantCodeMirrored:
      scaled.mirror();
      break;
    case kVariantCodeFlipped:
      scaled.flip();
      break;
    case kVariantCodeTurned180:
      scaled.mirror();
      scaled.flip();
      break;
    default:
      break;
  }
  if (turned) {
    Status status = turn_quarter(scaled, variant, out);
    if (!status) out.clear();
    return status;
  }
  out = std::move(scaled);
  return {};
}

bool mean_colour(const Foto& picture, const Foto* shape, std::array<float, 3>& mean) {
  if (picture.empty() || (shape != nullptr && shape->pixel_count() != picture.pixel_count())) return false;
  // Whole-number sums: exact and independent of the order pixels come in.
  std::array<std::uint64_t, 3> sum{};
  std::uint64_t count = 0;
  const std::uint32_t* p = picture.pixels();
  const std::uint32_t* m = shape != nullptr ? shape->pixels() : nullptr;
  for (std::size_t i = 0, n = picture.pixel_count(); i < n; ++i) {
    if (m != nullptr && pixel_transparency(m[i]) == 255) continue;
    const std::uint32_t v = p[i];
    sum[0] += pixel_red(v);
    sum[1] += pixel_green(v);
    sum[2] += pixel_blue(v);
    ++count;
  }
  if (count == 0) return false;
  for (std::size_t c = 0; c < 3; ++c)
    mean[c] = static_cast<float>(static_cast<double>(sum[c]) / static_cast<double>(count));
  return true;
}

void apply_colour_shift(Foto& picture, const std::array<int, 3>& shift) {
  if (picture.empty() || (shift[0] == 0 && shift[1] == 0 && shift[2] == 0)) return;
  // One clamp table per channel: the pixel loop is three lookups.
  std::array<std::array<std::uint32_t, 256>, 3> table;
  for (std::size_t c = 0; c < 3; ++c) {
    for (int v = 0; v < 256; ++v) {
      table[c][static_cast<std::size_t>(v)] = static_cast<std::uint32_t>(std::clamp(v + shift[c], 0, 255))
                                              << (8 * c);
    }
  }
  std::uint32_t* p = picture.pixels();
  std::uint32_t* const end = p + picture.pixel_count();
  for (; p != end; ++p) {
    const std::uint32_t v = *p;
    *p = (v & 0xFF000000u) | table[0][pixel_red(v)] | table[1][pixel_green(v)] | table[2][pixel_blue(v)];
  }
}

bool blend_toward_cell(Foto& picture, const TileSignature& cell, int amount) {
  const int a = std::min(amount, 255);
  if (picture.empty() || a <= 0) return true;
  // The cell's fine samples as a small picture in the cell's own frame.
  Foto samples;
  if (!cell.thumbnail(samples)) return false;
  const int sw = samples.width();
  const int sh = samples.height();
  const int w = picture.width();
  const int h = picture.height();

  // The cell was analysed scaled to fit the sample grid, padded with empty
  // samples: only the part of the grid of the picture's proportions holds it.
  double crop_x = 0, crop_y = 0, crop_w = sw, crop_h = sh;
  if (static_cast<std::int64_t>(sw) * h >= static_cast<std::int64_t>(sh) * w) {
    crop_w = static_cast<double>(sh) * w / h;
    crop_x = (sw - crop_w) / 2;
  } else {
    crop_h = static_cast<double>(sw) * h / w;
    crop_y = (sh - crop_h) / 2;
  }

  // Opacity and opacity-weighted colour of every sample, ready to be interpolated.
  std::vector<Sample> weighted, mixed, plain;
  std::vector<BlendTap> columns, rows;
  try {
    weighted.resize(samples.pixel_count());
    mixed.resize(static_cast<std::size_t>(sw));
    plain.resize(static_cast<std::size_t>(sw));
    build_blend_taps(w, crop_x, crop_w, sw, columns);
    build_blend_taps(h, crop_y, crop_h, sh, rows);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (std::size_t i = 0; i < weighted.size(); ++i) {
    const std::uint32_t v = samples.pixels()[i];
    const std::int64_t opacity = 255 - static_cast<std::int64_t>(pixel_transparency(v));
    weighted[i] = {opacity, opacity * pixel_red(v), opacity * pixel_green(v), opacity * pixel_blue(v)};
  }

  // Bilinear weights are separable: each row first mixes its two sample rows
  // once per sample column, and each pixel then mixes two of those. The sums
  // are the same integers as the four-neighbour sums.
  constexpr std::int64_t kFullyOpaque = std::int64_t{255} << (2 * kWeightBits);
  for (int y = 0; y < h; ++y) {
    const BlendTap& ty = rows[static_cast<std::size_t>(y)];
    const Sample* row0 = weighted.data() + static_cast<std::ptrdiff_t>(ty.first) * sw;
    const Sample* row1 = weighted.data() + static_cast<std::ptrdiff_t>(ty.second) * sw;
    const std::int64_t wy1 = ty.weight;
    const std::int64_t wy0 = kWeightOne - wy1;
    for (int c = 0; c < sw; ++c) {
      mixed[static_cast<std::size_t>(c)] = {wy0 * row0[c].opacity + wy1 * row1[c].opacity,
                                            wy0 * row0[c].red + wy1 * row1[c].red,
                                            wy0 * row0[c].green + wy1 * row1[c].green,
                                            wy0 * row0[c].blue + wy1 * row1[c].blue};
    }
    std::uint32_t* line = picture.row(y);
    if (std::all_of(mixed.begin(), mixed.end(), [](const Sample& s) { return s.opacity == kOpaqueRow; })) {
      blend_opaque_row(line, w, columns, mixed, plain, a);
      continue;
    }
    for (int x = 0; x < w; ++x) {
      const BlendTap& tx = columns[static_cast<std::size_t>(x)];
      const std::int64_t wx1 = tx.weight;
      const std::int64_t wx0 = kWeightOne - wx1;
      const Sample& s0 = mixed[static_cast<std::size_t>(tx.first)];
      const Sample& s1 = mixed[static_cast<std::size_t>(tx.second)];
      const std::int64_t u = wx0 * s0.opacity + wx1 * s1.opacity;
      // ⌊u⌋·a/255: a cell that is transparent here (u = 0) pulls nothing.
      const std::int64_t d = (u >> (2 * kWeightBits)) * a / 255;
      if (d <= 0) continue;
      std::int64_t cr = wx0 * s0.red + wx1 * s1.red;
      std::int64_t cg = wx0 * s0.green + wx1 * s1.green;
      std::int64_t cb = wx0 * s0.blue + wx1 * s1.blue;
      if (u == kFullyOpaque) {
        // Sums of 255 × colour over 255 × one: the division is a shift.
        cr = cr / 255 >> (2 * kWeightBits);
        cg = cg / 255 >> (2 * kWeightBits);
        cb = cb / 255 >> (2 * kWeightBits);
      } else {
        cr /= u;
        cg /= u;
        cb /= u;
      }
      const std::uint32_t v = line[x];
      const std::int64_t keep = 255 - d;
      const auto r = static_cast<std::uint32_t>((pixel_red(v) * keep + d * cr) / 255);
      const auto g = static_cast<std::uint32_t>((pixel_green(v) * keep + d * cg) / 255);
      const auto b = static_cast<std::uint32_t>((pixel_blue(v) * keep + d * cb) / 255);
      line[x] = make_pixel(r, g, b, pixel_transparency(v));
    }
  }
  return true;
}

// --- TileRenderer --------------------------------------------------------------

TileRenderer::TileRenderer(const ScoreTables& tables, bool black_and_white, Prompt& report,
                           TileFrameLoader frame_loader)
    : m_tables(&tables), m_black_and_white(black_and_white), m_report(report), m_frame_loader(std::move(frame_loader)) {}

std::uint8_t TileRenderer::variant_for(const TileSignature& cell, const TileSignature& tile) const {
  // The priority only scales the score, never the winner: the neutral one will do.
  const TileScore result = score_tile(*m_tables, cell, kNeutralPriority, tile);
  return result.variant == kVariantCodeNone ? std::uint8_t{kVariantCodeAsIs} : result.variant;
}

bool TileRenderer::render(const TileSignature& cell, const Foto& picture, const TileSignature& tile, int width,
                          int height, std::uint8_t variant, const Foto* shape, Foto* release, Foto& out,
                          TileRenderRecord& record) const {
  record = TileRenderRecord{};
  // 1-3. Crop to the cell's proportions, resample and turn.
  Foto drawn;
  const bool drawn_ok = draw_tile_variant(picture, variant, width, height, drawn).ok_or_show(m_report);
  if (release != nullptr) release->clear();
  if (!drawn_ok) {
    out.clear();
    return false;
  }

  // The tile's own colour, before anything moves it toward the cell.
  const bool measured = mean_colour(drawn, shape, record.mean_before);

  // 4. Uniform shift toward the cell's overall colour.
  std::array<int, 3> shift{0, 0, 0};
  if (const int limit = m_tables->tile_colour_limit(); limit > 0) {
    shift = tile_colour_shift(cell.overall(), tile.overall(), limit);
    apply_colour_shift(drawn, shift);
  }

  // 5. Local blend toward the cell's own colours.
  if (const int amount = m_tables->detail_colour_limit(); amount > 0) {
    if (!blend_toward_cell(drawn, cell, amount)) {
      out.clear();
      return false;
    }
  }

  // 6. What was done, for the report and the web output.
  for (std::size_t c = 0; c < 3; ++c) record.shift[c] = static_cast<std::int16_t>(shift[c]);
  record.variant = variant;
  record.cell_portrait = height > width ? 1 : 0;
  record.tile_portrait = tile.portrait != 0 ? 1 : 0;
  // Without any colour change the tile is drawn as it was: no second pass.
  record.mean_after = record.mean_before;
  const bool changed = shift != std::array<int, 3>{0, 0, 0} || m_tables->detail_colour_limit() > 0;
  record.measured = measured && (!changed || mean_colour(drawn, shape, record.mean_after)) ? 1 : 0;
  out = std::move(drawn);
  return true;
}

bool TileRenderer::render_tile(const TileSignature& cell, const Foto& picture, const TileSignature& tile, int width,
                               int height, Foto& out, TileRenderRecord& record) const {
  return render(cell, picture, tile, width, height, variant_for(cell, tile), nullptr, nullptr, out, record);
}

bool TileRenderer::render_tile_in_place(const TileSignature& cell, Foto& picture, const TileSignature& tile,
                                        int width, int height, TileRenderRecord& record) const {
  Foto result;
  const bool ok = render(cell, picture, tile, width, height, variant_for(cell, tile), nullptr, &picture, result, record);
  picture = std::move(result);
  return ok;
}

bool TileRenderer::load_tile(const PuzzleInfo& cell, Foto& picture, std::string& message) const {
  message.clear();
  picture.clear();
  if (cell.tile == nullptr || cell.width <= 0 || cell.height <= 0) return false;
  return load_sized(cell, variant_for(cell.signature, cell.tile->signature), picture, message);
}

bool TileRenderer::load_sized(const PuzzleInfo& cell, std::uint8_t variant, Foto& picture,
                              std::string& message) const {
  const FotoInfo& tile = *cell.tile;
  // A tile drawn with a quarter turn needs the cell's size turned.
  const bool turned = is_quarter_turn(variant);
  const int max_w = turned ? cell.height : cell.width;
  const int max_h = turned ? cell.width : cell.height;
  bool loaded = false;
  if (tile.is_video()) {
    loaded = m_frame_loader && m_frame_loader(tile, max_w, max_h, picture) && !picture.empty();
  } else {
    // A tile that fails is counted and reported once the run is over. So is
    // one whose file changed size since the list was analysed: it holds
    // another picture than the one placed for its colours.
    loaded = unchanged_since_analysis(tile) && picture.load(tile.path, max_w, max_h);
  }
  if (!loaded) {
    picture.clear();
    message = tr("Unable to load JPG File: ") + tile.path;
    return false;
  }
  if (m_black_and_white) picture.to_greyscale();
  return true;
}

bool TileRenderer::render_loaded(const PuzzleInfo& cell, std::uint8_t variant, const Foto& picture, Foto* release,
                                 Foto& out, TileRenderRecord& record) const {
  const Foto* shape = cell.has_shape() ? &cell.shape : nullptr;
  if (!render(cell.signature, picture, cell.tile->signature, cell.width, cell.height, variant, shape, release, out,
              record))
    return false;
  // Mask cells keep only their own shape; everything else becomes transparent.
  if (cell.has_shape() && !out.apply_mask(cell.shape)) {
    out.clear();
    record = TileRenderRecord{};
    return false;
  }
  return true;
}

bool TileRenderer::render_cell(const PuzzleInfo& cell, const Foto& picture, Foto& out,
                               TileRenderRecord& record) const {
  record = TileRenderRecord{};
  if (cell.tile == nullptr || cell.width <= 0 || cell.height <= 0) {
    out.clear();
    return false;
  }
  return render_loaded(cell, variant_for(cell.signature, cell.tile->signature), picture, nullptr, out, record);
}

bool TileRenderer::render_cell(const PuzzleInfo& cell, Foto& out, TileRenderRecord& record,
                               std::string& message) const {
  out.clear();
  record = TileRenderRecord{};
  message.clear();
  // 1. No tile: nothing to draw, the gap colour stays.
  if (cell.tile == nullptr || cell.width <= 0 || cell.height <= 0) return false;
  // 2-3. The picture at the size the cell needs, grey for a black-and-white list.
  const std::uint8_t variant = variant_for(cell.signature, cell.tile->signature);
  Foto picture;
  if (!load_sized(cell, variant, picture, message)) return false;
  // 4-5. Drawn into the cell (the picture is freed once resampled) and cut to its shape.
  return render_loaded(cell, variant, picture, &picture, out, record);
}

}  // namespace tess
