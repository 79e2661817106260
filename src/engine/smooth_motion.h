// The smooth motion model: a straight motion of continuous length, centred
// on the origin, drawn with sub-pixel accuracy.
#ifndef OSTRIVO_ENGINE_SMOOTH_MOTION_H
#define OSTRIVO_ENGINE_SMOOTH_MOTION_H

#include <vector>

#include "engine/degradation.h"

namespace ostrivo {

// Lengths beyond this are drawn at this length; the front ends offer 100.
inline constexpr double kMaxSmoothLength = 4096.0;

// The point-spread function of a motion along the segment from -L/2 u to
// +L/2 u, u = (cos t, sin t) in (column, row) terms for t = `direction`
// degrees (0 to the right, 90 down), L = `length` pixels. Cell (r, c)
// covers [c - 1/2, c + 1/2] x [r - 1/2, r + 1/2] and holds the length of
// the segment inside it divided by L, so the weights sum to 1 and a whole
// length along an axis gives a box of that many cells; a fractional length
// gives partial cells at both ends. Offsets are from the origin and may be
// negative. A length below 1 that is still positive lies within the origin's
// cell; a length that is not positive or not a number is the identity.
std::vector<PsfTap> smooth_motion_taps(double length, double direction);

// How far the taps reach from the origin, in rows and columns.
struct PsfReach {
  int rows;
  int cols;
};
PsfReach psf_reach(const std::vector<PsfTap> &taps);

}  // namespace ostrivo

#endif
