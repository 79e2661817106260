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

// Which motion the estimate found, and so which a repair uses.
enum class FoundMotion {
  none,    // the photo looks sharp: best left as it is
  line,    // a straight line explains the blur: the smooth line
  kernel,  // a shake of another shape: its kernel
};

// The motion found, in the settings' own conventions.
struct MotionEstimate {
  EstimateStatus status = EstimateStatus::estimated;
  FoundMotion found = FoundMotion::none;
  double length = 1.0;          // pixels: the straight line that fits the motion best; 1: none
  double direction = 0.0;       // degrees in [0, 180): a motion along 30 is the same as along 210
  double k = kKRange.fallback;  // a Wiener constant for the repair
  double confidence = 0.0;      // 0 to 1: how clearly the photo shows the motion (or none)
  // The straight estimate's evidence of a line, which its confidence grows
  // from: how well the spectrum's profile across the line follows a
  // straight motion's, plus twice how sharply that picks one length
  // (motion_estimate.h). A motion is reported from 0.95.
  double line_evidence = 0.0;
  double noise = 0.0;           // sigma of the noise, levels of 255
  // estimate_shake only: the kernel found (an odd square around its middle
  // cell), and the extent of its weights above 5 % of its peak; the kernel
  // is kept even when a line or no motion is the answer.
  SampledKernel kernel;
  int kernel_width = 0;
  int kernel_height = 0;
  // The kernel found was not trusted (it did not look like a motion, or
  // came out otherwise elsewhere in the photo): the straight estimate
  // answers where the kernel runs along its line; otherwise no motion is
  // repaired (found none) although the photo is not known to be sharp.
  bool kernel_doubtful = false;
  // How alike the kernels of two searches came out (1: the same): in two
  // parts of the photo, or, in a photo with room for one part only, the
  // closer of two overlapping parts of the crop to the whole crop.
  double agreement = -1.0;
};

// The largest kernel sought by default, pixels across.
inline constexpr int kDefaultMaxKernel = 75;

// The smallest region estimated, in both dimensions.
inline constexpr int kMinEstimateSize = 64;

// Estimates the motion that blurred the region (its `src`; `dst` is not
// used). Runs on the calling thread; reads each pixel at most once.
MotionEstimate estimate_motion(const PixelRegion &region);

// Estimates the shake that blurred the region, of any shape: the kernel,
// at most `max_kernel` pixels across (3 to kMaxKernelSize), found in the
// region itself (src/estimate/blind_kernel.h says how), and from it the
// model a repair should use. Runs on the calling thread; the straight
// estimate above answers where the kernel found cannot be trusted.
// With `linear_light`, the motion is sought in the region's light itself, as
// a repair with RepairSettings::linear_light restores it (its K and noise
// then measured on that light too).
MotionEstimate estimate_shake(const PixelRegion &region, int max_kernel = kDefaultMaxKernel,
                              bool linear_light = false);

// Whether the estimate found a motion to repair.
bool found_motion(const MotionEstimate &estimate);

// Puts what the estimate found into `settings`, the one way every front end
// does: a kernel as the kernel model (but the classic model, the GIMP 2.10
// plug-in's straight line, takes the line that fits it); a line in the
// terms of the settings' model (the classic line takes a whole length, its
// number of samples; a kernel model takes the smooth line), its direction
// to a tenth of a degree; and K. The solver stays as it is. When no motion was found the settings
// stay as they are and the answer is false: the photo is best left as it is, since a repair of no
// motion would only take K's toll on its contrast.
bool apply_estimate(const MotionEstimate &estimate, RepairSettings *settings);

// A message for a status other than `estimated`.
const char *estimate_failure(EstimateStatus status);

}  // namespace ostrivo

#endif
