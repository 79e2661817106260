// Finding the motion in a blurred photo (src/estimate/ says how).
#ifndef OSTRIVO_ESTIMATE_H
#define OSTRIVO_ESTIMATE_H

#include "ostrivo/repair.h"
#include "ostrivo/settings.h"

namespace ostrivo {

enum class EstimateStatus {
  estimated,  // the fields below hold the estimate
  too_small,  // under kMinEstimateSize pixels in either dimension
  too_flat,   // no contrast to find a motion in
  no_memory,  // its working memory could not be had
};

// The motion found, in the settings' own conventions.
struct MotionEstimate {
  EstimateStatus status = EstimateStatus::estimated;
  double length = 1.0;          // pixels, the smooth line's (fractional); 1: no motion found
  double direction = 0.0;       // degrees in [0, 180): a motion along 30 is the same as along 210
  double k = kKRange.fallback;  // a Wiener constant for the repair
  double confidence = 0.0;      // 0 to 1: how clearly the photo shows the motion (or none)
  double noise = 0.0;           // sigma of the noise, levels of 255
};

// The smallest region estimated, in both dimensions.
inline constexpr int kMinEstimateSize = 64;

// Estimates the motion that blurred the region (its `src`; `dst` is not
// used). Runs on the calling thread; reads each pixel at most once.
MotionEstimate estimate_motion(const PixelRegion &region);

// Whether the estimate found a motion to repair.
bool found_motion(const MotionEstimate &estimate);

// Puts what the estimate found into `settings`, the one way every front end
// does: the motion in the terms of the settings' model (the classic line
// takes a whole length, its number of samples), its direction to a tenth of
// a degree, and K. When no motion was found the settings stay as they are
// and the answer is false: the photo is best left as it is, since a repair
// of no motion would only take K's toll on its contrast.
bool apply_estimate(const MotionEstimate &estimate, RepairSettings *settings);

// A message for a status other than `estimated`.
const char *estimate_failure(EstimateStatus status);

}  // namespace ostrivo

#endif
