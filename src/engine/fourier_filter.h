// What the whole-plane routines and the region pipeline share after an
// inverse transform: dividing by the plane's size and rounding to 0..255.
#ifndef OSTRIVO_ENGINE_FOURIER_FILTER_H
#define OSTRIVO_ENGINE_FOURIER_FILTER_H

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>

#include "engine/complex.h"
#include "engine/planes.h"
#include "engine/threads.h"
#include "engine/transform.h"

namespace ostrivo {

// plane[k] = round_sample(plane[k] / divisor). This pass runs over every
// sample after every inverse transform, so it is written with SSE2 (part
// of every x86-64 processor) two samples at a time; the steps are those of
// round_sample, and give the same bits.
inline void normalise_and_round(double *__restrict plane, std::size_t n, double divisor) {
  std::size_t k = 0;
#if defined(__SSE2__)
  const __m128d div = _mm_set1_pd(divisor);
  const __m128d zero = _mm_setzero_pd();
  const __m128d top = _mm_set1_pd(255.0);
  const __m128d two52 = _mm_set1_pd(4503599627370496.0);
  const __m128d one = _mm_set1_pd(1.0);
  const __m128d half = _mm_set1_pd(0.5);
  for (; k + 2 <= n; k += 2) {
    __m128d x = _mm_div_pd(_mm_loadu_pd(plane + k), div);
    x = _mm_min_pd(_mm_max_pd(x, zero), top);  // max gives its second operand for NaN
    __m128d lower = _mm_sub_pd(_mm_add_pd(x, two52), two52);
    lower = _mm_sub_pd(lower, _mm_and_pd(_mm_cmpgt_pd(lower, x), one));
    const __m128d up = _mm_and_pd(_mm_cmpgt_pd(_mm_sub_pd(x, lower), half), one);
    _mm_storeu_pd(plane + k, _mm_add_pd(lower, up));
  }
#endif
  for (; k < n; ++k) plane[k] = round_sample(plane[k] / divisor);
}

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
  WorkerPool pool(engine_threads());
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
