// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A free-text box of a form bound to one member of the parameters: the
// field that parses and bounds what is typed, the member it lands in, and
// how the value reads back. The window's parameter boxes and the rows of
// "More Options" are built from tables of these.

#include <cstdint>
#include <string>
#include <string_view>

#include "settings/mosaic_parameters.hpp"
#include "settings/units.hpp"

namespace tess {

struct FieldBinding {
  /// The range and units of what may be typed.
  const ParameterField* field = nullptr;
  /// A count or a share: the whole number typed, shown with `unit`.
  std::int32_t MosaicParameters::*whole = nullptr;
  UnitCode unit = kUnitPixel;
  /// A measure (a resolution, a length): the value with the unit typed.
  UnitValue MosaicParameters::*measure = nullptr;
  /// A word that stands for 0 (such as "No Frames"), matched in any letter
  /// case; null when 0 is typed as a number.
  const char* zero_label = nullptr;

  static FieldBinding of_whole(const ParameterField& field, std::int32_t MosaicParameters::*member, UnitCode unit,
                               const char* zero_label = nullptr) {
    FieldBinding binding;
    binding.field = &field;
    binding.whole = member;
    binding.unit = unit;
    binding.zero_label = zero_label;
    return binding;
  }
  static FieldBinding of_measure(const ParameterField& field, UnitValue MosaicParameters::*member,
                                 const char* zero_label = nullptr) {
    FieldBinding binding;
    binding.field = &field;
    binding.measure = member;
    binding.zero_label = zero_label;
    return binding;
  }

  /// Parses `text` into the member; false, the member unchanged, when the
  /// field refuses it.
  [[nodiscard]] bool apply(MosaicParameters& params, std::string_view text) const;
  /// The member as its box shows it (translated).
  std::string text(const MosaicParameters& params) const;
};

}  // namespace tess
