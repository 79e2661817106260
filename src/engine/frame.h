// The border frame: a blurred copy of the channel replaces its edges before
// deconvolution, so that the periodic transforms see edges that the motion
// would have produced.
#ifndef OSTRIVO_ENGINE_FRAME_H
#define OSTRIVO_ENGINE_FRAME_H

#include <fftw3.h>
#include <glib.h>

#include <vector>

#include "engine/degradation.h"
#include "engine/threads.h"

namespace ostrivo {

// Blurs the rows x cols channel plane `in` (whole values 0..255) by circular
// convolution with the point-spread function whose spectrum is `H` and
// writes the result, rounded with round_to_guchar, into the plane that
// `*out` designates (which may be `in`).
//
// With the engine's motion lines every blurred sample is exactly a sum of
// whole values divided by the number m of the line's cells, so a good share
// of them are exact halves, which must round down. The transforms return
// each within about 1e-12 of its exact value, on either side; any other
// multiple of 1 / m lies at least 1 / (2 m) >= 5e-7 (m <= 2^20) from a half.
// So a result within kHalfTolerance of a half is taken as that half and
// rounded down, and every other one rounds as it comes: the whole plane then
// holds the exact rounded values. Returns false, `*out` unset, when memory
// or a plan cannot be had.
bool blurFrameOfCanal(const double *in, const fftw_complex *H, int rows, int cols, double **out);

// How far from a half a transformed sample may lie and still be that half.
inline constexpr double kHalfTolerance = 1e-9;

// round_to_guchar of a transformed blur sample, as a double, its exact half
// recognised.
double round_blurred(double x);

// Composes the interior of `unblurred` with the border of `blurred`: cell
// (i, j) is interior when i >= f, i < rows - f, j >= f and j < cols - f,
// comparing the integers with the frame width f in pixels as numbers. A
// fractional f gives ceil(f) rows or columns of frame at the top and left
// and floor(f) at the bottom and right; a NaN f makes every cell border.
// `*out` may be either input: each cell depends only on its own index.
void sumBlurFrameWithOryginalImage(const double *unblurred, const double *blurred, int rows,
                                   int cols, double f, double **out);

// The interior of a frame f pixels wide: rows [top, bottom) and columns
// [left, right), by the comparisons above; empty when top >= bottom or
// left >= right. A window of a region sees the region's interior moved by
// the window's place.
struct FrameInterior {
  int top, bottom, left, right;
  bool contains_row(int i) const { return i >= top && i < bottom && left < right; }
};
FrameInterior frame_interior(int rows, int cols, double f);

// How the plane continues beyond its edges for the blurred copy: round to
// the other side, as the periodic transforms see a whole region; or in
// mirror images of itself, for a window cut out of a larger region.
enum class FrameEdges { wrap, mirror };

// The composed plane of one channel, computed directly: interior cells are
// `channel`'s, border cells its convolution with the motion line `taps` (m
// cells of weight 1 / m, at offsets (row, col) from the origin) over the
// plane continued by `edges`. For bytes the convolution is the exact whole
// sum of m values divided by m and rounded with exact halves going down;
// for floats it is that sum divided by m. Only the border's cells are
// summed, over the pool's threads. `out` must differ from `channel`. False
// when the accumulators cannot be allocated.
bool compose_frame(const guchar *channel, int rows, int cols, const std::vector<PsfTap> &taps,
                   const FrameInterior &interior, guchar *out, WorkerPool &pool,
                   FrameEdges edges = FrameEdges::wrap);
bool compose_frame(const float *channel, int rows, int cols, const std::vector<PsfTap> &taps,
                   const FrameInterior &interior, float *out, WorkerPool &pool,
                   FrameEdges edges = FrameEdges::wrap);

}  // namespace ostrivo

#endif
