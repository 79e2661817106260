// The point-spread function of each motion model, as the list of its
// non-zero cells. Offsets are from the origin of the plane (see planes.h):
// a tap at (row, col) with weight w means that a bright point at (i, j)
// puts w of itself at (i + row, j + col).
#ifndef OSTRIVO_ENGINE_PSF_H
#define OSTRIVO_ENGINE_PSF_H

#include <vector>

namespace ostrivo {

struct PsfTap {
  int row;
  int col;
  double weight;
};

// How far the taps reach from the origin, in rows and columns.
struct PsfReach {
  int rows;
  int cols;
};
PsfReach psf_reach(const std::vector<PsfTap> &taps);

// --- the classic line --------------------------------------------------------

// Upper bound on the samples drawn along one line. The dialog offers motions
// of at most 100 pixels; the bound only keeps absurd lengths from hanging.
inline constexpr long kMaxMotionSamples = 1L << 20;

// The distinct cells of the classic line of `length` pixels in `direction`
// degrees on a rows x cols periodic plane, each with weight 1 / (number of
// cells), in increasing flat index; the offsets are the cells' own row and
// column in the plane (0 .. rows - 1, 0 .. cols - 1). Empty when the line
// has no sample.
//
// The line starts at a corner chosen by the direction so that it runs from
// the origin of the periodic plane into it: top left up to 90, top right up
// to 180, bottom right up to 270, bottom left below 360. Sample i, for i
// below trunc(length), lands at (trunc(sin t * i), trunc(cos t * i)) from that
// corner, t = direction * 3.14159265 / 180.
//
// Out-of-range inputs stay safe: a sample whose flat index falls outside the
// plane (a motion longer than the plane, a negative direction) wraps modulo
// rows * cols; a direction of 360 or more is taken modulo 360; a length below
// 1, or a length or direction that is not finite, gives no cell.
std::vector<PsfTap> motion_line_taps(int rows, int cols, double length, double direction);

// --- the smooth line ---------------------------------------------------------

// Lengths beyond this are drawn at this length; the front ends offer 100.
inline constexpr double kMaxSmoothLength = 4096.0;

// The motion along the segment from -L/2 u to +L/2 u, u = (cos t, sin t) in
// (column, row) terms for t = `direction` degrees, L = `length` pixels. Cell
// (r, c) covers [c - 1/2, c + 1/2] x [r - 1/2, r + 1/2] and holds the length
// of the segment inside it divided by L, so the weights sum to 1 and a whole
// length along an axis gives a box of that many cells; a fractional length
// gives partial cells at both ends. A length below 1 that is still positive
// lies within the origin's cell; a length that is not positive or not a
// number is the identity.
std::vector<PsfTap> smooth_motion_taps(double length, double direction);

// --- the sampled kernel ------------------------------------------------------

// The taps of a kernel image of rows x cols weights (row-major), its centre
// cell (rows / 2, cols / 2) at the origin: negative and non-finite weights
// count as 0 and the rest are scaled to sum 1. Empty when no weight is
// positive or the size is not 1 .. kMaxKernelSize in both dimensions.
std::vector<PsfTap> kernel_taps(int rows, int cols, const std::vector<double> &weights);

}  // namespace ostrivo

#endif
