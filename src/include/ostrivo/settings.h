// What a repair uses: plain data, and the limits of every setting, which
// live here and nowhere else (the dialogs, the stored records and the
// command line all take them from here).
#ifndef OSTRIVO_SETTINGS_H
#define OSTRIVO_SETTINGS_H

#include <variant>
#include <vector>

namespace ostrivo {

// The range of one numeric setting.
struct SettingRange {
  double lower;
  double upper;
  double fallback;  // the default, taken by a value that is not a number
};

inline constexpr SettingRange kLengthRange{1.0, 100.0, 1.0};     // pixels
inline constexpr SettingRange kDirectionRange{0.0, 359.0, 0.0};  // degrees
inline constexpr SettingRange kKRange{0.001, 1.0, 0.001};        // Wiener constant
inline constexpr SettingRange kFrameWidthRange{0.0, 10.0, 1.0};  // percent of the columns
inline constexpr SettingRange kStrengthRange{0.05, 20.0, 1.0};   // factor on the prior's weight

// Brings `value` into `range`; a value that is not finite takes the default.
double clamp_setting(double value, const SettingRange &range);

// --- the motion ------------------------------------------------------------
// One of a closed set. Directions are degrees clockwise on screen from "to
// the right" (90 is straight down).

// The GIMP 2.10 plug-in's motion: a line of whole-pixel samples that starts
// at a corner of the periodic plane, on an area trimmed to even width and
// height, whose border frame is replaced by a blurred copy first.
struct ClassicLine {
  double length = kLengthRange.fallback;
  double direction = kDirectionRange.fallback;
  double frame_width = kFrameWidthRange.fallback;  // percent of the area's columns
};

// A straight motion of continuous length centred on the origin, drawn with
// sub-pixel accuracy, on an area extended by mirrored borders.
struct SmoothLine {
  double length = kLengthRange.fallback;
  double direction = kDirectionRange.fallback;
};

// A motion of any shape, as a kernel: what one bright point looks like in
// the blurred photo (see the conventions in the engine). `weights` holds
// rows x cols values, row-major; they are made non-negative and normalised
// to sum 1 when the motion is built.
struct SampledKernel {
  int rows = 0;
  int cols = 0;
  std::vector<double> weights;
};

using Motion = std::variant<ClassicLine, SmoothLine, SampledKernel>;

// The largest kernel, in either dimension.
inline constexpr int kMaxKernelSize = 255;

// --- the solver ------------------------------------------------------------

enum class SolverKind {
  // One division per frequency, X = Y conj(H) / (|H|^2 + K): fast, and the
  // classic model's only solver.
  wiener,
  // A sparse prior on the photo's gradients, with the photo's edges as
  // unknowns: slower, and sharper with fewer ripples on long or curved
  // motions.
  sparse,
};

struct RepairSettings {
  Motion motion = SmoothLine{};
  SolverKind solver = SolverKind::wiener;
  double k = kKRange.fallback;                // Wiener: noise-to-signal ratio
  double strength = kStrengthRange.fallback;  // sparse: factor on the prior's weight
  // sparse: the photo's noise, levels of 255 of its samples as encoded (in
  // linear light too); negative: measured
  double noise = -1.0;
  bool repair_brightness = false;  // map the result's brightness range onto the source's
  // Repair the light itself: the samples are taken as sRGB-encoded, decoded
  // to linear light before the repair and encoded again after (alpha as it
  // is). A camera's shake blurs the light, not its encoded values.
  bool linear_light = false;
};

}  // namespace ostrivo

#endif
