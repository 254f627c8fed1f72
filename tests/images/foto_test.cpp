#include "images/foto.hpp"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/scripted_prompt.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {


using Pixels = std::vector<std::uint32_t>;

Foto make_foto(int width, int height, const Pixels& pixels) {
  Foto foto;
  EXPECT_TRUE(foto.try_allocate(width, height));
  EXPECT_EQ(pixels.size(), foto.pixel_count());
  std::memcpy(foto.pixels(), pixels.data(), pixels.size() * sizeof(std::uint32_t));
  return foto;
}

Pixels pixels_of(const Foto& foto) {
  if (foto.empty()) return {};
  return Pixels(foto.pixels(), foto.pixels() + foto.pixel_count());
}

// Six distinct opaque pixels of a 3 x 2 picture, named as they sit:
//   a b c
//   d e f
constexpr std::uint32_t a = make_pixel(1, 10, 100), b = make_pixel(2, 20, 200), c = make_pixel(3, 30, 33),
                        d = make_pixel(4, 40, 44), e = make_pixel(5, 50, 55), f = make_pixel(6, 60, 66);

Foto abc_def() { return make_foto(3, 2, {a, b, c, d, e, f}); }

// A failed allocation hands its text back instead of showing it: the caller
// shows it once, and a request that was never possible shows nothing.
TEST(FotoAllocate, FailuresCarryTheirTextForTheCallerToShow) {
  Foto foto;
  const Status fine = foto.allocate(3, 2);
  EXPECT_TRUE(fine.ok());
  EXPECT_TRUE(fine.message().empty());

  const Status huge = foto.allocate(1000000, 1000000);
  renew_memory_reserve();  // the text was built as if memory had run out
  EXPECT_FALSE(huge.ok());
  EXPECT_TRUE(foto.empty());
  EXPECT_EQ(huge.message(), "Out Of Memory while allocating an Image made of 1000000x1000000 Pixels!");
  EXPECT_EQ(huge.icon(), Icon::error);
  EXPECT_EQ(huge.code(), ENOMEM);
  ScriptedPrompt prompt;
  EXPECT_FALSE(huge.ok_or_show(prompt));
  ASSERT_EQ(prompt.calls().size(), 1u);
  EXPECT_EQ(prompt.calls()[0].text, huge.message());
  EXPECT_EQ(prompt.calls()[0].icon, Icon::error);

  ScriptedPrompt untouched;
  for (const Status& never : {foto.allocate(0, 5), foto.allocate_fill(4, -1, 0), Foto().rotate(90)}) {
    EXPECT_FALSE(never.ok());
    EXPECT_TRUE(never.message().empty());
    EXPECT_FALSE(never.ok_or_show(untouched));
  }
  EXPECT_TRUE(untouched.calls().empty());
}

TEST(FotoGreyscale, WeightsChannelsRoundsHalfUpAndKeepsTransparency) {
  Foto foto = make_foto(3, 1, {make_pixel(100, 150, 200, 77), make_pixel(0, 1, 90), make_pixel(255, 255, 255, 255)});
  foto.to_greyscale();
  // 3000 + 8850 + 2200 = 14050: 140 with a remainder of 50, rounded up;
  // 59 + 990 = 1049: 10 with a remainder of 49, kept.
  EXPECT_EQ(pixels_of(foto), (Pixels{make_pixel(141, 141, 141, 77), make_pixel(10, 10, 10), kEmptyPixel | 0xFFFFFFu}));
}

TEST(FotoFlips, MirrorAndFlipInPlace) {
  Foto foto = abc_def();
  foto.mirror();
  EXPECT_EQ(pixels_of(foto), (Pixels{c, b, a, f, e, d}));
  foto = abc_def();
  foto.flip();
  EXPECT_EQ(pixels_of(foto), (Pixels{d, e, f, a, b, c}));

  // An odd height keeps its middle row.
  Foto column = make_foto(1, 3, {a, b, c});
  column.flip();
  EXPECT_EQ(pixels_of(column), (Pixels{c, b, a}));

  Foto nothing;
  nothing.mirror();
  nothing.flip();
  EXPECT_TRUE(nothing.empty());
}

TEST(FotoRotate, QuarterTurnClockwiseSendsTopLeftToTopRight) {
  Foto turned;
  ASSERT_TRUE(abc_def().rotate(90, turned));
  EXPECT_EQ(turned.width(), 2);
  EXPECT_EQ(turned.height(), 3);
  EXPECT_EQ(turned.at(1, 0), a);
  EXPECT_EQ(pixels_of(turned), (Pixels{d, a, e, b, f, c}));
}

TEST(FotoRotate, QuarterTurnBackAndHalfTurns) {
  const Pixels anticlockwise{c, f, b, e, a, d};
  for (int angle : {-90, 270}) {
    Foto turned;
    ASSERT_TRUE(abc_def().rotate(angle, turned)) << angle;
    EXPECT_EQ(turned.width(), 2);
    EXPECT_EQ(turned.height(), 3);
    EXPECT_EQ(pixels_of(turned), anticlockwise) << angle;
  }
  for (int angle : {180, -180}) {
    Foto turned;
    ASSERT_TRUE(abc_def().rotate(angle, turned)) << angle;
    EXPECT_EQ(turned.width(), 3);
    EXPECT_EQ(pixels_of(turned), (Pixels{f, e, d, c, b, a})) << angle;
  }
  Foto same;
  ASSERT_TRUE(abc_def().rotate(0, same));
  EXPECT_EQ(pixels_of(same), (Pixels{a, b, c, d, e, f}));
}

TEST(FotoRotate, OtherAnglesAndEmptySourcesFailWithEmptyResult) {
  Foto source = abc_def();
  for (int angle : {45, 360, 1, -270}) {
    Foto out = make_foto(1, 1, {a});
    EXPECT_FALSE(source.rotate(angle, out)) << angle;
    EXPECT_TRUE(out.empty()) << angle;
  }
  Foto out = make_foto(1, 1, {a});
  EXPECT_FALSE(Foto().rotate(90, out));
  EXPECT_TRUE(out.empty());
}

TEST(FotoRotate, InPlaceAndIntoItself) {
  Foto foto = abc_def();
  ASSERT_TRUE(foto.rotate(90));
  EXPECT_EQ(foto.width(), 2);
  EXPECT_EQ(pixels_of(foto), (Pixels{d, a, e, b, f, c}));

  // A refused turn keeps the picture rather than losing it.
  EXPECT_FALSE(foto.rotate(45));
  EXPECT_EQ(pixels_of(foto), (Pixels{d, a, e, b, f, c}));

  Foto self = abc_def();
  ASSERT_TRUE(self.rotate(-90, self));
  EXPECT_EQ(pixels_of(self), (Pixels{c, f, b, e, a, d}));
}

TEST(FotoPad, BlendsOntoEmptyCanvas) {
  const std::uint32_t hidden = make_pixel(9, 9, 9, 255);
  Foto tile = make_foto(2, 1, {a, hidden});
  Foto canvas;
  ASSERT_TRUE(tile.pad(4, 3, 1, 1, canvas));
  const std::uint32_t o = kEmptyPixel;
  // The fully transparent pixel is skipped by the blend: the canvas stays empty there.
  EXPECT_EQ(pixels_of(canvas), (Pixels{o, o, o, o, o, a, o, o, o, o, o, o}));

  ASSERT_TRUE(tile.pad(3, 2, 1, 1, canvas));  // exactly big enough
  EXPECT_EQ(canvas.at(1, 1), a);
}

TEST(FotoPad, RefusesCanvasThatCannotHoldTheImage) {
  Foto tile = make_foto(2, 1, {a, b});
  for (auto [w, h, x, y] : {std::array{2, 1, 1, 0}, std::array{3, 1, 0, 1}, std::array{4, 4, -1, 0},
                            std::array{4, 4, 0, -1}, std::array{1, 1, 0, 0}}) {
    Foto out = make_foto(1, 1, {a});
    EXPECT_FALSE(tile.pad(w, h, x, y, out)) << w << "x" << h << "+" << x << "+" << y;
    EXPECT_TRUE(out.empty());
  }
  Foto out;
  EXPECT_FALSE(Foto().pad(4, 4, 0, 0, out));
}

// Target 4 x 3 of one colour, source 2 x 2 of distinct pixels.
constexpr std::uint32_t t = make_pixel(7, 7, 7);
constexpr std::uint32_t s00 = make_pixel(11, 0, 0), s10 = make_pixel(12, 0, 0), s01 = make_pixel(13, 0, 0),
                        s11 = make_pixel(14, 0, 0);

Foto target() { return make_foto(4, 3, Pixels(12, t)); }
Foto square() { return make_foto(2, 2, {s00, s10, s01, s11}); }

TEST(FotoPaste, CopyClipsAtEveryEdge) {
  struct Case {
    int x, y;
    Pixels expected;
  };
  const Case cases[] = {
      {-1, -1, {s11, t, t, t, t, t, t, t, t, t, t, t}},      // top-left corner
      {3, -1, {t, t, t, s01, t, t, t, t, t, t, t, t}},       // top-right corner
      {-1, 2, {t, t, t, t, t, t, t, t, s10, t, t, t}},       // bottom-left corner
      {3, 2, {t, t, t, t, t, t, t, t, t, t, t, s00}},        // bottom-right corner
      {1, 1, {t, t, t, t, t, s00, s10, t, t, s01, s11, t}},  // inside
  };
  for (const Case& k : cases) {
    Foto foto = target();
    EXPECT_TRUE(foto.paste(k.x, k.y, square(), PasteMode::copy)) << k.x << "," << k.y;
    EXPECT_EQ(pixels_of(foto), k.expected) << k.x << "," << k.y;
  }
}

TEST(FotoPaste, NoOverlapOrEmptyImagesChangeNothing) {
  for (auto [x, y] : {std::pair{4, 0}, std::pair{0, 3}, std::pair{-2, 0}, std::pair{0, -2}, std::pair{-2000000000, 5},
                      std::pair{2147483647, 2147483647}}) {
    for (PasteMode mode : {PasteMode::copy, PasteMode::masked, PasteMode::blend}) {
      Foto foto = target();
      EXPECT_FALSE(foto.paste(x, y, square(), mode)) << x << "," << y;
      EXPECT_EQ(pixels_of(foto), Pixels(12, t));
    }
  }
  Foto foto = target();
  EXPECT_FALSE(foto.paste(0, 0, Foto(), PasteMode::copy));
  EXPECT_EQ(pixels_of(foto), Pixels(12, t));
  Foto nothing;
  EXPECT_FALSE(nothing.paste(0, 0, square(), PasteMode::copy));
  EXPECT_TRUE(nothing.empty());
}

TEST(FotoPaste, MaskedTakesOnlyPixelsBelow250) {
  Foto source = make_foto(2, 2, {make_pixel(1, 1, 1, 249), make_pixel(2, 2, 2, 250), make_pixel(3, 3, 3, 255),
                                 make_pixel(4, 4, 4, 0)});
  Foto foto = target();
  ASSERT_TRUE(foto.paste(2, 1, source, PasteMode::masked));
  EXPECT_EQ(pixels_of(foto), (Pixels{t, t, t, t, t, t, make_pixel(1, 1, 1, 249), t, t, t, t, make_pixel(4, 4, 4)}));
}

TEST(FotoPaste, BlendAveragesSkipsTransparentAndFillsEmpty) {
  const std::uint32_t under = make_pixel(50, 50, 3, 0);
  Foto foto = make_foto(3, 1, {under, under, make_pixel(1, 2, 3, 255)});
  Foto source = make_foto(3, 1, {make_pixel(100, 51, 0, 10), make_pixel(200, 200, 200, 255), make_pixel(9, 8, 7, 40)});
  ASSERT_TRUE(foto.paste(0, 0, source, PasteMode::blend));
  // Averaged with the source's transparency; skipped; taken as is over an empty target pixel.
  EXPECT_EQ(pixels_of(foto), (Pixels{make_pixel(75, 50, 1, 10), under, make_pixel(9, 8, 7, 40)}));
}

TEST(FotoPaste, BlendOfFullyTransparentSourceNeverChangesTarget) {
  const Pixels before{make_pixel(1, 2, 3), make_pixel(4, 5, 6, 128), kEmptyPixel, make_pixel(9, 9, 9, 254)};
  Foto foto = make_foto(2, 2, before);
  Foto source = make_foto(2, 2, {make_pixel(255, 0, 0, 255), kEmptyPixel, 0xFFFFFFFFu, make_pixel(0, 0, 255, 255)});
  EXPECT_TRUE(foto.paste(0, 0, source, PasteMode::blend));
  EXPECT_EQ(pixels_of(foto), before);
}

TEST(FotoPaste, IntoItselfReadsTheOriginalPixels) {
  Foto foto = make_foto(3, 1, {a, b, c});
  ASSERT_TRUE(foto.paste(1, 0, foto, PasteMode::masked));
  EXPECT_EQ(pixels_of(foto), (Pixels{a, a, b}));
}

TEST(FotoApplyMask, InsideOpaqueOutsideTransparentColoursKept) {
  Foto foto = make_foto(3, 1, {make_pixel(1, 2, 3, 100), make_pixel(4, 5, 6, 0), make_pixel(7, 8, 9, 255)});
  Foto mask = make_foto(3, 1, {make_pixel(0, 0, 0, 254), kEmptyPixel, make_pixel(255, 255, 255, 0)});
  ASSERT_TRUE(foto.apply_mask(mask));
  EXPECT_EQ(pixels_of(foto), (Pixels{make_pixel(1, 2, 3, 0), make_pixel(4, 5, 6, 255), make_pixel(7, 8, 9, 0)}));
}

TEST(FotoApplyMask, MaskOfAnotherSizeIsRefused) {
  const Pixels before{a, b, c, d, e, f};
  for (auto [w, h] : {std::pair{2, 3}, std::pair{3, 1}, std::pair{4, 2}}) {
    Foto foto = abc_def();
    EXPECT_FALSE(foto.apply_mask(make_foto(w, h, Pixels(static_cast<std::size_t>(w * h), 0u))));
    EXPECT_EQ(pixels_of(foto), before);
  }
  Foto foto = abc_def();
  EXPECT_FALSE(foto.apply_mask(Foto()));
  EXPECT_EQ(pixels_of(foto), before);
}

}  // namespace
}  // namespace tess
