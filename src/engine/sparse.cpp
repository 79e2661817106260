#include "engine/sparse.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/planes.h"
#include "engine/transform.h"

namespace ostrivo {

namespace {

// The recipe's constants (see sparse.h).
constexpr double kLambdaPerVariance = 0.08;  // lambda = 0.08 strength max(sigma, floor)^2
constexpr double kNoiseFloor = 2.5;          // levels of 255
constexpr double kDetailLambda = 1.5;        // detail planes' lambda, times the main plane's
constexpr double kRhoData = 0.1;             // rho_u
constexpr double kRhoFirst = 0.0025;         // rho_v at the first step
constexpr double kRhoLast = 0.032;           // rho_v at the last step
constexpr double kStartK = 0.01;             // the Wiener constant of the first x
constexpr int kMainSteps = 20;
constexpr int kDetailSteps = 4;

constexpr double kPi = 3.14159265358979323846;

int steps_for(PlaneRole role) { return role == PlaneRole::main ? kMainSteps : kDetailSteps; }

// Soft thresholding: v = shrink(t) = t - c with c = clamp(t, -mu, mu), so
// the scaled dual t - v is c itself and w = 2 v - t = t - 2 c.
double clamp_mu(double t, double mu) { return std::min(std::max(t, -mu), mu); }

class SparseSolver : public Solver {
 public:
  SparseSolver(const SolverSetup &setup, std::size_t cells, std::size_t spectrum)
      : transform_(setup.transform),
        g_(setup.geometry),
        lambda_(sparse_lambda(setup.noise, setup.settings.strength) * setup.scale),
        H_(spectrum),
        spare_(spectrum),
        x_(cells),
        kx_(cells),
        du_(cells),
        dvh_(cells),
        dvv_(cells),
        weight_(setup.data_weight),
        y_(static_cast<std::size_t>(setup.geometry.region_rows) *
           static_cast<std::size_t>(setup.geometry.region_cols)),
        row_d2_(static_cast<std::size_t>(g_.rows)),
        col_d2_(static_cast<std::size_t>(half_columns(g_.cols))),
        boundary_(static_cast<std::size_t>((g_.rows + RegionTransform::kRowChunk - 1) /
                                           RegionTransform::kRowChunk) *
                  static_cast<std::size_t>(g_.cols)) {
    // |D|^2 of the forward differences, one axis at a time.
    for (int i = 0; i < g_.rows; ++i)
      row_d2_[static_cast<std::size_t>(i)] = 2.0 - 2.0 * std::cos(2.0 * kPi * i / g_.rows);
    for (int j = 0; j < half_columns(g_.cols); ++j)
      col_d2_[static_cast<std::size_t>(j)] = 2.0 - 2.0 * std::cos(2.0 * kPi * j / g_.cols);
  }
  bool ok() const { return H_ && spare_ && x_ && kx_ && du_ && dvh_ && dvv_ && y_ && boundary_; }

  void take_psf(const std::vector<PsfTap> &taps) {
    transform_taps(transform_, taps, [&](int c0, int w, fftw_complex *S) {
      each_element(c0, w, [&](std::size_t k, std::size_t c, int, int) {
        H_[k][0] = S[c][0];
        H_[k][1] = S[c][1];
      });
    });
  }

  double cost(PlaneRole role) const override { return 4.0 * steps_for(role) + 3.0; }

  bool solve(const PlaneIO &io, PlaneRole role, const PlaneProgress &progress) override {
    const int steps = steps_for(role);
    const double lambda = role == PlaneRole::main ? lambda_ : kDetailLambda * lambda_;
    const double divisor = static_cast<double>(plane_cells(g_.rows, g_.cols));
    start(io, divisor);
    std::fill(du_.get(), du_.get() + plane_size(), 0.0);
    std::fill(dvh_.get(), dvh_.get() + plane_size(), 0.0);
    std::fill(dvv_.get(), dvv_.get() + plane_size(), 0.0);

    const double q = std::pow(kRhoLast / kRhoFirst, 1.0 / std::max(steps - 1, 1));
    double rho = kRhoFirst;
    for (int step = 1; step <= steps; ++step) {
      const bool last = step == steps;
      const double g = rho / kRhoData;
      // The duals of the gradients follow rho_v's change from the last step.
      const double dual_scale = step == 1 ? 1.0 : 1.0 / q;
      data_step(g);
      prior_step(io, lambda / (2.0 * rho), dual_scale, g, last, divisor);
      if (!last) blurred_x(divisor);
      rho *= q;
      if (progress) progress(static_cast<double>(step) / steps);
    }
    return true;
  }

 private:
  std::size_t plane_size() const { return plane_cells(g_.rows, g_.cols); }
  std::size_t width() const { return static_cast<std::size_t>(g_.cols); }

  // Calls f(k, c, i, j) for every element (i, j) of spectrum columns
  // [c0, c0 + w), k its index in a whole spectrum, c in the step's chunk.
  template <typename F>
  void each_element(int c0, int w, const F &f) const {
    for_spectrum_columns(g_.rows, g_.cols, c0, w, f, spare_.get(), H_.get());
  }

  // x starts as the Wiener restoration (K = kStartK) of the observed plane;
  // h * x goes to kx.
  void start(const PlaneIO &io, double divisor) {
    transform_.filter(
        [&](int r0, int n, double *rows) {
          io.fill(r0, n, rows);
          keep_observed(r0, n, rows);
        },
        [&](int c0, int w, fftw_complex *S) {
          each_element(c0, w, [&](std::size_t k, std::size_t c, int, int) {
            const double hr = H_[k][0], hi = H_[k][1];
            const double inv = 1.0 / (hr * hr + hi * hi + kStartK);
            const double xr = (hr * S[c][0] + hi * S[c][1]) * inv;
            const double xi = (hr * S[c][1] - hi * S[c][0]) * inv;
            S[c][0] = xr;
            S[c][1] = xi;
            spare_[k][0] = hr * xr - hi * xi;
            spare_[k][1] = hr * xi + hi * xr;
          });
        },
        [&](int r0, int n, double *rows) { store(x_.get(), r0, n, rows, divisor); });
    blurred_x(divisor);
  }

  // kx = the inverse transform of the spectrum kept in spare_ (H X).
  void blurred_x(double divisor) {
    transform_.inverse(
        [&](int c0, int w, fftw_complex *S) {
          each_element(c0, w, [&](std::size_t k, std::size_t c, int, int) {
            S[c][0] = spare_[k][0];
            S[c][1] = spare_[k][1];
          });
        },
        [&](int r0, int n, double *rows) { store(kx_.get(), r0, n, rows, divisor); });
  }

  // Keeps the photo's part of rows r0 .. r0 + n - 1 of the observed plane.
  void keep_observed(int r0, int n, const double *rows) {
    for (int r = 0; r < n; ++r) {
      const int i = r0 + r - g_.top;
      if (i < 0 || i >= g_.region_rows) continue;
      const double *from = rows + static_cast<std::size_t>(r) * width() + g_.left;
      float *to = y_.get() + static_cast<std::size_t>(i) * static_cast<std::size_t>(g_.region_cols);
      for (int j = 0; j < g_.region_cols; ++j) to[j] = static_cast<float>(from[j]);
    }
  }

  void store(double *plane, int r0, int n, const double *rows, double divisor) const {
    const std::size_t first = static_cast<std::size_t>(r0) * width();
    const std::size_t count = static_cast<std::size_t>(n) * width();
    for (std::size_t k = 0; k < count; ++k) plane[first + k] = rows[k] / divisor;
  }

  // The u step and its dual, per pixel, as the rows of u - du are made;
  // their transform, times conj(H) / (|H|^2 + g |D|^2), goes to spare_.
  void data_step(double g) {
    const int left = g_.left, right = g_.left + g_.region_cols;
    transform_.forward(
        [&](int r0, int n, double *rows) {
          for (int r = 0; r < n; ++r) {
            const int i = r0 + r;
            double *out = rows + static_cast<std::size_t>(r) * width();
            const std::size_t base = static_cast<std::size_t>(i) * width();
            const double *kx = kx_.get() + base;
            double *du = du_.get() + base;
            // Beyond the photo u follows h * x, and its dual stays 0.
            for (int j = 0; j < g_.cols; ++j) out[j] = kx[j] + du[j];
            const int seen = i - g_.top;
            if (seen < 0 || seen >= g_.region_rows) continue;
            const std::size_t at =
                static_cast<std::size_t>(seen) * static_cast<std::size_t>(g_.region_cols) - left;
            const float *y = y_.get() + at;
            const float *w = weight_ != nullptr ? weight_ + at : nullptr;
            for (int j = left; j < right; ++j) {  // u = argmin w (u - y)^2 + rho_u (u - t)^2
              const double t = out[j];
              const float wj = w != nullptr ? w[j] : 1.0f;
              const double u = (wj * y[j] + kRhoData * t) * (1.0 / (wj + kRhoData));
              du[j] = t - u;
              out[j] = 2.0 * u - t;
            }
          }
          return true;
        },
        [&](int c0, int w, fftw_complex *S) {
          each_element(c0, w, [&](std::size_t k, std::size_t c, int i, int j) {
            const double hr = H_[k][0], hi = H_[k][1];
            const double inv =
                1.0 /
                (hr * hr + hi * hi +
                 g * (row_d2_[static_cast<std::size_t>(i)] + col_d2_[static_cast<std::size_t>(j)]));
            spare_[k][0] = (hr * S[c][0] + hi * S[c][1]) * inv;
            spare_[k][1] = (hr * S[c][1] - hi * S[c][0]) * inv;
          });
        });
  }

  // The v step and its duals, per pixel, as the rows of D^T (v - dv) are
  // made; then x = F^-1(spare_ + g F(D^T (v - dv)) / (|H|^2 + g |D|^2)), and
  // H X kept in spare_ for kx (but for the last step, whose x is the
  // result).
  void prior_step(const PlaneIO &io, double mu, double dual_scale, double g, bool last,
                  double divisor) {
    const int rows_total = g_.rows, cols = g_.cols;
    const auto at = [&](int i, int j) {
      return static_cast<std::size_t>(i) * width() + static_cast<std::size_t>(j);
    };
    // Each chunk of rows needs the vertical dual of the row before it, which
    // another chunk updates meanwhile: keep a copy.
    const int chunk = RegionTransform::kRowChunk;
    for (int r0 = 0; r0 < rows_total; r0 += chunk) {
      const int before = (r0 - 1 + rows_total) % rows_total;
      std::copy_n(dvv_.get() + at(before, 0), width(),
                  boundary_.get() + static_cast<std::size_t>(r0 / chunk) * width());
    }
    transform_.filter(
        [&](int r0, int n, double *rows) {
          // Row r of D^T w gathers wh of its own row and wv of the row
          // before: w = 2 v - t, v = shrink(t), t = D x + dv.
          const int before = (r0 - 1 + rows_total) % rows_total;
          const double *kept = boundary_.get() + static_cast<std::size_t>(r0 / chunk) * width();
          {
            const double *x = x_.get() + at(r0, 0), *x_up = x_.get() + at(before, 0);
            for (int j = 0; j < cols; ++j) {
              const double t = x[j] - x_up[j] + dual_scale * kept[j];
              rows[j] = t - 2.0 * clamp_mu(t, mu);  // wv of the row before
            }
          }
          for (int r = 0; r < n; ++r) {
            const int i = r0 + r;
            const std::size_t row = at(i, 0);
            const double *x = x_.get() + row, *x_down = x_.get() + at((i + 1) % rows_total, 0);
            double *dh = dvh_.get() + row, *dv = dvv_.get() + row;
            double *out = rows + static_cast<std::size_t>(r) * width();
            double *next = r + 1 < n ? out + width() : nullptr;
            // Down the column, and along the row but for its last pixel,
            // whose right neighbour is the row's first.
            for (int j = 0; j < cols; ++j) {
              const double tv = x_down[j] - x[j] + dual_scale * dv[j];
              const double cv = clamp_mu(tv, mu);
              dv[j] = cv;
              const double wv = tv - 2.0 * cv;
              out[j] -= wv;
              if (next != nullptr) next[j] = wv;
            }
            for (int j = 0; j < cols; ++j) {
              const int right = j + 1 < cols ? j + 1 : 0;
              const double th = x[right] - x[j] + dual_scale * dh[j];
              const double ch = clamp_mu(th, mu);
              dh[j] = ch;
              const double wh = th - 2.0 * ch;
              out[j] -= wh;
              out[right] += wh;
            }
          }
        },
        [&](int c0, int w, fftw_complex *S) {
          each_element(c0, w, [&](std::size_t k, std::size_t c, int i, int j) {
            const double hr = H_[k][0], hi = H_[k][1];
            const double ginv =
                g /
                (hr * hr + hi * hi +
                 g * (row_d2_[static_cast<std::size_t>(i)] + col_d2_[static_cast<std::size_t>(j)]));
            const double xr = spare_[k][0] + S[c][0] * ginv;
            const double xi = spare_[k][1] + S[c][1] * ginv;
            S[c][0] = xr;
            S[c][1] = xi;
            if (!last) {
              spare_[k][0] = hr * xr - hi * xi;
              spare_[k][1] = hr * xi + hi * xr;
            }
          });
        },
        [&](int r0, int n, double *rows) {
          if (last)
            io.drain(r0, n, rows, divisor);
          else
            store(x_.get(), r0, n, rows, divisor);
        });
  }

  RegionTransform &transform_;
  const Geometry &g_;
  double lambda_;  // the main plane's, in plane units
  Spectrum H_;     // the point-spread function's spectrum
  Spectrum spare_;
  Plane x_, kx_, du_, dvh_, dvv_;
  const float *weight_;  // the data's weight a pixel of the region, or none
  Buffer<float> y_;      // the observed plane where the photo was seen
  std::vector<double> row_d2_, col_d2_;
  Plane boundary_;  // each row chunk's copy of the vertical dual of the row before it
};

}  // namespace

double sparse_lambda(double sigma, double strength) {
  const double s = std::max(std::isfinite(sigma) ? sigma : 0.0, kNoiseFloor);
  return strength * kLambdaPerVariance * s * s;
}

std::unique_ptr<Solver> prepare_sparse(const SolverSetup &setup) {
  const Geometry &g = setup.geometry;
  auto solver = std::make_unique<SparseSolver>(setup, plane_cells(g.rows, g.cols),
                                               spectrum_cells(g.rows, g.cols));
  if (!solver->ok()) return nullptr;
  solver->take_psf(setup.taps);
  return solver;
}

double sparse_bytes(const Geometry &g) {
  return 2.0 * static_cast<double>(spectrum_cells(g.rows, g.cols)) * sizeof(fftw_complex) +
         5.0 * static_cast<double>(plane_cells(g.rows, g.cols)) * sizeof(double) +
         static_cast<double>(plane_cells(g.region_rows, g.region_cols)) * sizeof(float);
}

}  // namespace ostrivo
