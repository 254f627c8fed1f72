// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/field_binding.hpp"

#include <QString>

#include "base/text.hpp"

namespace tess {
namespace {

QString trimmed(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).trimmed();
}

}  // namespace

bool FieldBinding::apply(MosaicParameters& params, std::string_view text) const {
  std::string typed(text);
  // A box that offers a word for 0 takes the word or a number around blanks.
  if (zero_label != nullptr) {
    const QString word = trimmed(text);
    if (word.compare(QString::fromStdString(tess::tr(zero_label)), Qt::CaseInsensitive) == 0) {
      if (whole != nullptr) params.*whole = 0;
      if (measure != nullptr) (params.*measure).value = 0;
      return true;
    }
    typed = word.toStdString();
  }
  ParameterField parsed = *field;
  if (measure != nullptr) parsed.current = params.*measure;
  if (!parse_field(parsed, typed)) return false;
  if (whole != nullptr) params.*whole = static_cast<std::int32_t>(parsed.current.value);
  if (measure != nullptr) params.*measure = parsed.current;
  return true;
}

std::string FieldBinding::text(const MosaicParameters& params) const {
  if (whole != nullptr)
    return zero_label != nullptr && params.*whole == 0 ? tess::tr(zero_label) : format_value(params.*whole, unit);
  const UnitValue& value = params.*measure;
  return zero_label != nullptr && value.value == 0 ? tess::tr(zero_label) : format_value(value);
}

}  // namespace tess
