#include <cmath>

#include "compat/gimp2.h"

namespace ostrivo {

BlurVals bvals = kDefaultBlurVals;

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

RepairSettings repair_settings(const BlurVals &vals) {
  RepairSettings s;
  s.motion = ClassicLine{vals.length, vals.direction, vals.frame_width};
  s.solver = SolverKind::wiener;
  s.k = vals.k;
  s.repair_brightness = vals.repair_brightness != 0;
  return s;
}

}  // namespace ostrivo
