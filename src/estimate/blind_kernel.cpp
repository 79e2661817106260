#include "estimate/blind_kernel.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "engine/padding.h"
#include "engine/planes.h"
#include "engine/threads.h"
namespace ostrivo {

namespace {

using Complex = std::complex<double>;

// The search's planes and spectra start on a 64-byte boundary, as the
// transforms' own arrays do (Fourier), so that the plans always run on them
// in place of copies.
constexpr std::size_t kArrayAlignment = 64;
template <typename T>
struct AlignedAllocator {
  using value_type = T;
  AlignedAllocator() = default;
  template <typename U>
  AlignedAllocator(const AlignedAllocator<U> &) {}
  T *allocate(std::size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    return static_cast<T *>(::operator new(n * sizeof(T), std::align_val_t(kArrayAlignment)));
  }
  void deallocate(T *p, std::size_t) { ::operator delete(p, std::align_val_t(kArrayAlignment)); }
  template <typename U>
  bool operator==(const AlignedAllocator<U> &) const { return true; }
  template <typename U>
  bool operator!=(const AlignedAllocator<U> &) const { return false; }
};
using Values = std::vector<double>;
using Field = std::vector<double, AlignedAllocator<double>>;  // a plane
using Spectrum2 = std::vector<Complex, AlignedAllocator<Complex>>;

constexpr double kPi = 3.14159265358979323846;
// The pyramid: sqrt(2) per level, from a kernel of kCoarsestKernel pixels.
constexpr double kLevelStep = 1.41421356237309505;
constexpr int kCoarsestKernel = 5;
// ... but no level smaller than this, pixels on its shorter side: a coarser
// one holds too few edges to tell a kernel's shape.
constexpr double kCoarsestSide = 64.0;
constexpr int kRoundsPerLevel = 5;
// Each level's kernel window reaches this many times as far as the kernel
// from the level below, enlarged, plus kWindowPad cells.
constexpr double kWindowRoom = 2.0;
constexpr double kWindowPad = 2.0;
// The L0 weight of the edge prediction, on the 0..1 scale: it starts where
// only the strongest edges survive (KernelSearch::edge_weight) and falls by
// kEdgeFall a round.
constexpr double kEdgeLambdaFloor = 1e-4;
constexpr double kEdgeFall = 1.1;
constexpr double kBetaEnd = 1e5;

// The edge weight of the round after one at `lambda`.
double next_edge_weight(double lambda) { return std::max(lambda / kEdgeFall, kEdgeLambdaFloor); }
// The kernel step: Tikhonov weight, as a share of the predicted edges'
// energy, and the conjugate-gradient steps taken each round.
constexpr double kKernelTikhonov = 0.03;
constexpr int kConjugateSteps = 6;
// The finest level's support refinement: weights under kSupportShare of the
// peak bear an L1 weight of kOffSupport times the edges' energy, by
// reweighted least squares (each weighed by the inverse of its last value,
// at least kReweightFloor of the peak).
constexpr double kSupportShare = 0.2;
constexpr double kOffSupport = 1e-3;
constexpr double kReweightFloor = 0.01;
// ... for kernels reaching this many cells from their middle or more: a
// short one, kept to its few heaviest cells, turns into a point (a blur of
// 5.5 pixels was then reported as none).
constexpr int kRefineReach = 8;
// What a motion kernel cannot hold: weights under kKeepShare of the peak,
// and islands of weight under kIslandShare of the whole.
constexpr double kKeepShare = 0.05;
constexpr double kIslandShare = 0.1;
// A sample at or above this is a clipped highlight.
constexpr double kClipped = 0.97;
// The core of a kernel, whose shape says whether it is straight: its weights
// of at least this share of the peak (the faint haze an estimate leaves
// around the path does not count).
constexpr double kCoreShare = 0.2;
// The share of a kernel's weight at each end of its line that its
// unevenness leaves out (KernelShape).
constexpr double kProfileEnds = 0.1;
// Rounds of the power iteration that finds how separable a kernel is (more
// than the grids of the kernels found need to settle).
constexpr int kSeparableRounds = 50;
// The blocks over which the crop's choice adds up gradients.
constexpr int kScoreBlock = 32;
// A second window shares at most this share of the first's area.
constexpr double kMostShared = 0.25;

std::size_t cells(int rows, int cols) { return static_cast<std::size_t>(rows) * cols; }

int odd_at_least_3(double size) {
  int n = std::max(3, static_cast<int>(std::lround(size)));
  return n % 2 == 0 ? n + 1 : n;
}

// --- resampling -----------------------------------------------------------------

// For each sample of an axis resized from `from` to `to` samples (centres
// aligned), the source samples and their weights: a triangle as wide as the
// reduction when reducing (which averages), linear interpolation when
// enlarging.
std::vector<std::vector<std::pair<int, double>>> axis_taps(int from, int to) {
  const double factor = static_cast<double>(to) / from;
  const double radius = factor < 1.0 ? 1.0 / factor : 1.0;
  std::vector<std::vector<std::pair<int, double>>> taps(static_cast<std::size_t>(to));
  for (int o = 0; o < to; ++o) {
    const double centre = (o + 0.5) / factor - 0.5;
    double sum = 0.0;
    auto &list = taps[static_cast<std::size_t>(o)];
    for (int s = static_cast<int>(std::ceil(centre - radius));
         s <= static_cast<int>(std::floor(centre + radius)); ++s) {
      const double w = 1.0 - std::abs(s - centre) / radius;
      if (w <= 0.0) continue;
      list.emplace_back(mirror_index(s, from), w);
      sum += w;
    }
    for (auto &tap : list) tap.second /= sum;
  }
  return taps;
}

GreyImage resized(const GreyImage &in, int rows, int cols) {
  const auto across = axis_taps(in.cols, cols);
  const auto down = axis_taps(in.rows, rows);
  GreyImage wide{in.rows, cols, Values(cells(in.rows, cols))};
  for (int i = 0; i < in.rows; ++i)
    for (int j = 0; j < cols; ++j) {
      double v = 0.0;
      for (const auto &[s, w] : across[static_cast<std::size_t>(j)]) v += w * in.at(i, s);
      wide.at(i, j) = v;
    }
  GreyImage out{rows, cols, Values(cells(rows, cols))};
  for (int i = 0; i < rows; ++i)
    for (const auto &[s, w] : down[static_cast<std::size_t>(i)])
      for (int j = 0; j < cols; ++j) out.at(i, j) += w * wide.at(s, j);
  return out;
}

// --- the kernel's clean-up ------------------------------------------------------

void normalise(KernelGrid *k) {
  double sum = 0.0;
  for (double &w : k->weights) {
    w = std::max(w, 0.0);
    sum += w;
  }
  if (sum <= 0.0) {
    std::fill(k->weights.begin(), k->weights.end(), 0.0);
    k->weights[cells(k->size / 2, k->size) + static_cast<std::size_t>(k->size / 2)] = 1.0;
    return;
  }
  for (double &w : k->weights) w /= sum;
}

// Removes what a motion kernel cannot hold: negative weights, weights under
// kKeepShare of the peak, and 8-connected islands holding under kIslandShare
// of the weight (but never the one with the peak); sums to 1.
void clean_kernel(KernelGrid *k) {
  normalise(k);
  const double peak = *std::max_element(k->weights.begin(), k->weights.end());
  for (double &w : k->weights)
    if (w < kKeepShare * peak) w = 0.0;
  normalise(k);
  const int n = k->size;
  std::vector<int> label(k->weights.size(), -1);
  std::vector<int> stack;
  for (std::size_t start = 0; start < k->weights.size(); ++start) {
    if (k->weights[start] <= 0.0 || label[start] >= 0) continue;
    std::vector<std::size_t> members;
    double sum = 0.0, top = 0.0;
    stack.assign(1, static_cast<int>(start));
    label[start] = 1;
    while (!stack.empty()) {
      const int c = stack.back();
      stack.pop_back();
      members.push_back(static_cast<std::size_t>(c));
      sum += k->weights[static_cast<std::size_t>(c)];
      top = std::max(top, k->weights[static_cast<std::size_t>(c)]);
      const int ci = c / n, cj = c % n;
      for (int di = -1; di <= 1; ++di)
        for (int dj = -1; dj <= 1; ++dj) {
          const int i = ci + di, j = cj + dj;
          if (i < 0 || j < 0 || i >= n || j >= n) continue;
          const auto m = cells(i, n) + static_cast<std::size_t>(j);
          if (k->weights[m] > 0.0 && label[m] < 0) {
            label[m] = 1;
            stack.push_back(static_cast<int>(m));
          }
        }
    }
    if (sum < kIslandShare && top < peak)
      for (std::size_t m : members) k->weights[m] = 0.0;
  }
  normalise(k);
}

// Moves the kernel by whole cells so that its centre of mass sits on its
// middle cell.
void centre_kernel(KernelGrid *k) {
  const int n = k->size, h = n / 2;
  double ci = 0.0, cj = 0.0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const double w = k->weights[cells(i, n) + static_cast<std::size_t>(j)];
      ci += w * i;
      cj += w * j;
    }
  const int si = h - static_cast<int>(std::lround(ci));
  const int sj = h - static_cast<int>(std::lround(cj));
  if (si == 0 && sj == 0) return;
  Values moved(k->weights.size(), 0.0);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const int ti = i + si, tj = j + sj;
      if (ti >= 0 && tj >= 0 && ti < n && tj < n)
        moved[cells(ti, n) + static_cast<std::size_t>(tj)] =
            k->weights[cells(i, n) + static_cast<std::size_t>(j)];
    }
  k->weights = std::move(moved);
  normalise(k);
}

// How far from its middle cell, in cells along either axis, the kernel
// holds weight.
int weight_reach(const KernelGrid &k) {
  const int n = k.size, h = n / 2;
  int reach = 0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      if (k.weights[cells(i, n) + static_cast<std::size_t>(j)] > 0.0)
        reach = std::max({reach, std::abs(i - h), std::abs(j - h)});
  return reach;
}

// --- one level ------------------------------------------------------------------

// Real 2-D transforms of one padded size.
class Fourier {
 public:
  Fourier(int rows, int cols)
      : rows_(rows),
        cols_(cols),
        plane_(cells(rows, cols)),
        spectrum_(spectrum_cells(rows, cols)),
        forward_(forward_plan(rows, cols, plane_.data(), spectrum())),
        inverse_(inverse_plan(rows, cols, spectrum(), plane_.data())) {}
  bool ok() const { return forward_ && inverse_; }
  int rows() const { return rows_; }
  int cols() const { return cols_; }
  std::size_t spectrum_size() const { return spectrum_cells(rows_, cols_); }

  // The transform of `in` into `out`, which is sized to fit. The plans run
  // on the callers' arrays where those have the alignment of the plans' own
  // (the same arithmetic either way; Field and Spectrum2 always have it),
  // and through the plans' arrays where not.
  void forward(const Field &in, Spectrum2 *out) const {
    out->resize(spectrum_size());
    auto *to = reinterpret_cast<fftw_complex *>(out->data());
    // An out-of-place real-to-complex transform leaves its input as it was.
    auto *from = const_cast<double *>(in.data());
    if (aligned(from, plane_.data()) && aligned(&to[0][0], &spectrum()[0][0])) {
      fftw_execute_dft_r2c(forward_.get(), from, to);
      return;
    }
    std::memcpy(plane_.data(), in.data(), in.size() * sizeof(double));
    fftw_execute(forward_.get());
    std::memcpy(static_cast<void *>(out->data()), spectrum_.data(), out->size() * sizeof(Complex));
  }
  Spectrum2 forward(const Field &in) const {
    Spectrum2 out;
    forward(in, &out);
    return out;
  }
  // The inverse transform of `in` into `out`, divided by the cells. The
  // complex-to-real transform overwrites its input: this one runs on a copy,
  // inverse_consuming on `in` itself, which it leaves undefined.
  void inverse(const Spectrum2 &in, Field *out) const {
    std::memcpy(static_cast<void *>(spectrum_.data()), in.data(), in.size() * sizeof(Complex));
    run_inverse(spectrum(), out);
  }
  void inverse_consuming(Spectrum2 *in, Field *out) const {
    auto *from = reinterpret_cast<fftw_complex *>(in->data());
    if (!aligned(&from[0][0], &spectrum()[0][0])) {
      inverse(*in, out);
      return;
    }
    run_inverse(from, out);
  }
  Field inverse(const Spectrum2 &in) const {
    Field out;
    inverse(in, &out);
    return out;
  }

 private:
  fftw_complex *spectrum() const { return reinterpret_cast<fftw_complex *>(spectrum_.data()); }

  void run_inverse(fftw_complex *from, Field *out) const {
    const double n = static_cast<double>(cells(rows_, cols_));
    out->resize(cells(rows_, cols_));
    if (aligned(out->data(), plane_.data())) {
      fftw_execute_dft_c2r(inverse_.get(), from, out->data());
      for (double &v : *out) v /= n;
      return;
    }
    fftw_execute_dft_c2r(inverse_.get(), from, plane_.data());
    for (std::size_t k = 0; k < out->size(); ++k) (*out)[k] = plane_[k] / n;
  }

  // Alike to the widest SIMD vector's 64 bytes, stricter than FFTW's own
  // test (fftw_alignment_of looks at 16), so that no plan meets an array
  // less aligned than the one it was made on.
  static bool aligned(const double *a, const double *b) {
    constexpr std::uintptr_t kVector = 64;
    return reinterpret_cast<std::uintptr_t>(a) % kVector ==
           reinterpret_cast<std::uintptr_t>(b) % kVector;
  }

  int rows_, cols_;
  mutable Field plane_;
  mutable Spectrum2 spectrum_;
  Plan forward_, inverse_;
};

// The arrays a level works in. One set serves every level of a search,
// reserved at the size of its finest plane, so that no level allocates:
// fresh memory is zeroed page by page as it is first touched, and a search
// that took new arrays at every level spent a tenth of its time so.
struct LevelArrays {
  Field y, weight, x, div, lx, ly, a, c, plane, kernel_plane;
  Spectrum2 Y, DX, DY, WGX, WGY, K, numerator, X, G, LX, LY, A, B, WA, WC;
  Values gradient_power, power, row_scratch;
  std::vector<int> clipped, clipped_sums;

  // Room for a level of up to `rows` x `cols` cells.
  LevelArrays(int rows, int cols) {
    const std::size_t samples = cells(rows, cols), n = spectrum_cells(rows, cols);
    for (Field *f : {&y, &weight, &x, &div, &lx, &ly, &a, &c, &plane, &kernel_plane})
      f->reserve(samples);
    for (Spectrum2 *s :
         {&Y, &DX, &DY, &WGX, &WGY, &K, &numerator, &X, &G, &LX, &LY, &A, &B, &WA, &WC})
      s->reserve(n);
    gradient_power.reserve(n);
    power.reserve(n);
    row_scratch.reserve(cells(3, cols));
    clipped.reserve(samples);
    clipped_sums.reserve(samples + static_cast<std::size_t>(rows + cols + 1));
  }
};

class Level {
 public:
  // `y`: the level's image; `ks`: its kernel's size; `fourier`: transforms
  // of a plane at least y.rows + ks by y.cols + ks; `arrays`: room for that
  // plane.
  Level(const GreyImage &y, int ks, const Fourier &fourier, LevelArrays &arrays)
      : rows_(y.rows),
        cols_(y.cols),
        prows_(fourier.rows()),
        pcols_(fourier.cols()),
        ks_(ks),
        fourier_(fourier),
        arrays_(arrays) {
    if (!fourier_.ok() || prows_ < rows_ + ks || pcols_ < cols_ + ks) return;
    // Every array at the level's size at once: nothing is allocated while
    // a pool's threads share a round.
    const std::size_t plane = cells(prows_, pcols_), spectrum = spectrum_cells(prows_, pcols_);
    for (Field *f : {&y_, &x_, &div_, &lx_, &ly_, &a_, &c_, &plane_}) f->resize(plane);
    for (Spectrum2 *s : {&K_, &numerator_, &X_, &G_, &LX_, &LY_, &A_, &B_, &WA_, &WC_})
      s->resize(spectrum);
    gradient_power_.resize(spectrum);
    power_.resize(spectrum);
    row_scratch_.resize(cells(3, pcols_));
    // The image continued by mirror images of itself, on to the far side
    // of the periodic plane where it meets its own near edge.
    const auto source = [](int p, int n, int padded) {
      return p < n + (padded - n) / 2 ? mirror_index(p, n) : mirror_index(p - padded, n);
    };
    for (int i = 0; i < prows_; ++i)
      for (int j = 0; j < pcols_; ++j)
        y_[cell(i, j)] = y.at(source(i, rows_, prows_), source(j, cols_, pcols_));
    fourier_.forward(y_, &Y_);
    Field &d = plane_;
    d.assign(plane, 0.0);
    d[0] = -1.0;
    d[cell(0, pcols_ - 1)] = 1.0;
    fourier_.forward(d, &DX_);
    d[cell(0, pcols_ - 1)] = 0.0;
    d[cell(prows_ - 1, 0)] = 1.0;
    fourier_.forward(d, &DY_);

    // The weights of the kernel's data term: the image where the kernel's
    // whole reach was seen, away from clipped highlights.
    const int h = ks / 2;
    weight_.assign(plane, 0.0);
    std::vector<int> &clipped_rows = arrays_.clipped;
    clipped_rows.assign(cells(rows_, cols_), 0);
    for (int i = 0; i < rows_; ++i)
      for (int j = 0; j < cols_; ++j) clipped_rows[cells(i, cols_) + j] = y.at(i, j) >= kClipped;
    // Cells within the kernel's reach of a clipped one: a running sum.
    std::vector<int> &sum = arrays_.clipped_sums;
    sum.assign(cells(rows_ + 1, cols_ + 1), 0);
    for (int i = 0; i < rows_; ++i)
      for (int j = 0; j < cols_; ++j)
        sum[cells(i + 1, cols_ + 1) + j + 1] =
            clipped_rows[cells(i, cols_) + j] + sum[cells(i, cols_ + 1) + j + 1] +
            sum[cells(i + 1, cols_ + 1) + j] - sum[cells(i, cols_ + 1) + j];
    const auto box = [&](int i0, int j0, int i1, int j1) {
      i0 = std::max(i0, 0), j0 = std::max(j0, 0), i1 = std::min(i1, rows_),
      j1 = std::min(j1, cols_);
      return sum[cells(i1, cols_ + 1) + j1] - sum[cells(i0, cols_ + 1) + j1] -
             sum[cells(i1, cols_ + 1) + j0] + sum[cells(i0, cols_ + 1) + j0];
    };
    for (int i = h; i < rows_ - h - 1; ++i)
      for (int j = h; j < cols_ - h - 1; ++j)
        if (box(i - h - 1, j - h - 1, i + h + 2, j + h + 2) == 0) weight_[cell(i, j)] = 1.0;
    Field &gx = lx_, &gy = ly_;
    gradient(y_, 0, 1, &gx);
    gradient(y_, 1, 0, &gy);
    for (std::size_t k = 0; k < gx.size(); ++k) {
      gx[k] *= weight_[k];
      gy[k] *= weight_[k];
    }
    fourier_.forward(gx, &WGX_);
    fourier_.forward(gy, &WGY_);
    for (std::size_t f = 0; f < spectrum; ++f)
      gradient_power_[f] = std::norm(DX_[f]) + std::norm(DY_[f]);
    kernel_plane_.assign(plane, 0.0);
    ok_ = true;
  }
  bool ok() const { return ok_; }

  // One round: the edges predicted with `kernel`, then the kernel from them
  // (kept to its support if `refine`). With a `pool`, two of its threads
  // share the kernel step, each taking one of each pair of transforms, so
  // that every value is computed as on one thread and the kernel is the
  // same to the bit.
  void round(KernelGrid *kernel, double lambda, bool refine, WorkerPool *pool = nullptr) {
    pool_ = pool;
    predict_edges(*kernel, lambda);
    update_kernel(kernel, refine);
    pool_ = nullptr;
  }

 private:
  std::size_t cell(int i, int j) const { return cells(i, pcols_) + static_cast<std::size_t>(j); }

  // a() and b(), side by side where there is a pool: the kernel step's
  // transforms come in pairs. (Cutting the elementwise steps between the
  // threads did not pay: the transforms in between then fetched half their
  // input from the other core's cache.)
  template <typename A, typename B>
  void side_by_side(const A &a, const B &b) const {
    if (pool_ != nullptr && pool_->size() > 1) {
      pool_->run(2, [&](std::size_t i, int) { i == 0 ? a() : b(); });
      return;
    }
    a();
    b();
  }

  // Forward differences on the periodic plane, along rows (di = 0, dj = 1)
  // or columns, into `g` (of the plane's size).
  void gradient(const Field &x, int di, int dj, Field *g) const {
    for (int i = 0; i < prows_; ++i) {
      const int ni = i + di < prows_ ? i + di : 0;
      for (int j = 0; j < pcols_; ++j) {
        const int nj = j + dj < pcols_ ? j + dj : 0;
        (*g)[cell(i, j)] = x[cell(ni, nj)] - x[cell(i, j)];
      }
    }
  }

  // The kernel's weights on the periodic plane, its middle cell on the
  // origin, transformed into `out`.
  void kernel_spectrum(const Values &weights, Spectrum2 *out) {
    const int h = ks_ / 2;
    const auto at = [&](int i, int j) {
      return cell((i - h + prows_) % prows_, (j - h + pcols_) % pcols_);
    };
    for (int i = 0; i < ks_; ++i)
      for (int j = 0; j < ks_; ++j) kernel_plane_[at(i, j)] = weights[cells(i, ks_) + j];
    fourier_.forward(kernel_plane_, out);
    for (int i = 0; i < ks_; ++i)
      for (int j = 0; j < ks_; ++j) kernel_plane_[at(i, j)] = 0.0;
  }

  // The kernel's window cut from a plane (the inverse of kernel_spectrum's
  // placement).
  Values kernel_window(const Field &plane) const {
    const int h = ks_ / 2;
    Values k(cells(ks_, ks_));
    for (int i = 0; i < ks_; ++i)
      for (int j = 0; j < ks_; ++j)
        k[cells(i, ks_) + j] = plane[cell((i - h + prows_) % prows_, (j - h + pcols_) % pcols_)];
    return k;
  }

  // Row i's gradients of x_ (forward, periodic) where they are strong
  // enough, 0 where not.
  void kept_gradients(int i, double keep, double *gx, double *gy) const {
    const double *row = &x_[cell(i, 0)], *below = &x_[cell(i + 1 < prows_ ? i + 1 : 0, 0)];
    const auto one = [&](int j, double right) {
      double x = right - row[j];
      double y = below[j] - row[j];
      if (x * x + y * y < keep) x = y = 0.0;
      gx[j] = x;
      gy[j] = y;
    };
    const int last = pcols_ - 1;
    for (int j = 0; j < last; ++j) one(j, row[j + 1]);
    one(last, row[0]);
  }

  // div_ = D^T g, g the kept gradients of x_: each cell gathers what the
  // gradients of its own cell, the one to its left and the one above give
  // it, in the order in which a pass over the rows, scattering each cell's
  // gradients to its neighbours, would add them.
  void divergence(double keep) {
    double *gx = row_scratch_.data(), *gy = gx + pcols_, *gy_above = gy + pcols_;
    kept_gradients(prows_ - 1, keep, gx, gy_above);
    const int w = pcols_ - 1;
    for (int i = 0; i < prows_; ++i) {
      kept_gradients(i, keep, gx, gy);
      double *d = &div_[cell(i, 0)];
      if (i > 0) {
        d[0] = 0.0 + gy_above[0] - gx[0] - gy[0] + gx[w];
        for (int j = 1; j < pcols_; ++j) d[j] = 0.0 + gy_above[j] + gx[j - 1] - gx[j] - gy[j];
      } else {
        d[0] = 0.0 - gx[0] - gy[0] + gx[w] + gy_above[0];
        for (int j = 1; j < pcols_; ++j) d[j] = 0.0 + gx[j - 1] - gx[j] - gy[j] + gy_above[j];
      }
      std::swap(gy, gy_above);
    }
  }

  // min |k * x - y|^2 + lambda |grad x|_0 by half-quadratic splitting, into
  // x_.
  void predict_edges(const KernelGrid &k, double lambda) {
    kernel_spectrum(k.weights, &K_);
    const std::size_t n = K_.size();
    for (std::size_t f = 0; f < n; ++f) {
      numerator_[f] = std::conj(K_[f]) * Y_[f];
      power_[f] = std::norm(K_[f]);
    }
    x_ = y_;
    for (double beta = 2.0 * lambda; beta < kBetaEnd; beta *= 2.0) {
      // g: the gradients of x where they are strong enough, then div = D^T g.
      divergence(lambda / beta);
      fourier_.forward(div_, &G_);
      for (std::size_t f = 0; f < n; ++f)
        X_[f] = (numerator_[f] + beta * G_[f]) / (power_[f] + beta * gradient_power_[f]);
      fourier_.inverse_consuming(&X_, &x_);
    }
  }

  // Least squares on the gradients of x_, weighted, with a Tikhonov term
  // (and, if `refine`, the L1 term off the kernel's support), by conjugate
  // gradients on the kernel's grid; then cleaned.
  void update_kernel(KernelGrid *kernel, bool refine) {
    side_by_side(
        [&] {
          gradient(x_, 0, 1, &lx_);
          fourier_.forward(lx_, &LX_);
        },
        [&] {
          gradient(x_, 1, 0, &ly_);
          fourier_.forward(ly_, &LY_);
        });
    const std::size_t n = LX_.size();
    double energy = 0.0;
    for (std::size_t k = 0; k < lx_.size(); ++k)
      energy += weight_[k] * (lx_[k] * lx_[k] + ly_[k] * ly_[k]);
    const double gamma = kKernelTikhonov * energy + 1e-12;
    Values penalty(kernel->weights.size(), gamma);
    if (refine) {
      const double peak = *std::max_element(kernel->weights.begin(), kernel->weights.end());
      const double floor = kReweightFloor * peak;
      for (std::size_t m = 0; m < penalty.size(); ++m)
        if (kernel->weights[m] < kSupportShare * peak)
          penalty[m] += kOffSupport * energy / std::max(kernel->weights[m], floor);
    }

    for (std::size_t f = 0; f < n; ++f)
      A_[f] = std::conj(LX_[f]) * WGX_[f] + std::conj(LY_[f]) * WGY_[f];
    fourier_.inverse_consuming(&A_, &plane_);
    const Values b = kernel_window(plane_);

    const auto apply = [&](const Values &k) {
      kernel_spectrum(k, &K_);
      for (std::size_t f = 0; f < n; ++f) {
        A_[f] = LX_[f] * K_[f];
        B_[f] = LY_[f] * K_[f];
      }
      // Each predicted gradient convolved with the kernel, weighted, and back.
      const auto weighted = [&](Spectrum2 *in, Field *plane, Spectrum2 *out) {
        fourier_.inverse_consuming(in, plane);
        for (std::size_t m = 0; m < plane->size(); ++m) (*plane)[m] *= weight_[m];
        fourier_.forward(*plane, out);
      };
      side_by_side([&] { weighted(&A_, &a_, &WA_); }, [&] { weighted(&B_, &c_, &WC_); });
      for (std::size_t f = 0; f < n; ++f)
        A_[f] = std::conj(LX_[f]) * WA_[f] + std::conj(LY_[f]) * WC_[f];
      fourier_.inverse_consuming(&A_, &plane_);
      Values out = kernel_window(plane_);
      for (std::size_t m = 0; m < out.size(); ++m) out[m] += penalty[m] * k[m];
      return out;
    };
    const auto dot = [](const Values &u, const Values &v) {
      double s = 0.0;
      for (std::size_t m = 0; m < u.size(); ++m) s += u[m] * v[m];
      return s;
    };

    Values k = kernel->weights;
    Values r = b;
    const Values ak = apply(k);
    for (std::size_t m = 0; m < r.size(); ++m) r[m] -= ak[m];
    Values p = r;
    double rr = dot(r, r);
    for (int step = 0; step < kConjugateSteps && rr > 1e-30; ++step) {
      const Values ap = apply(p);
      const double alpha = rr / std::max(dot(p, ap), 1e-300);
      for (std::size_t m = 0; m < k.size(); ++m) {
        k[m] += alpha * p[m];
        r[m] -= alpha * ap[m];
      }
      const double next = dot(r, r);
      for (std::size_t m = 0; m < p.size(); ++m) p[m] = r[m] + next / rr * p[m];
      rr = next;
    }
    kernel->weights = std::move(k);
    clean_kernel(kernel);
  }

  int rows_, cols_, prows_, pcols_, ks_;
  const Fourier &fourier_;
  LevelArrays &arrays_;
  bool ok_ = false;
  WorkerPool *pool_ = nullptr;
  // The level's image on the periodic plane, the kernel step's weights and
  // the spectra that stay through the level: the image's, the two
  // differences', the weighted gradients' and |DX|^2 + |DY|^2.
  Field &y_ = arrays_.y, &weight_ = arrays_.weight;
  Spectrum2 &Y_ = arrays_.Y, &DX_ = arrays_.DX, &DY_ = arrays_.DY, &WGX_ = arrays_.WGX,
            &WGY_ = arrays_.WGY;
  Values &gradient_power_ = arrays_.gradient_power;
  // Working arrays: the predicted edges and what the steps compute on the
  // way.
  Field &x_ = arrays_.x, &div_ = arrays_.div, &lx_ = arrays_.lx, &ly_ = arrays_.ly, &a_ = arrays_.a,
        &c_ = arrays_.c, &plane_ = arrays_.plane, &kernel_plane_ = arrays_.kernel_plane;
  Values &row_scratch_ = arrays_.row_scratch, &power_ = arrays_.power;
  Spectrum2 &K_ = arrays_.K, &numerator_ = arrays_.numerator, &X_ = arrays_.X, &G_ = arrays_.G,
            &LX_ = arrays_.LX, &LY_ = arrays_.LY, &A_ = arrays_.A, &B_ = arrays_.B,
            &WA_ = arrays_.WA, &WC_ = arrays_.WC;
};

}  // namespace

Window estimation_window(const GreyImage &photo, int side, const Window *avoid) {
  if (photo.rows <= side && photo.cols <= side)
    return avoid == nullptr ? Window{0, 0, photo.rows, photo.cols} : Window{};
  const int h = std::min(side, photo.rows), w = std::min(side, photo.cols);
  // Per block: the structure tensor's sums and the clipped pixels.
  const int brows = (photo.rows + kScoreBlock - 1) / kScoreBlock;
  const int bcols = (photo.cols + kScoreBlock - 1) / kScoreBlock;
  struct Block {
    double xx = 0, yy = 0, xy = 0;
    int clipped = 0;
  };
  std::vector<Block> blocks(cells(brows, bcols));
  for (int i = 0; i + 1 < photo.rows; ++i)
    for (int j = 0; j + 1 < photo.cols; ++j) {
      Block &b = blocks[cells(i / kScoreBlock, bcols) + static_cast<std::size_t>(j / kScoreBlock)];
      const double v = photo.at(i, j);
      const double gx = photo.at(i, j + 1) - v, gy = photo.at(i + 1, j) - v;
      b.xx += gx * gx;
      b.yy += gy * gy;
      b.xy += gx * gy;
      b.clipped += v >= kClipped;
    }
  // Windows on the block grid: the one whose edges are strongest in their
  // weakest direction (the smaller eigenvalue of the summed tensor), with
  // few clipped pixels.
  const int wb = std::max(1, h / kScoreBlock), hb = wb;
  const int wbc = std::max(1, w / kScoreBlock);
  double best = -1.0;
  int best_i = (photo.rows - h) / 2, best_j = (photo.cols - w) / 2;
  const auto shared = [&](int i, int j) {
    if (avoid == nullptr) return 0.0;
    const int rows = std::min(i + h, avoid->row + avoid->rows) - std::max(i, avoid->row);
    const int cols = std::min(j + w, avoid->col + avoid->cols) - std::max(j, avoid->col);
    return rows <= 0 || cols <= 0 ? 0.0 : static_cast<double>(rows) * cols / (h * w);
  };
  for (int bi = 0; bi + hb <= brows; ++bi)
    for (int bj = 0; bj + wbc <= bcols; ++bj) {
      Block s;
      for (int i = bi; i < bi + hb; ++i)
        for (int j = bj; j < bj + wbc; ++j) {
          const Block &b = blocks[cells(i, bcols) + static_cast<std::size_t>(j)];
          s.xx += b.xx, s.yy += b.yy, s.xy += b.xy, s.clipped += b.clipped;
        }
      const double mean = 0.5 * (s.xx + s.yy);
      const double spread = std::sqrt(0.25 * (s.xx - s.yy) * (s.xx - s.yy) + s.xy * s.xy);
      const double clipped_share = static_cast<double>(s.clipped) /
                                   (static_cast<double>(hb) * wbc * kScoreBlock * kScoreBlock);
      const double score = (mean - spread) * std::max(0.0, 1.0 - 4.0 * clipped_share);
      if (shared(std::min(bi * kScoreBlock, photo.rows - h),
                 std::min(bj * kScoreBlock, photo.cols - w)) > kMostShared)
        continue;
      if (score > best) {
        best = score;
        best_i = std::min(bi * kScoreBlock, photo.rows - h);
        best_j = std::min(bj * kScoreBlock, photo.cols - w);
      }
    }
  if (best < 0.0) return {};
  return {best_i, best_j, h, w};
}

double kernel_agreement(const KernelGrid &a, const KernelGrid &b, int reach) {
  double aa = 0.0, bb = 0.0;
  for (double v : a.weights) aa += v * v;
  for (double v : b.weights) bb += v * v;
  if (aa <= 0.0 || bb <= 0.0) return 0.0;
  double best = 0.0;
  for (int di = -reach; di <= reach; ++di)
    for (int dj = -reach; dj <= reach; ++dj) {
      double ab = 0.0;
      for (int i = 0; i < a.size; ++i) {
        const int bi = i - a.size / 2 + b.size / 2 + di;
        if (bi < 0 || bi >= b.size) continue;
        for (int j = 0; j < a.size; ++j) {
          const int bj = j - a.size / 2 + b.size / 2 + dj;
          if (bj >= 0 && bj < b.size)
            ab += a.weights[cells(i, a.size) + static_cast<std::size_t>(j)] *
                  b.weights[cells(bi, b.size) + static_cast<std::size_t>(bj)];
        }
      }
      best = std::max(best, ab / std::sqrt(aa * bb));
    }
  return best;
}

namespace {

// The levels of one search, finest last, and their transforms (planned on
// the calling thread before any search runs).
struct LevelPlan {
  double scale = 1.0;  // of the photo
  int window = 0;      // the largest kernel window the level may use
  int rows = 0, cols = 0;
};

std::vector<LevelPlan> level_plans(const GreyImage &image, int max_size) {
  int levels = 1;
  while (max_size / std::pow(kLevelStep, levels) >= kCoarsestKernel &&
         std::min(image.rows, image.cols) / std::pow(kLevelStep, levels) >= kCoarsestSide)
    ++levels;
  std::vector<LevelPlan> plans;
  for (int l = 0; l < levels; ++l) {
    LevelPlan p;
    p.scale = std::pow(kLevelStep, l - (levels - 1));
    p.window = l == levels - 1 ? max_size : odd_at_least_3(max_size * p.scale);
    p.rows = std::max(p.window + 2, static_cast<int>(std::lround(image.rows * p.scale)));
    p.cols = std::max(p.window + 2, static_cast<int>(std::lround(image.cols * p.scale)));
    plans.push_back(p);
  }
  return plans;
}

// The window the next level uses: kWindowRoom times the reach of the kernel
// found, enlarged by `growth` (the step between the levels), plus
// kWindowPad cells, within the level's largest window. A window
// far larger than the shake gives noise and stray edges room to spread
// into, which the search then takes for the kernel.
int next_window(const KernelGrid &k, double growth, int largest) {
  const int wanted =
      2 * static_cast<int>(std::ceil(weight_reach(k) * growth * kWindowRoom + kWindowPad)) + 1;
  return std::min(largest, std::max(kCoarsestKernel, wanted));
}

// The kernel enlarged `growth` times about its middle cell (bilinear) into
// a window of `size` cells.
KernelGrid regrown(const KernelGrid &k, double growth, int size) {
  KernelGrid out{size, Values(cells(size, size), 0.0)};
  const int n = k.size, h = n / 2, ho = size / 2;
  for (int i = 0; i < size; ++i)
    for (int j = 0; j < size; ++j) {
      const double y = (i - ho) / growth + h, x = (j - ho) / growth + h;
      const int i0 = static_cast<int>(std::floor(y)), j0 = static_cast<int>(std::floor(x));
      const double fy = y - i0, fx = x - j0;
      double v = 0.0;
      for (int di = 0; di <= 1; ++di)
        for (int dj = 0; dj <= 1; ++dj) {
          const int a = i0 + di, b = j0 + dj;
          if (a >= 0 && b >= 0 && a < n && b < n)
            v += (di ? fy : 1 - fy) * (dj ? fx : 1 - fx) *
                 k.weights[cells(a, n) + static_cast<std::size_t>(b)];
        }
      out.weights[cells(i, size) + static_cast<std::size_t>(j)] = v;
    }
  normalise(&out);
  return out;
}

// One search, coarse to fine, with its levels' transforms.
KernelGrid search(const GreyImage &image, double edge_weight, const std::vector<LevelPlan> &plans,
                  const std::vector<Fourier> &transforms) {
  LevelArrays arrays(transforms.back().rows(), transforms.back().cols());
  KernelGrid kernel;
  double lambda = edge_weight;
  for (std::size_t l = 0; l < plans.size(); ++l) {
    const LevelPlan &p = plans[l];
    if (l == 0) {
      // A point, slightly spread: no direction favoured.
      const int ks = p.window, h = ks / 2;
      kernel.size = ks;
      kernel.weights.assign(cells(ks, ks), 0.0);
      for (int di = -1; di <= 1; ++di)
        for (int dj = -1; dj <= 1; ++dj)
          kernel.weights[cells(h + di, ks) + static_cast<std::size_t>(h + dj)] =
              (2 - std::abs(di)) * (2 - std::abs(dj)) / 16.0;
    } else {
      const double growth = static_cast<double>(p.window) / plans[l - 1].window;
      kernel = regrown(kernel, growth, next_window(kernel, growth, p.window));
    }
    Level level(resized(image, p.rows, p.cols), kernel.size, transforms[l], arrays);
    if (!level.ok()) return {};
    const bool finest = l + 1 == plans.size();
    for (int r = 0; r < kRoundsPerLevel; ++r) {
      level.round(&kernel, lambda, finest && r > 0 && weight_reach(kernel) >= kRefineReach);
      lambda = next_edge_weight(lambda);
    }
    centre_kernel(&kernel);
  }
  // The kernel in the window the caller asked for.
  KernelGrid out{plans.back().window, Values(cells(plans.back().window, plans.back().window))};
  const int shift = (out.size - kernel.size) / 2;
  for (int i = 0; i < kernel.size; ++i)
    for (int j = 0; j < kernel.size; ++j)
      out.weights[cells(i + shift, out.size) + static_cast<std::size_t>(j + shift)] =
          kernel.weights[cells(i, kernel.size) + static_cast<std::size_t>(j)];
  return out;
}

}  // namespace

std::vector<KernelGrid> find_kernels(const std::vector<KernelSearch> &searches, int threads) {
  std::vector<std::vector<LevelPlan>> plans;
  std::vector<std::vector<Fourier>> transforms(searches.size());
  try {
    for (std::size_t s = 0; s < searches.size(); ++s) {
      plans.push_back(level_plans(*searches[s].image, odd_at_least_3(searches[s].max_size)));
      transforms[s].reserve(plans[s].size());
      for (const LevelPlan &p : plans[s]) {
        transforms[s].emplace_back(fast_size(p.rows + p.window), fast_size(p.cols + p.window));
        if (!transforms[s].back().ok()) return {};
      }
    }
  } catch (const std::bad_alloc &) {
    return {};
  }
  std::vector<KernelGrid> found(searches.size());
  // Each search runs on one thread, and the searches take about as long as
  // each other: three on two cores one after another would leave a core
  // idle for the last third. So where more than one thread may run, every
  // search gets a thread of its own, and the system shares the cores.
  const int allowed = engine_threads(threads);
  WorkerPool pool(allowed > 1 ? static_cast<int>(searches.size()) : 1);
  pool.run(searches.size(), [&](std::size_t s, int) {
    try {
      found[s] = search(*searches[s].image, searches[s].edge_weight, plans[s], transforms[s]);
    } catch (const std::bad_alloc &) {
      found[s] = {};
    }
  });
  for (const KernelGrid &k : found)
    if (k.size == 0) return {};
  return found;
}

KernelGrid find_kernel(const GreyImage &image, int max_size, double edge_weight) {
  const std::vector<KernelGrid> found = find_kernels({{&image, max_size, edge_weight}}, 1);
  return found.empty() ? KernelGrid{} : found.front();
}

KernelGrid refined_kernel(const GreyImage &image, const KernelGrid &found, int max_size,
                          double edge_weight, int rounds, int threads) {
  try {
    const std::vector<LevelPlan> plans = level_plans(image, odd_at_least_3(max_size));
    const LevelPlan &p = plans.back();
    if (found.size != p.window || weight_reach(found) == 0) return {};
    // The edge weight where the search left it.
    double lambda = edge_weight;
    for (std::size_t r = 0; r < plans.size() * kRoundsPerLevel; ++r)
      lambda = next_edge_weight(lambda);
    // The kernel in a window with as much room around it as the search's
    // finest level gave it.
    KernelGrid kernel = regrown(found, 1.0, next_window(found, 1.0, p.window));
    const Fourier fourier(fast_size(p.rows + kernel.size), fast_size(p.cols + kernel.size));
    if (!fourier.ok()) return {};
    WorkerPool pool(engine_threads(threads));
    LevelArrays arrays(fourier.rows(), fourier.cols());
    Level level(resized(image, p.rows, p.cols), kernel.size, fourier, arrays);
    if (!level.ok()) return {};
    for (int r = 0; r < rounds; ++r) {
      level.round(&kernel, lambda, weight_reach(kernel) >= kRefineReach, &pool);
      lambda = next_edge_weight(lambda);
    }
    centre_kernel(&kernel);
    return regrown(kernel, 1.0, p.window);
  } catch (const std::bad_alloc &) {
    return {};
  }
}

namespace {

// How much of a kernel one profile along its axis (through (ci, cj), along
// (ux, uy)) times one profile across it holds: the kernel is laid out on a
// grid along and across the axis (bilinearly, a cell a bin) and its largest
// singular value squared is taken over the sum of the grid's squares. 1 for
// a straight path, and for a straight path beside copies of itself parallel
// to it; less where the path bends.
double separable_share(const KernelGrid &kernel, double ci, double cj, double ux, double uy) {
  // Every cell lies within sqrt(2) n of the centre, along and across.
  const int n = kernel.size, reach = static_cast<int>(std::ceil(std::sqrt(2.0) * n));
  const int bins = 2 * reach + 2;
  Values grid(cells(bins, bins), 0.0);  // [along][across]
  const auto at = [&](int along, int across) -> double & {
    return grid[cells(along, bins) + static_cast<std::size_t>(across)];
  };
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const double w = kernel.weights[cells(i, n) + static_cast<std::size_t>(j)];
      if (w <= 0.0) continue;
      const double a = (j - cj) * ux + (i - ci) * uy + reach;
      const double c = -(j - cj) * uy + (i - ci) * ux + reach;
      const int a0 = static_cast<int>(std::floor(a)), c0 = static_cast<int>(std::floor(c));
      const double fa = a - a0, fc = c - c0;
      at(a0, c0) += w * (1 - fa) * (1 - fc);
      at(a0, c0 + 1) += w * (1 - fa) * fc;
      at(a0 + 1, c0) += w * fa * (1 - fc);
      at(a0 + 1, c0 + 1) += w * fa * fc;
    }
  double total = 0.0;
  for (double g : grid) total += g * g;
  if (total <= 0.0) return 1.0;
  // Power iteration on grid^T grid, from the profile across the axis.
  Values across(static_cast<std::size_t>(bins), 0.0), along(static_cast<std::size_t>(bins));
  for (int a = 0; a < bins; ++a)
    for (int c = 0; c < bins; ++c) across[static_cast<std::size_t>(c)] += at(a, c);
  double top = 0.0;  // the largest singular value, squared
  for (int round = 0; round < kSeparableRounds; ++round) {
    double norm = 0.0;
    for (double x : across) norm += x * x;
    if (norm <= 0.0) break;
    norm = std::sqrt(norm);
    for (double &x : across) x /= norm;
    top = 0.0;
    for (int a = 0; a < bins; ++a) {
      double dot = 0.0;
      for (int c = 0; c < bins; ++c) dot += at(a, c) * across[static_cast<std::size_t>(c)];
      along[static_cast<std::size_t>(a)] = dot;
      top += dot * dot;
    }
    std::fill(across.begin(), across.end(), 0.0);
    for (int a = 0; a < bins; ++a)
      for (int c = 0; c < bins; ++c)
        across[static_cast<std::size_t>(c)] += at(a, c) * along[static_cast<std::size_t>(a)];
  }
  return std::min(1.0, top / total);
}

}  // namespace

KernelShape kernel_shape(const KernelGrid &kernel) {
  KernelShape shape;
  const int n = kernel.size;
  if (n == 0) return shape;
  const double peak = *std::max_element(kernel.weights.begin(), kernel.weights.end());
  double total = 0.0, ci = 0.0, cj = 0.0;
  int top = n, bottom = -1, left = n, right = -1;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const double w = kernel.weights[cells(i, n) + static_cast<std::size_t>(j)];
      total += w;
      ci += w * i;
      cj += w * j;
      if (w >= kKeepShare * peak && w > 0.0) {
        top = std::min(top, i), bottom = std::max(bottom, i);
        left = std::min(left, j), right = std::max(right, j);
      }
    }
  if (total <= 0.0 || bottom < 0) return shape;
  ci /= total, cj /= total;
  shape.peak = peak / total;
  shape.width = right - left + 1;
  shape.height = bottom - top + 1;
  double xx = 0.0, yy = 0.0, xy = 0.0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const double w = kernel.weights[cells(i, n) + static_cast<std::size_t>(j)] / total;
      xx += w * (j - cj) * (j - cj);
      yy += w * (i - ci) * (i - ci);
      xy += w * (j - cj) * (i - ci);
    }
  // The principal axis: x to the right, y down, so the angle is clockwise on
  // screen.
  const double angle = 0.5 * std::atan2(2.0 * xy, xx - yy);
  const double ux = std::cos(angle), uy = std::sin(angle);
  double degrees = angle * 180.0 / kPi;
  if (degrees < 0.0) degrees += 180.0;
  if (degrees >= 180.0) degrees -= 180.0;
  shape.direction = degrees;
  double along_min = 1e9, along_max = -1e9, near = 0.0, core = 0.0;
  double lowest = 0.0, highest = 0.0;  // of every weight, however weak
  int support = 0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const double w = kernel.weights[cells(i, n) + static_cast<std::size_t>(j)];
      const double along = (j - cj) * ux + (i - ci) * uy;
      const double across = -(j - cj) * uy + (i - ci) * ux;
      if (w >= kCoreShare * peak) {
        core += w;
        if (std::abs(across) <= 1.0) near += w;
      }
      if (w >= kKeepShare * peak && w > 0.0) {
        ++support;
        along_min = std::min(along_min, along);
        along_max = std::max(along_max, along);
      }
      if (w > 0.0) lowest = std::min(lowest, along), highest = std::max(highest, along);
    }
  shape.straightness = near / core;
  const double extent = along_max - along_min + 1.0;
  // A line of n equal cells spreads (n^2 - 1) / 12 along itself: read back
  // from the spread, weak stray weights at the ends count for little.
  const double major = 0.5 * (xx + yy) + std::sqrt(0.25 * (xx - yy) * (xx - yy) + xy * xy);
  shape.length = std::sqrt(12.0 * major + 1.0);
  shape.thickness = support / extent;
  // The weight's profile along the axis, a pixel a bin, smoothed over three
  // bins; over the middle 80 % of the weight, its peak over its mean.
  const int bins = static_cast<int>(std::lround(highest - lowest)) + 1;
  Values profile(static_cast<std::size_t>(bins), 0.0);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const double w = kernel.weights[cells(i, n) + static_cast<std::size_t>(j)];
      if (w > 0.0)
        profile[static_cast<std::size_t>(std::lround((j - cj) * ux + (i - ci) * uy - lowest))] +=
            w / total;
    }
  std::size_t first = 0, last = 0;
  for (double sum = 0.0; last < profile.size(); ++last) {
    sum += profile[last];
    if (sum < kProfileEnds) first = last + 1;
    if (sum >= 1.0 - kProfileEnds) break;
  }
  last = std::min(last, profile.size() - 1);
  first = std::min(first, last);
  // Three-bin sums: their peak over their mean is the smoothed profile's.
  double heaviest = 0.0, summed = 0.0;
  for (std::size_t b = first; b <= last; ++b) {
    double three = profile[b];
    if (b > 0) three += profile[b - 1];
    if (b + 1 < profile.size()) three += profile[b + 1];
    heaviest = std::max(heaviest, three);
    summed += three;
  }
  const double mean = summed / static_cast<double>(last - first + 1);
  shape.unevenness = mean > 0.0 ? heaviest / mean : 1.0;
  shape.separable = separable_share(kernel, ci, cj, ux, uy);
  return shape;
}

KernelGrid trimmed_kernel(const KernelGrid &kernel) {
  const int n = kernel.size, h = n / 2, reach = weight_reach(kernel);
  const int size = 2 * reach + 1;
  KernelGrid out{size, Values(cells(size, size))};
  for (int i = 0; i < size; ++i)
    for (int j = 0; j < size; ++j)
      out.weights[cells(i, size) + static_cast<std::size_t>(j)] =
          kernel.weights[cells(i + h - reach, n) + static_cast<std::size_t>(j + h - reach)];
  return out;
}

}  // namespace ostrivo
