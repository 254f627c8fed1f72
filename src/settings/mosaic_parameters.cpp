#include "settings/mosaic_parameters.hpp"

#include <cmath>

#include "base/ini_file.hpp"
#include "base/text.hpp"

namespace tess {

bool is_valid_pattern(PatternCode pattern) { return is_pattern_between(pattern, kPatternFirst, kPatternLast); }

bool is_valid_size_side(double value) { return std::isfinite(value) && value > 0; }

bool is_valid_colour(std::int64_t colour) { return colour >= 0 && colour <= 0xFFFFFF; }

std::string default_web_title() { return format(tr("Mosaic created by %s"), "Tessellarium"); }

MosaicParameters MosaicParameters::created(const IniFile& config) {
  MosaicParameters params;
  params.advanced.initialise_all(true, config);
  return params;
}

}  // namespace tess
