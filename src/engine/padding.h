// Where a region lies in the plane its transforms work on, and how that
// plane continues beyond the region's edges.
//
// The transforms treat their plane as periodic. The classic model
// transforms the region itself (its frame hides the seam). Every other
// motion extends the region on every side, far enough that what the
// periodic transforms carry round from one side to the other lands outside
// the region: next to each edge lie mirror images of the region, which a
// blur of it reaches, and between the far edge's mirror image and the near
// edge's the one fades into the other along a raised cosine, so that the
// extension leads smoothly from the region's last samples round to its
// first. A jump at that seam would reach the whole region through the
// deconvolution, most at the frequencies the motion wipes out.
#ifndef OSTRIVO_ENGINE_PADDING_H
#define OSTRIVO_ENGINE_PADDING_H

#include <vector>

#include "engine/psf.h"
#include "ostrivo/settings.h"

namespace ostrivo {

// Index i of a run of n samples continued by mirror images of itself on
// both sides: ... 1 0 | 0 1 ... n-1 | n-1 n-2 ..., for as far as it must.
int mirror_index(int i, int n);

// The smallest size of at least n whose only prime factors are 2, 3, 5
// and 7: FFTW transforms such sizes fastest.
int fast_size(int n);

// Where one sample of an extended axis comes from: (1 - alpha) of sample
// `a` of the region plus alpha of sample `b`.
struct AxisSource {
  int a;
  int b;
  double alpha;
};

struct Geometry {
  int rows = 0, cols = 0;                  // the transformed plane
  int top = 0, left = 0;                   // the region's first row and column in it
  int region_rows = 0, region_cols = 0;    // the region
  std::vector<AxisSource> row_of, col_of;  // empty when the plane is the region

  bool extended() const { return !col_of.empty(); }
};

// The region itself, periodic.
Geometry region_geometry(int rows, int cols);

// The region extended by mirror images and their fade, for point-spread
// taps of the given reach: a one-pass filter sees no seam.
Geometry mirrored_geometry(int rows, int cols, const PsfReach &reach);

// The region extended by the reach on every side (to a size FFTW
// transforms fast), filled with mirror images without a fade: for a solver
// that treats what lies beyond the region as unknown, whose first guess is
// all the extension is for.
Geometry tight_geometry(int rows, int cols, const PsfReach &reach);

// The extension the solver wants (the classic model's plane, the region
// itself, is its own affair).
Geometry extended_geometry(SolverKind solver, int rows, int cols, const PsfReach &reach);

}  // namespace ostrivo

#endif
