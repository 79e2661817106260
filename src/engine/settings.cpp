#include "engine/settings.h"

#include <cmath>

namespace ostrivo {

BlurVals bvals = kDefaultBlurVals;

double clamp_setting(double value, const SettingRange &range) {
  if (!std::isfinite(value)) return range.fallback;
  if (value < range.lower) return range.lower;
  if (value > range.upper) return range.upper;
  return value;
}

namespace {

bool clamp_field(double *field, const SettingRange &range) {
  const double clamped = clamp_setting(*field, range);
  // Compare bit patterns through the values: a NaN field never equals itself,
  // so it always counts as changed.
  const bool unchanged = clamped == *field;
  *field = clamped;
  return unchanged;
}

}  // namespace

bool sanitize_blurvals(BlurVals *vals) {
  bool unchanged = true;
  unchanged &= clamp_field(&vals->length, kLengthRange);
  unchanged &= clamp_field(&vals->direction, kDirectionRange);
  unchanged &= clamp_field(&vals->k, kKRange);
  unchanged &= clamp_field(&vals->frame_width, kFrameWidthRange);
  if (vals->repair_brightness != 0 && vals->repair_brightness != 1) {
    vals->repair_brightness = 1;
    unchanged = false;
  }
  return unchanged;
}

}  // namespace ostrivo
