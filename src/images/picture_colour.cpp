// SPDX-License-Identifier: GPL-3.0-or-later
#include "images/picture_colour.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <lcms2.h>

namespace tess {
namespace {

// Little CMS reports through a handler of the process; a broken profile is
// our decision to pass over, not a message of its own.
void quiet_errors(cmsContext, cmsUInt32Number, const char*) {}

void set_quiet_errors() {
  static std::once_flag once;
  std::call_once(once, [] { cmsSetLogErrorHandler(quiet_errors); });
}

struct ProfileClose {
  void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using ProfilePtr = std::unique_ptr<void, ProfileClose>;

// A converted colour this close to its source on every test colour is taken
// for sRGB already: the profile then only restates what the pixels are.
constexpr int kSameColourLevels = 1;

// One conversion to sRGB: a transform of whole pixels (red, green, blue and
// the transparency byte copied through), or for a grey profile the 256 greys
// it gives, applied to each channel.
struct Conversion {
  cmsHTRANSFORM transform = nullptr;
  std::array<std::array<std::uint8_t, 3>, 256> grey{};
  bool is_grey = false;
  bool identity = false;

  Conversion() = default;
  Conversion(const Conversion&) = delete;
  Conversion& operator=(const Conversion&) = delete;
  ~Conversion() {
    if (transform != nullptr) cmsDeleteTransform(transform);
  }
};

// Whether `conversion` leaves every test colour within kSameColourLevels: the
// corners and edges of the cube in steps of 17, and the greys.
bool leaves_colours(const Conversion& conversion) {
  std::vector<std::uint32_t> colours;
  for (int r = 0; r <= 255; r += 17)
    for (int g = 0; g <= 255; g += 17)
      for (int b = 0; b <= 255; b += 17) colours.push_back(make_pixel(r, g, b));
  for (std::uint32_t v = 0; v < 256; ++v) colours.push_back(make_pixel(v, v, v));
  std::vector<std::uint32_t> converted(colours.size());
  cmsDoTransform(conversion.transform, colours.data(), converted.data(), static_cast<cmsUInt32Number>(colours.size()));
  for (std::size_t i = 0; i < colours.size(); ++i) {
    const auto differs = [&](std::uint32_t (*channel)(std::uint32_t)) {
      return std::abs(static_cast<int>(channel(colours[i])) - static_cast<int>(channel(converted[i]))) >
             kSameColourLevels;
    };
    if (differs(pixel_red) || differs(pixel_green) || differs(pixel_blue)) return false;
  }
  return true;
}

// The conversion from `source` to sRGB; null when the profile cannot be
// converted from (not RGB or grey, or a transform cannot be made).
std::unique_ptr<Conversion> make_conversion(cmsHPROFILE source) {
  set_quiet_errors();
  const ProfilePtr srgb(cmsCreate_sRGBProfile());
  if (source == nullptr || !srgb) return nullptr;
  auto conversion = std::make_unique<Conversion>();
  const cmsColorSpaceSignature space = cmsGetColorSpace(source);
  if (space == cmsSigGrayData) {
    const cmsHTRANSFORM grey = cmsCreateTransform(source, TYPE_GRAY_8, srgb.get(), TYPE_RGB_8,
                                                  INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE);
    if (grey == nullptr) return nullptr;
    std::array<std::uint8_t, 256> levels{};
    for (int v = 0; v < 256; ++v) levels[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(v);
    cmsDoTransform(grey, levels.data(), conversion->grey.data(), 256);
    cmsDeleteTransform(grey);
    conversion->is_grey = true;
    conversion->identity = true;
    for (int v = 0; v < 256; ++v)
      for (const std::uint8_t c : conversion->grey[static_cast<std::size_t>(v)])
        conversion->identity = conversion->identity && std::abs(c - v) <= kSameColourLevels;
    return conversion;
  }
  if (space != cmsSigRgbData) return nullptr;
  conversion->transform = cmsCreateTransform(source, TYPE_RGBA_8, srgb.get(), TYPE_RGBA_8, INTENT_RELATIVE_COLORIMETRIC,
                                             cmsFLAGS_NOCACHE | cmsFLAGS_COPY_ALPHA);
  if (conversion->transform == nullptr) return nullptr;
  conversion->identity = leaves_colours(*conversion);
  return conversion;
}

// Conversions made so far, by the profile's bytes (or the description's own
// key), shared by every thread: a transform made without lcms2's cache may
// be used by several threads at once.
class ConversionCache {
 public:
  template <typename MakeProfile>
  std::shared_ptr<const Conversion> find(const std::string& key, MakeProfile make_profile) {
    std::lock_guard lock(m_mutex);
    if (auto known = m_conversions.find(key); known != m_conversions.end()) return known->second;
    const ProfilePtr profile(make_profile());
    std::shared_ptr<const Conversion> made = make_conversion(profile.get());
    if (m_conversions.size() < kMaxConversions) m_conversions.emplace(key, made);
    return made;
  }

 private:
  // Each distinct profile of a library is a transform kept for the run; past
  // this many, a profile's transform is made for its picture alone. A real
  // library holds a handful.
  static constexpr std::size_t kMaxConversions = 256;
  std::mutex m_mutex;
  std::map<std::string, std::shared_ptr<const Conversion>> m_conversions;
};

ConversionCache& conversion_cache() {
  static ConversionCache cache;
  return cache;
}

void apply(const Conversion& conversion, Foto& picture) {
  if (conversion.identity || picture.empty()) return;
  if (conversion.is_grey) {
    std::uint32_t* pixel = picture.pixels();
    for (std::size_t i = 0, n = picture.pixel_count(); i < n; ++i, ++pixel) {
      const std::uint32_t p = *pixel;
      *pixel = make_pixel(conversion.grey[pixel_red(p)][0], conversion.grey[pixel_green(p)][1],
                          conversion.grey[pixel_blue(p)][2], pixel_transparency(p));
    }
    return;
  }
  for (int y = 0; y < picture.height(); ++y)
    cmsDoTransform(conversion.transform, picture.row(y), picture.row(y), static_cast<cmsUInt32Number>(picture.width()));
}

// ITU-T H.273 primaries as x, y of red, green, blue and white.
bool coded_primaries(int code, cmsCIExyYTRIPLE& primaries, cmsCIExyY& white) {
  struct Known {
    int code;
    double xy[8];
  };
  static constexpr Known kKnown[] = {
      {1, {0.640, 0.330, 0.300, 0.600, 0.150, 0.060, 0.3127, 0.3290}},    // BT.709, sRGB
      {4, {0.670, 0.330, 0.210, 0.710, 0.140, 0.080, 0.310, 0.316}},      // BT.470 M
      {5, {0.640, 0.330, 0.290, 0.600, 0.150, 0.060, 0.3127, 0.3290}},    // BT.601 625
      {6, {0.630, 0.340, 0.310, 0.595, 0.155, 0.070, 0.3127, 0.3290}},    // BT.601 525
      {7, {0.630, 0.340, 0.310, 0.595, 0.155, 0.070, 0.3127, 0.3290}},    // SMPTE 240M
      {9, {0.708, 0.292, 0.170, 0.797, 0.131, 0.046, 0.3127, 0.3290}},    // BT.2020
      {11, {0.680, 0.320, 0.265, 0.690, 0.150, 0.060, 0.314, 0.351}},     // DCI-P3
      {12, {0.680, 0.320, 0.265, 0.690, 0.150, 0.060, 0.3127, 0.3290}},   // Display P3
  };
  for (const Known& known : kKnown) {
    if (known.code != code) continue;
    primaries.Red = {known.xy[0], known.xy[1], 1.0};
    primaries.Green = {known.xy[2], known.xy[3], 1.0};
    primaries.Blue = {known.xy[4], known.xy[5], 1.0};
    white = {known.xy[6], known.xy[7], 1.0};
    return true;
  }
  return false;
}

// ITU-T H.273 transfer characteristics as the curve from coded values to
// linear light; null for those we do not convert (PQ, HLG and the unknown).
cmsToneCurve* coded_transfer(int code) {
  switch (code) {
    case 13: {  // sRGB
      const cmsFloat64Number p[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
      return cmsBuildParametricToneCurve(nullptr, 4, p);
    }
    case 1:
    case 6:
    case 14:
    case 15: {  // BT.709 and its kin
      const cmsFloat64Number p[5] = {1 / 0.45, 1 / 1.099, 0.099 / 1.099, 1 / 4.5, 0.081};
      return cmsBuildParametricToneCurve(nullptr, 4, p);
    }
    case 4:
      return cmsBuildGamma(nullptr, 2.2);
    case 5:
      return cmsBuildGamma(nullptr, 2.8);
    case 8:
      return cmsBuildGamma(nullptr, 1.0);
    default:
      return nullptr;
  }
}

cmsHPROFILE rgb_profile(const cmsCIExyY& white, const cmsCIExyYTRIPLE& primaries, cmsToneCurve* curve) {
  if (curve == nullptr) return nullptr;
  cmsToneCurve* curves[3] = {curve, curve, curve};
  cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsFreeToneCurve(curve);
  return profile;
}

// Whether a coded description or gamma and chromaticities say sRGB, or say
// too little to say anything else: such pictures are left as decoded.
bool coded_is_srgb(const PictureColour& colour) {
  const bool primaries = colour.primaries == 0 || colour.primaries == 1 || colour.primaries == 2;
  const bool transfer = colour.transfer == 0 || colour.transfer == 2 || colour.transfer == 13;
  return primaries && transfer;
}

bool chromaticities_are_srgb(const PictureColour& colour) {
  static constexpr double kSrgb[8] = {0.3127, 0.3290, 0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
  if (!colour.has_chromaticities) return true;
  for (int i = 0; i < 8; ++i)
    if (std::abs(colour.chromaticities[i] - kSrgb[i]) > 0.002) return false;
  return true;
}

std::shared_ptr<const Conversion> conversion_for(const PictureColour& colour) {
  if (!colour.icc.empty()) {
    const std::string key(colour.icc.begin(), colour.icc.end());
    return conversion_cache().find("icc:" + key, [&] {
      return cmsOpenProfileFromMem(colour.icc.data(), static_cast<cmsUInt32Number>(colour.icc.size()));
    });
  }
  if (colour.srgb) return nullptr;
  if (colour.primaries != 0 || colour.transfer != 0) {
    if (coded_is_srgb(colour)) return nullptr;
    const int primaries_code = colour.primaries == 0 || colour.primaries == 2 ? 1 : colour.primaries;
    const int transfer_code = colour.transfer == 0 || colour.transfer == 2 ? 13 : colour.transfer;
    const std::string key = "coded:" + std::to_string(primaries_code) + "/" + std::to_string(transfer_code);
    return conversion_cache().find(key, [&]() -> cmsHPROFILE {
      cmsCIExyYTRIPLE primaries;
      cmsCIExyY white;
      if (!coded_primaries(primaries_code, primaries, white)) return nullptr;
      return rgb_profile(white, primaries, coded_transfer(transfer_code));
    });
  }
  if (colour.file_gamma <= 0) return nullptr;
  // A gamma of 2.2 is what sRGB approximates: such files are sRGB in intent.
  const bool gamma_22 = std::abs(colour.file_gamma - 1 / 2.2) < 0.001;
  if (gamma_22 && chromaticities_are_srgb(colour)) return nullptr;
  const double* c = colour.chromaticities;
  const bool own = colour.has_chromaticities;
  char key[256];
  std::snprintf(key, sizeof key, "gamma:%.5f/%d/%.4f,%.4f,%.4f,%.4f,%.4f,%.4f,%.4f,%.4f", colour.file_gamma, own ? 1 : 0,
                c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]);
  return conversion_cache().find(key, [&]() -> cmsHPROFILE {
    cmsCIExyYTRIPLE primaries;
    cmsCIExyY white;
    coded_primaries(1, primaries, white);
    if (own) {
      white = {c[0], c[1], 1.0};
      primaries.Red = {c[2], c[3], 1.0};
      primaries.Green = {c[4], c[5], 1.0};
      primaries.Blue = {c[6], c[7], 1.0};
    }
    return rgb_profile(white, primaries, cmsBuildGamma(nullptr, 1 / colour.file_gamma));
  });
}

}  // namespace

void convert_to_srgb(Foto& picture, const PictureColour& colour) {
  if (const auto conversion = conversion_for(colour)) apply(*conversion, picture);
}

bool cmyk_to_srgb(std::span<const std::uint8_t> profile, const std::uint8_t* cmyk, std::uint32_t* out,
                  std::size_t count, bool inverted) {
  // CMYK transforms are kept beside the others, by their profile and form.
  struct CmykCache {
    std::mutex mutex;
    std::map<std::string, cmsHTRANSFORM> transforms;
    ~CmykCache() {
      for (auto& entry : transforms)
        if (entry.second != nullptr) cmsDeleteTransform(entry.second);
    }
  };
  static CmykCache cache;
  set_quiet_errors();
  cmsHTRANSFORM transform = nullptr;
  {
    std::lock_guard lock(cache.mutex);
    const std::string key = std::string(inverted ? "inverted:" : "plain:") +
                            std::string(reinterpret_cast<const char*>(profile.data()), profile.size());
    auto known = cache.transforms.find(key);
    if (known == cache.transforms.end()) {
      const ProfilePtr source(cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(profile.size())));
      const ProfilePtr srgb(cmsCreate_sRGBProfile());
      cmsHTRANSFORM made = nullptr;
      if (source && srgb && cmsGetColorSpace(source.get()) == cmsSigCmykData)
        made = cmsCreateTransform(source.get(), inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8, srgb.get(), TYPE_RGBA_8,
                                  INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE);
      known = cache.transforms.emplace(key, made).first;
    }
    transform = known->second;
  }
  if (transform == nullptr) return false;
  // The samples may be the pixels' own words (a CMYK row converted in
  // place): the transform reads each pixel before it writes it. It writes
  // red, green and blue only, so each pixel is made opaque after.
  cmsDoTransform(transform, cmyk, out, static_cast<cmsUInt32Number>(count));
  for (std::size_t i = 0; i < count; ++i) out[i] &= 0x00FFFFFFu;
  return true;
}

std::span<const std::uint8_t> srgb_icc_profile() {
  static const std::vector<std::uint8_t> profile = [] {
    set_quiet_errors();
    std::vector<std::uint8_t> bytes;
    // sRGB's primaries and white, and its curve as a table of 1024 steps:
    // the same colours as Little CMS's own sRGB to the last 8-bit level, in
    // a third of the bytes (its curve of 4096 steps makes 8.8 KB, too much
    // for every individual tile and split piece to carry).
    const cmsCIExyY white{0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    std::vector<cmsUInt16Number> table(1024);
    for (std::size_t i = 0; i < table.size(); ++i) {
      const double v = static_cast<double>(i) / static_cast<double>(table.size() - 1);
      const double linear = v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
      table[i] = static_cast<cmsUInt16Number>(std::lround(linear * 65535.0));
    }
    cmsToneCurve* curve = cmsBuildTabulatedToneCurve16(nullptr, static_cast<cmsUInt32Number>(table.size()), table.data());
    if (curve == nullptr) return bytes;
    cmsToneCurve* curves[3] = {curve, curve, curve};
    const ProfilePtr srgb(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(curve);
    cmsMLU* description = cmsMLUalloc(nullptr, 1);
    if (!srgb || description == nullptr) {
      if (description != nullptr) cmsMLUfree(description);
      return bytes;
    }
    cmsMLUsetASCII(description, "en", "US", "sRGB IEC61966-2.1");
    const bool described = cmsWriteTag(srgb.get(), cmsSigProfileDescriptionTag, description) != FALSE;
    cmsMLUfree(description);
    // Version 2 profiles are read by every program that reads profiles.
    cmsSetProfileVersion(srgb.get(), 2.1);
    cmsUInt32Number size = 0;
    if (!described || !cmsSaveProfileToMem(srgb.get(), nullptr, &size) || size < 128) return bytes;
    bytes.resize(size);
    if (!cmsSaveProfileToMem(srgb.get(), bytes.data(), &size)) return std::vector<std::uint8_t>{};
    // A fixed creation date (bytes 24-35: 2026-01-01 00:00:00) and no
    // profile ID (84-99): the same build writes the same bytes.
    static constexpr std::uint8_t kDate[12] = {0x07, 0xEA, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0};
    std::copy(std::begin(kDate), std::end(kDate), bytes.begin() + 24);
    std::fill(bytes.begin() + 84, bytes.begin() + 100, std::uint8_t{0});
    return bytes;
  }();
  return profile;
}

}  // namespace tess
