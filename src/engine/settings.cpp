#include "ostrivo/settings.h"

#include <cmath>

namespace ostrivo {

double clamp_setting(double value, const SettingRange &range) {
  if (!std::isfinite(value)) return range.fallback;
  if (value < range.lower) return range.lower;
  if (value > range.upper) return range.upper;
  return value;
}

}  // namespace ostrivo
