#include "engine/wiener.h"

#include "engine/complex.h"
#include "engine/fourier_filter.h"
#include "engine/planes.h"
#include "engine/settings.h"

namespace ostrivo {

namespace {

// Y[k] becomes Y[k] times the Wiener weight conj(H[k]) / (|H[k]|^2 + K).
void apply_wiener_weight(fftw_complex *__restrict Y, const fftw_complex *__restrict H,
                         std::size_t n, double K) {
  for (std::size_t k = 0; k < n; ++k) {
    const fftw_complex conj_h = {H[k][0], -H[k][1]};
    const double denominator = kwadratModulu(&H[k]) + K;
    fftw_complex weight;
    dzielenie(&conj_h, denominator, &weight);
    fftw_complex restored;
    mnozenieLiczbZespolonych(&Y[k], &weight, &restored);
    Y[k][0] = restored[0];
    Y[k][1] = restored[1];
  }
}

}  // namespace

bool canalRestoration(const double *in, const fftw_complex *H, int rows, int cols, double **out) {
  const double K = bvals.k;
  return filter_plane(in, rows, cols, *out,
                      [H, K](fftw_complex *Y, std::size_t n) { apply_wiener_weight(Y, H, n, K); });
}

bool canalRestoration(const double *in, const fftw_complex *H, int rows, int cols, double *out,
                      fftw_complex *scratch) {
  const double K = bvals.k;
  return filter_plane(in, rows, cols, out, scratch,
                      [H, K](fftw_complex *Y, std::size_t n) { apply_wiener_weight(Y, H, n, K); });
}

}  // namespace ostrivo
