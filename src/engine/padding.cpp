#include "engine/padding.h"

#include <algorithm>
#include <cmath>

namespace ostrivo {

namespace {

// The mirrored samples next to each edge reach beyond the taps by this
// many, and the fade between the two mirror images is at least this long.
constexpr int kMirrorMargin = 4;
constexpr int kMinFade = 32;

// One axis of a region of n samples extended to `size` samples, the region
// starting at `start`, with `pure` mirrored samples next to each edge.
std::vector<AxisSource> extended_axis(int n, int size, int start, int pure) {
  std::vector<AxisSource> axis(static_cast<std::size_t>(size));
  const int gap = size - n;  // the extension, from the far edge round to the near one
  const int fade = gap - 2 * pure;
  for (int i = 0; i < size; ++i) {
    const int offset = i - start;
    AxisSource &src = axis[static_cast<std::size_t>(i)];
    if (offset >= 0 && offset < n) {
      src = {offset, offset, 0.0};
      continue;
    }
    // Distance past the far edge, going round: 0 is the first sample after it.
    const int past = (offset - n + size) % size;
    const int far_mirror = mirror_index(n + past, n);     // continuing past the far edge
    const int near_mirror = mirror_index(past - gap, n);  // arriving at the near edge
    double alpha = 0.0;
    if (past >= gap - pure || fade <= 0)
      alpha = past >= gap / 2 ? 1.0 : 0.0;
    else if (past >= pure)
      alpha = 0.5 - 0.5 * std::cos(3.14159265358979323846 * (past - pure + 0.5) / fade);
    src = {far_mirror, near_mirror, alpha};
  }
  return axis;
}

}  // namespace

int mirror_index(int i, int n) {
  const int period = 2 * n;
  i %= period;
  if (i < 0) i += period;
  return i < n ? i : period - 1 - i;
}

int fast_size(int n) {
  for (int m = std::max(n, 1);; ++m) {
    int rest = m;
    for (int p : {2, 3, 5, 7})
      while (rest % p == 0) rest /= p;
    if (rest == 1) return m;
  }
}

Geometry region_geometry(int rows, int cols) { return {rows, cols, 0, 0, rows, cols, {}, {}}; }

Geometry mirrored_geometry(int rows, int cols, const PsfReach &reach) {
  Geometry g;
  const int pure_rows = reach.rows + kMirrorMargin;
  const int pure_cols = reach.cols + kMirrorMargin;
  const int fade_rows = std::max(kMinFade, 2 * reach.rows);
  const int fade_cols = std::max(kMinFade, 2 * reach.cols);
  g.rows = fast_size(rows + 2 * pure_rows + fade_rows);
  g.cols = fast_size(cols + 2 * pure_cols + fade_cols);
  g.top = pure_rows + (g.rows - rows - 2 * pure_rows) / 2;
  g.left = pure_cols + (g.cols - cols - 2 * pure_cols) / 2;
  g.region_rows = rows;
  g.region_cols = cols;
  g.row_of = extended_axis(rows, g.rows, g.top, pure_rows);
  g.col_of = extended_axis(cols, g.cols, g.left, pure_cols);
  return g;
}

Geometry tight_geometry(int rows, int cols, const PsfReach &reach) {
  Geometry g;
  g.rows = fast_size(rows + 2 * reach.rows);
  g.cols = fast_size(cols + 2 * reach.cols);
  g.top = (g.rows - rows) / 2;
  g.left = (g.cols - cols) / 2;
  g.region_rows = rows;
  g.region_cols = cols;
  const auto mirrored = [](int size, int start, int n) {
    std::vector<AxisSource> axis(static_cast<std::size_t>(size));
    for (int i = 0; i < size; ++i) {
      const int from = mirror_index(i - start, n);
      axis[static_cast<std::size_t>(i)] = {from, from, 0.0};
    }
    return axis;
  };
  g.row_of = mirrored(g.rows, g.top, rows);
  g.col_of = mirrored(g.cols, g.left, cols);
  return g;
}

Geometry extended_geometry(SolverKind solver, int rows, int cols, const PsfReach &reach) {
  return solver == SolverKind::sparse ? tight_geometry(rows, cols, reach)
                                      : mirrored_geometry(rows, cols, reach);
}

}  // namespace ostrivo
