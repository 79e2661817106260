// The Wiener solver: X = Y conj(H) / (|H|^2 + K), one pass a plane.
#ifndef OSTRIVO_ENGINE_WIENER_H
#define OSTRIVO_ENGINE_WIENER_H

#include <fftw3.h>

#include <memory>

#include "engine/complex.h"
#include "engine/solver.h"

namespace ostrivo {

// The Wiener weight of one spectrum element, w = conj(H) / (|H|^2 + K),
// formed as the restoration forms it; `w` may not be `H`.
inline void wiener_weight(const fftw_complex *H, double K, fftw_complex *w) {
  const fftw_complex conj_h = {(*H)[0], -(*H)[1]};
  const double denominator = kwadratModulu(H) + K;
  dzielenie(&conj_h, denominator, w);
}

// Computes the weights of every frequency from the taps; nullptr when
// memory cannot be had.
std::unique_ptr<Solver> prepare_wiener(const SolverSetup &setup);

}  // namespace ostrivo

#endif
