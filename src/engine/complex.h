// Complex arithmetic on FFTW's complex type, and the rounding of samples.
//
// A complex number is an fftw_complex (real part first), so every element of
// a half spectrum can be passed by its address. Operands come first, then a
// real scalar where there is one, then the output. They are defined inline
// because the Wiener and blur loops call them once per spectrum element.
#ifndef OSTRIVO_ENGINE_COMPLEX_H
#define OSTRIVO_ENGINE_COMPLEX_H

#include <fftw3.h>
#include <glib.h>

#include <cmath>

namespace ostrivo {

// |z|^2.
inline double kwadratModulu(const fftw_complex *z) {
  return std::pow((*z)[0], 2.0) + std::pow((*z)[1], 2.0);
}

// Magnitude of a real number, sqrt(v^2).
inline double _abs(double v) { return std::sqrt(std::pow(v, 2.0)); }

// out = z * s. Each part is read just before the same part is written, so
// `out` may be `z`.
inline void mnozenie(const fftw_complex *z, double s, fftw_complex *out) {
  (*out)[0] = (*z)[0] * s;
  (*out)[1] = (*z)[1] * s;
}

// out = z / s; `out` may be `z`.
inline void dzielenie(const fftw_complex *z, double s, fftw_complex *out) {
  (*out)[0] = (*z)[0] / s;
  (*out)[1] = (*z)[1] / s;
}

// out = a * b. The imaginary part reads both operands after the real part
// has been written, so `out` must differ from `a` and `b`.
inline void mnozenieLiczbZespolonych(const fftw_complex *a, const fftw_complex *b,
                                     fftw_complex *out) {
  (*out)[0] = (*a)[0] * (*b)[0] - (*a)[1] * (*b)[1];
  (*out)[1] = (*a)[0] * (*b)[1] + (*a)[1] * (*b)[0];
}

// out = a / b; `out` must differ from `a` and `b`.
inline void dzielenieLiczbZespolonych(const fftw_complex *a, const fftw_complex *b,
                                      fftw_complex *out) {
  const double d = (*b)[0] * (*b)[0] + (*b)[1] * (*b)[1];
  (*out)[0] = ((*a)[0] * (*b)[0] + (*a)[1] * (*b)[1]) / d;
  (*out)[1] = ((*a)[1] * (*b)[0] - (*a)[0] * (*b)[1]) / d;
}

// out = conj(z); `out` may be `z`. +0.0 becomes -0.0.
inline void sprzezenieLiczbyZespolonej(const fftw_complex *z, fftw_complex *out) {
  (*out)[0] = (*z)[0];
  (*out)[1] = -(*z)[1];
}

// The one rounding of a sample to 0..255: nearest whole number with exact
// halves going down (2.5 -> 2), clamped. Every value above 255 (infinity
// too) gives 255, every negative value 0, and a value that is not a number 0.
// No double outside the range of a byte is ever converted to an integer.
//
// round_sample gives the same as a double 0.0..255.0, without branches or
// library calls, so that loops over whole planes vectorise: after the clamp
// 0 <= x <= 255, where (x + 2^52) - 2^52 is x rounded to the nearest whole
// number (exact in IEEE double), and stepping back where that overshot
// gives floor(x).
inline double round_sample(double x) {
  constexpr double kTwo52 = 4503599627370496.0;
  x = x > 0.0 ? x : 0.0;  // negatives and NaN
  x = x < 255.0 ? x : 255.0;
  double lower = (x + kTwo52) - kTwo52;
  lower = lower > x ? lower - 1.0 : lower;
  return x - lower > 0.5 ? lower + 1.0 : lower;
}

inline guchar round_to_guchar(double x) { return static_cast<guchar>(round_sample(x)); }

// Rounds every sample of a rows x cols plane into the plane that `*out`
// designates, as doubles 0.0..255.0. The first argument is not read.
void rysuj_h(const void *unused, const double *in, int rows, int cols, double **out);

}  // namespace ostrivo

#endif
