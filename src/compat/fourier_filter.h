// A spectral filter of a whole plane, on the engine's transforms: what the
// whole-plane routines share.
#ifndef OSTRIVO_COMPAT_FOURIER_FILTER_H
#define OSTRIVO_COMPAT_FOURIER_FILTER_H

#include <algorithm>

#include "engine/planes.h"
#include "engine/threads.h"
#include "engine/transform.h"

namespace ostrivo {

// Transforms the rows x cols plane `in`, lets step(c0, w, Y) change the
// spectrum's columns c0 .. c0 + w - 1 (see RegionTransform), transforms
// back and writes out[k] = round(result[k] / (rows * cols)). `in` is read
// completely before `out` is written, so `out` may be `in`. Uses the
// engine's threads. Returns false, `out` unset, when memory or a plan
// cannot be had.
template <typename Round, typename Step>
bool filter_plane(const double *in, int rows, int cols, double *out, Round round,
                  const Step &step) {
  const std::size_t cells = plane_cells(rows, cols);
  if (cells == 0) return true;
  WorkerPool pool(engine_threads(0));
  RegionTransform transform(rows, cols, pool);
  if (!transform.ok()) return false;
  const auto width = static_cast<std::size_t>(cols);
  const double divisor = static_cast<double>(cells);
  transform.filter(
      [&](int r0, int n, double *rows_out) {
        std::copy(in + r0 * width, in + (r0 + n) * width, rows_out);
      },
      step,
      [&](int r0, int n, double *rows_in) {
        double *dst = out + r0 * width;
        for (std::size_t k = 0; k < n * width; ++k) dst[k] = round(rows_in[k] / divisor);
      });
  return true;
}

}  // namespace ostrivo

#endif
