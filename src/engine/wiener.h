// Wiener deconvolution of one channel plane.
#ifndef OSTRIVO_ENGINE_WIENER_H
#define OSTRIVO_ENGINE_WIENER_H

#include <fftw3.h>

namespace ostrivo {

// Restores the rows x cols channel plane `in` against the degradation
// spectrum `H` with K = bvals.k: X = Y * conj(H) / (|H|^2 + K), transformed
// back, divided by rows * cols and rounded with round_to_guchar into the
// plane that `*out` designates (which must differ from `in`). `in` and `H`
// are only read. Returns false, with `*out` unset, when its scratch spectrum
// cannot be allocated or a plan cannot be made.
bool canalRestoration(const double *in, const fftw_complex *H, int rows, int cols, double **out);

// canalRestoration with the caller's scratch half spectrum (rows x
// (cols / 2 + 1) elements), for a caller that restores several planes of
// one size. `out` may be `in`: the plane is read completely before the
// result is written. False only when a plan cannot be made.
bool canalRestoration(const double *in, const fftw_complex *H, int rows, int cols, double *out,
                      fftw_complex *scratch);

}  // namespace ostrivo

#endif
