// The transform round trip that the Wiener restoration and the frame blur
// share: forward transform, a step on the spectrum, inverse transform,
// normalisation and rounding.
#ifndef OSTRIVO_ENGINE_SPECTRAL_H
#define OSTRIVO_ENGINE_SPECTRAL_H

#include "engine/complex.h"
#include "engine/planes.h"

namespace ostrivo {

// Transforms the rows x cols plane `in`, lets `step(Y, n)` change its n
// spectrum elements in place, transforms back into `out` and sets
// out[k] = round_to_guchar(out[k] / (rows * cols)). `in` is only read and
// must differ from `out`. The inverse lands straight in `out`, so the only
// scratch is one half spectrum. Returns false, `out` unset, when that
// spectrum cannot be allocated or a plan cannot be made.
template <typename SpectralStep>
bool filter_plane(const double *in, int rows, int cols, double *out, SpectralStep step) {
  const std::size_t cells = plane_cells(rows, cols);
  const std::size_t n = spectrum_cells(rows, cols);
  if (cells == 0) return true;

  Spectrum Y(n);
  if (!Y) return false;
  Plan forward = forward_plan(rows, cols, in, Y.get());
  Plan inverse = inverse_plan(rows, cols, Y.get(), out);
  if (!forward || !inverse) return false;

  fftw_execute(forward.get());
  step(Y.get(), n);
  fftw_execute(inverse.get());

  const auto divisor = static_cast<double>(cells);
  for (std::size_t k = 0; k < cells; ++k) out[k] = round_to_guchar(out[k] / divisor);
  return true;
}

}  // namespace ostrivo

#endif
