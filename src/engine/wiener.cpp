#include "engine/wiener.h"

#include "engine/fourier_filter.h"
#include "engine/planes.h"
#include "engine/settings.h"

namespace ostrivo {

bool canalRestoration(const double *in, const fftw_complex *H, int rows, int cols, double **out) {
  const double K = bvals.k;
  const int half_cols = half_columns(cols);
  return filter_plane(in, rows, cols, *out, round_sample,
                      [H, K, rows, half_cols](int c0, int w, fftw_complex *Y) {
                        for (int i = 0; i < rows; ++i) {
                          const std::size_t row = static_cast<std::size_t>(i) * half_cols;
                          for (std::size_t k = row + c0; k < row + c0 + w; ++k) {
                            fftw_complex weight;
                            wiener_weight(&H[k], K, &weight);
                            apply_weight(&Y[k], &weight);
                          }
                        }
                      });
}

}  // namespace ostrivo
