// How samples enter the engine's planes and leave them: the rounding of a
// restored value to a byte, the clamping of a float, and the compile-time
// stride of interleaved channels.
#ifndef OSTRIVO_ENGINE_SAMPLES_H
#define OSTRIVO_ENGINE_SAMPLES_H

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cmath>
#include <cstddef>
#include <type_traits>

namespace ostrivo {

// The one rounding of a sample to 0..255: nearest whole number with exact
// halves going down (2.5 -> 2), clamped. Every value above 255 (infinity
// too) gives 255, every negative value 0, and a value that is not a number 0.
// No double outside the range of a byte is ever converted to an integer.
//
// It works without branches or library calls, so that loops over whole
// planes vectorise: after the clamp 0 <= x <= 255, where (x + 2^52) - 2^52
// is x rounded to the nearest whole number (exact in IEEE double), and
// stepping back where that overshot gives floor(x).
inline double round_sample(double x) {
  constexpr double kTwo52 = 4503599627370496.0;
  x = x > 0.0 ? x : 0.0;  // negatives and NaN
  x = x < 255.0 ? x : 255.0;
  double lower = (x + kTwo52) - kTwo52;
  lower = lower > x ? lower - 1.0 : lower;
  return x - lower > 0.5 ? lower + 1.0 : lower;
}

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

// A blur by the classic line is a whole sum divided by the line's number m
// of cells, so a good share of its samples are exact halves, which must
// round down. The transforms return each within about 1e-12 of its exact
// value, on either side; any other multiple of 1 / m lies at least
// 1 / (2 m) >= 5e-7 (m <= 2^20) from a half. So a result within
// kHalfTolerance of a half is taken as that half.
inline constexpr double kHalfTolerance = 1e-9;

// round_sample of a transformed blur sample, its exact half recognised.
inline double round_blurred(double x) {
  const double lower = std::floor(x);
  if (std::fabs(x - (lower + 0.5)) < kHalfTolerance) return round_sample(lower);
  return round_sample(x);
}

// How samples of one format leave a transform: `finish` divides n
// transformed values by the plane's size and stores them `stride` apart.
template <typename T>
struct Samples;

template <>
struct Samples<unsigned char> {
  // Rounded with round_sample, exact halves going down.
  template <typename Stride>
  static void finish(double *x, std::size_t n, double divisor, unsigned char *out, Stride stride) {
    normalise_and_round(x, n, divisor);
    // Each is now a whole number 0..255, which converts to its byte exactly.
    for (std::size_t k = 0; k < n; ++k) out[k * stride] = static_cast<unsigned char>(x[k]);
  }
  // A blurred copy: its exact halves recognised.
  template <typename Stride>
  static void finish_blur(double *x, std::size_t n, double divisor, unsigned char *out,
                          Stride stride) {
    for (std::size_t k = 0; k < n; ++k)
      out[k * stride] = static_cast<unsigned char>(round_blurred(x[k] / divisor));
  }
};

template <>
struct Samples<float> {
  // Clamped to 0..1.
  template <typename Stride>
  static void finish(double *x, std::size_t n, double divisor, float *out, Stride stride) {
    for (std::size_t k = 0; k < n; ++k) {
      const double v = x[k] / divisor;
      out[k * stride] = static_cast<float>(v > 0.0 ? (v < 1.0 ? v : 1.0) : 0.0);
    }
  }
  template <typename Stride>
  static void finish_blur(double *x, std::size_t n, double divisor, float *out, Stride stride) {
    finish(x, n, divisor, out, stride);
  }
};

// Calls f with the channel count as a compile-time constant, so that the
// loops that gather one channel from interleaved pixels, or scatter it
// back, are compiled for their stride.
template <typename F>
void with_stride(int channels, const F &f) {
  switch (channels) {
    case 1:
      f(std::integral_constant<std::size_t, 1>{});
      break;
    case 2:
      f(std::integral_constant<std::size_t, 2>{});
      break;
    case 3:
      f(std::integral_constant<std::size_t, 3>{});
      break;
    default:
      f(std::integral_constant<std::size_t, 4>{});
      break;
  }
}

}  // namespace ostrivo

#endif
