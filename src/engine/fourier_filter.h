// The transform round trip that the Wiener restoration and the frame blur
// share: forward transform, a step on the spectrum, inverse transform,
// normalisation and rounding.
#ifndef OSTRIVO_ENGINE_FOURIER_FILTER_H
#define OSTRIVO_ENGINE_FOURIER_FILTER_H

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/complex.h"
#include "engine/planes.h"

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

// Transforms the rows x cols plane `in` into the half spectrum `scratch`,
// lets `step(Y, n)` change its n elements in place, transforms back into
// `out` and sets out[k] = round_to_guchar(out[k] / (rows * cols)). `in` is
// read completely by the forward transform before anything is written, so
// `out` may be `in`. The inverse lands straight in
// `out`, so the scratch spectrum is the only working memory. Returns false,
// `out` unset, when a plan cannot be made.
template <typename SpectralStep>
bool filter_plane(const double *in, int rows, int cols, double *out, fftw_complex *scratch,
                  SpectralStep step) {
  const std::size_t cells = plane_cells(rows, cols);
  if (cells == 0) return true;
  Plan forward = forward_plan(rows, cols, in, scratch);
  Plan inverse = inverse_plan(rows, cols, scratch, out);
  if (!forward || !inverse) return false;

  fftw_execute(forward.get());
  step(scratch, spectrum_cells(rows, cols));
  fftw_execute(inverse.get());
  normalise_and_round(out, cells, static_cast<double>(cells));
  return true;
}

// The same with a scratch spectrum of its own; false also when that cannot
// be allocated.
template <typename SpectralStep>
bool filter_plane(const double *in, int rows, int cols, double *out, SpectralStep step) {
  if (plane_cells(rows, cols) == 0) return true;
  Spectrum scratch(spectrum_cells(rows, cols));
  return scratch && filter_plane(in, rows, cols, out, scratch.get(), step);
}

}  // namespace ostrivo

#endif
