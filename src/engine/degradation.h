// The point-spread function of a straight motion.
#ifndef OSTRIVO_ENGINE_DEGRADATION_H
#define OSTRIVO_ENGINE_DEGRADATION_H

#include <cstddef>
#include <vector>

namespace ostrivo {

// Upper bound on the samples drawn along one line. The dialog offers motions
// of at most 100 pixels; the bound only keeps absurd lengths from hanging.
inline constexpr long kMaxMotionSamples = 1L << 20;

// One non-zero cell of a point-spread function: its offset from the origin
// of the periodic plane (negative offsets lie on the far side) and weight.
struct PsfTap {
  int row;
  int col;
  double weight;
};

// The distinct cells of the motion line of `length` pixels in `direction`
// degrees on a rows x cols plane, each with weight 1 / (number of cells), in
// increasing flat index; empty when the line has no sample. See
// buildDegradationFunction_h for how the line is drawn.
std::vector<PsfTap> motion_line_taps(int rows, int cols, double length, double direction);

// Fills the rows x cols plane that `*h` designates with the motion line of
// bvals.length pixels in bvals.direction degrees (0 along a row to the
// right, 90 down a column). The line starts at a corner chosen by the
// direction so that it runs from the origin of the periodic plane into it:
// top left up to 90, top right up to 180, bottom right up to 270, bottom
// left below 360. Sample i lands at (trunc(sin t * i), trunc(cos t * i)) from
// that corner, t = direction * 3.14159265 / 180. Each distinct cell reached
// holds 1 / (number of distinct cells), so the weights sum to 1; all other
// cells are 0.
//
// Out-of-range inputs stay safe: a sample whose flat index falls outside the
// plane (a motion longer than the plane, a negative direction) wraps modulo
// rows * cols; a direction of 360 or more is taken modulo 360; a length below
// 1, or a length or direction that is not finite, leaves the plane all zeros.
void buildDegradationFunction_h(int rows, int cols, double **h);

}  // namespace ostrivo

#endif
