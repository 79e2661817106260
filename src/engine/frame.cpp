#include "engine/frame.h"

#include "engine/complex.h"
#include "engine/fourier_filter.h"

namespace ostrivo {

namespace {

// Y[k] becomes Y[k] * H[k]: convolution with the point-spread function.
void multiply_by_psf(fftw_complex *__restrict Y, const fftw_complex *__restrict H, std::size_t n) {
  for (std::size_t k = 0; k < n; ++k) {
    fftw_complex product;
    mnozenieLiczbZespolonych(&Y[k], &H[k], &product);
    Y[k][0] = product[0];
    Y[k][1] = product[1];
  }
}

}  // namespace

bool blurFrameOfCanal(const double *in, const fftw_complex *H, int rows, int cols, double **out) {
  return filter_plane(in, rows, cols, *out,
                      [H](fftw_complex *Y, std::size_t n) { multiply_by_psf(Y, H, n); });
}

bool blurFrameOfCanal(const double *in, const fftw_complex *H, int rows, int cols, double *out,
                      fftw_complex *scratch) {
  return filter_plane(in, rows, cols, out, scratch,
                      [H](fftw_complex *Y, std::size_t n) { multiply_by_psf(Y, H, n); });
}

void sumBlurFrameWithOryginalImage(const double *unblurred, const double *blurred, int rows,
                                   int cols, double f, double **out) {
  double *dst = *out;
  for (int i = 0; i < rows; ++i) {
    const bool interior_row = i >= f && i < rows - f;
    const std::size_t row_start = static_cast<std::size_t>(i) * static_cast<std::size_t>(cols);
    for (int j = 0; j < cols; ++j) {
      const std::size_t k = row_start + static_cast<std::size_t>(j);
      const bool interior = interior_row && j >= f && j < cols - f;
      dst[k] = interior ? unblurred[k] : blurred[k];
    }
  }
}

}  // namespace ostrivo
