#include "engine/wiener.h"

#include "engine/planes.h"

namespace ostrivo {

namespace {

class WienerSolver : public Solver {
 public:
  WienerSolver(RegionTransform &transform, Spectrum weights)
      : transform_(transform), weights_(std::move(weights)) {}

  bool solve(const PlaneIO &io, PlaneRole /*role*/, const PlaneProgress & /*progress*/) override {
    const int rows = transform_.rows(), cols = transform_.cols();
    const double divisor = static_cast<double>(plane_cells(rows, cols));
    const fftw_complex *weights = weights_.get();
    transform_.filter(
        [&](int r0, int n, double *plane_rows) { io.fill(r0, n, plane_rows); },
        [&](int c0, int w, fftw_complex *Y) {
          for_spectrum_columns(
              rows, cols, c0, w,
              [&](std::size_t k, std::size_t c, int, int) {
                multiply_in_place(&Y[c], &weights[k]);
              },
              weights);
        },
        [&](int r0, int n, double *plane_rows) { io.drain(r0, n, plane_rows, divisor); });
    return true;
  }

 private:
  RegionTransform &transform_;
  Spectrum weights_;
};

}  // namespace

std::unique_ptr<Solver> prepare_wiener(const SolverSetup &setup) {
  RegionTransform &transform = setup.transform;
  const int rows = transform.rows(), cols = transform.cols();
  Spectrum weights(spectrum_cells(rows, cols));
  if (!weights) return nullptr;
  const double K = setup.settings.k;
  transform_taps(transform, setup.taps, [&](int c0, int w, fftw_complex *H) {
    for_spectrum_columns(
        rows, cols, c0, w,
        [&](std::size_t k, std::size_t c, int, int) { wiener_weight(&H[c], K, &weights[k]); },
        weights.get());
  });
  return std::make_unique<WienerSolver>(transform, std::move(weights));
}

}  // namespace ostrivo
