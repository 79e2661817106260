// The border frame: a blurred copy of the channel replaces its edges before
// deconvolution, so that the periodic transforms see edges that the motion
// would have produced.
#ifndef OSTRIVO_ENGINE_FRAME_H
#define OSTRIVO_ENGINE_FRAME_H

#include <vector>

#include "engine/psf.h"
#include "engine/threads.h"

namespace ostrivo {

// The interior of a frame f pixels wide, the cells that keep the channel's
// own samples: (i, j) is interior when i >= f, i < rows - f, j >= f and
// j < cols - f, comparing the integers with the frame width f in pixels as
// numbers. A fractional f gives ceil(f) rows or columns of frame at the top
// and left and floor(f) at the bottom and right; a NaN f makes every cell
// border. The interior is rows [top, bottom) and columns [left, right); empty when top >= bottom or
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

// A region's frame as one repair sees it: whether there is one, which
// cells are interior, and how the blurred copy continues beyond the edges.
struct FrameSpec {
  bool framed = false;
  FrameInterior interior{};
  FrameEdges edges = FrameEdges::wrap;
};

// The composed plane of one channel, computed directly: interior cells are
// `channel`'s, border cells its convolution with the motion line `taps` (m
// cells of weight 1 / m, at offsets (row, col) from the origin) over the
// plane continued by `edges`. For bytes the convolution is the exact whole
// sum of m values divided by m and rounded with exact halves going down;
// for floats it is that sum divided by m. Only the border's cells are
// summed, over the pool's threads. `out` must differ from `channel`. False
// when the accumulators cannot be allocated.
bool compose_frame(const unsigned char *channel, int rows, int cols,
                   const std::vector<PsfTap> &taps, const FrameInterior &interior,
                   unsigned char *out, WorkerPool &pool, FrameEdges edges = FrameEdges::wrap);
bool compose_frame(const float *channel, int rows, int cols, const std::vector<PsfTap> &taps,
                   const FrameInterior &interior, float *out, WorkerPool &pool,
                   FrameEdges edges = FrameEdges::wrap);

}  // namespace ostrivo

#endif
