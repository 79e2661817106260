// The settings record shared by the engine and its front ends.
//
// `bvals` is the one process-wide instance. The engine reads `length`,
// `direction`, `k` and `frame_width` where it uses them, and `preview` as the
// sign that a preview render is running (no progress ticks then). The plug-in
// stores and loads the record as its raw 40 bytes, so its layout is fixed.
#ifndef OSTRIVO_ENGINE_SETTINGS_H
#define OSTRIVO_ENGINE_SETTINGS_H

#include <cstddef>

namespace ostrivo {

struct BlurVals {
  double length;          // length of the motion that blurred the image, pixels
  double direction;       // direction of the motion, degrees, clockwise on screen
  double k;               // Wiener constant K (noise-to-signal ratio)
  double frame_width;     // border frame width, percent of the region's columns
  int repair_brightness;  // map the restored value range onto the source's: 1 on, 0 off
  int preview;            // 0 in a final run; non-zero while a preview renders
};

static_assert(sizeof(BlurVals) == 40, "the stored record is 40 raw bytes");
static_assert(offsetof(BlurVals, length) == 0, "field order of the stored record");
static_assert(offsetof(BlurVals, direction) == 8, "field order of the stored record");
static_assert(offsetof(BlurVals, k) == 16, "field order of the stored record");
static_assert(offsetof(BlurVals, frame_width) == 24, "field order of the stored record");
static_assert(offsetof(BlurVals, repair_brightness) == 32, "field order of the stored record");
static_assert(offsetof(BlurVals, preview) == 36, "field order of the stored record");

// The range of one numeric setting, as the dialog offers it.
struct SettingRange {
  double lower;
  double upper;
  double fallback;  // the default, taken by a value that is not a number
};

// The limits live here and nowhere else: the dialog, the stored-record check
// and the command line all take them from these.
inline constexpr SettingRange kLengthRange{1.0, 100.0, 1.0};
inline constexpr SettingRange kDirectionRange{0.0, 359.0, 0.0};
inline constexpr SettingRange kKRange{0.001, 1.0, 0.001};
inline constexpr SettingRange kFrameWidthRange{0.0, 10.0, 1.0};

inline constexpr BlurVals kDefaultBlurVals{kLengthRange.fallback,
                                           kDirectionRange.fallback,
                                           kKRange.fallback,
                                           kFrameWidthRange.fallback,
                                           0,
                                           1};

extern BlurVals bvals;

// Brings `value` into `range`; a value that is not finite takes the default.
double clamp_setting(double value, const SettingRange &range);

// Brings every field of `vals` into the dialog's ranges, so that any record
// (for instance 40 bytes stored by a script) is safe to run with.
// Returns true when nothing had to change.
bool sanitize_blurvals(BlurVals *vals);

}  // namespace ostrivo

#endif
