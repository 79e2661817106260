// Complex arithmetic on FFTW's complex type, as the Wiener step and the
// blur use it.
//
// A complex number is an fftw_complex (real part first), so every element of
// a half spectrum can be passed by its address. Operands come first, then a
// real scalar where there is one, then the output. They are defined inline
// because the Wiener and blur loops call them once per spectrum element.
#ifndef OSTRIVO_ENGINE_COMPLEX_H
#define OSTRIVO_ENGINE_COMPLEX_H

#include <fftw3.h>

#include <cmath>

namespace ostrivo {

// |z|^2.
inline double kwadratModulu(const fftw_complex *z) {
  return std::pow((*z)[0], 2.0) + std::pow((*z)[1], 2.0);
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

// Y becomes Y * w; `Y` and `w` are different objects.
inline void multiply_in_place(fftw_complex *Y, const fftw_complex *w) {
  fftw_complex product;
  mnozenieLiczbZespolonych(Y, w, &product);
  (*Y)[0] = product[0];
  (*Y)[1] = product[1];
}

}  // namespace ostrivo

#endif
