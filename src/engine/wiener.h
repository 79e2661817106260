// Wiener deconvolution of one channel plane.
#ifndef OSTRIVO_ENGINE_WIENER_H
#define OSTRIVO_ENGINE_WIENER_H

#include <fftw3.h>

#include "engine/complex.h"

namespace ostrivo {

// The Wiener weight of one spectrum element, w = conj(H) / (|H|^2 + K),
// formed as the restoration forms it; `w` may not be `H`.
inline void wiener_weight(const fftw_complex *H, double K, fftw_complex *w) {
  const fftw_complex conj_h = {(*H)[0], -(*H)[1]};
  const double denominator = kwadratModulu(H) + K;
  dzielenie(&conj_h, denominator, w);
}

// Y becomes Y * w; `Y` and `w` are different objects.
inline void apply_weight(fftw_complex *Y, const fftw_complex *w) {
  fftw_complex restored;
  mnozenieLiczbZespolonych(Y, w, &restored);
  (*Y)[0] = restored[0];
  (*Y)[1] = restored[1];
}

// Restores the rows x cols channel plane `in` against the degradation
// spectrum `H` with K = bvals.k: X = Y * conj(H) / (|H|^2 + K), transformed
// back, divided by rows * cols and rounded with round_to_guchar into the
// plane that `*out` designates (which may be `in`). `in` and `H` are only
// read. Returns false, with `*out` unset, when memory or a plan cannot be
// had.
bool canalRestoration(const double *in, const fftw_complex *H, int rows, int cols, double **out);

}  // namespace ostrivo

#endif
