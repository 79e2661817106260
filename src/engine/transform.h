// The engine's 2-D transforms, cut into chunks that several threads share.
//
// A 2-D real-to-complex transform of a rows x cols plane is a 1-D
// real-to-complex transform of every row followed by a 1-D complex
// transform of every column of the half spectrum; the inverse runs the
// other way round. RegionTransform does exactly that, in fixed chunks of
// rows and of spectrum columns whose plans are made once per region with
// FFTW_ESTIMATE, so each sample goes through the same arithmetic whatever
// the number of threads.
//
// The plane itself never exists in full: a row chunk is filled by the
// caller just before its transform and handed back just after the inverse
// one, so the spectrum is the only region-sized array here. A column chunk
// is gathered from it into a small buffer of the thread's own (one column
// after another), transformed there, shown to the caller's spectral step
// while it is in cache, transformed back and scattered. FFTW_ESTIMATE's
// plan for columns strided through the whole spectrum took one column at a
// time, each a pass through the chunk: a 12-megapixel plane's transforms
// took a third longer, and its spectral steps, walking the whole spectrum,
// longer still.
#ifndef OSTRIVO_ENGINE_TRANSFORM_H
#define OSTRIVO_ENGINE_TRANSFORM_H

#include <fftw3.h>

#include <algorithm>
#include <cstddef>
#include <type_traits>
#include <vector>

#include "engine/planes.h"
#include "engine/psf.h"
#include "engine/threads.h"

namespace ostrivo {

class RegionTransform {
 public:
  // Rows in a chunk of the row transforms (and of every fill and drain), and
  // spectrum columns in a chunk of the column transforms (and of every
  // step): a chunk of a 4000-column photo's rows is half a megabyte, a chunk
  // of its 3000-row columns under a megabyte, so each stays in a core's
  // cache between its transform and what the caller does with it. Fixed, so
  // that the results never depend on the machine.
  static constexpr int kRowChunk = 16;
  static constexpr int kColumnChunk = 16;

  // Plans the transforms of a rows x cols plane for `pool`'s threads; ok()
  // is false when memory or a plan cannot be had.
  RegionTransform(int rows, int cols, WorkerPool &pool);
  RegionTransform(const RegionTransform &) = delete;
  RegionTransform &operator=(const RegionTransform &) = delete;

  bool ok() const { return ok_; }
  int rows() const { return rows_; }
  int cols() const { return cols_; }
  WorkerPool &pool() const { return pool_; }

  // fill(r0, n, rows) writes the plane's rows r0 .. r0 + n - 1 into `rows`
  // (n x cols doubles, row-major); a fill that returns false instead says
  // that those rows are all zero, and their spectrum rows are set to zero
  // without a transform (a sparse plane, such as a point-spread line).
  // step(c0, w, C) sees and may change the spectrum's columns c0 .. c0 + w
  // - 1 of every row, gathered in a chunk: element (i, j) at C[(j - c0) *
  // rows + i] (for_spectrum_columns walks it); it runs after
  // the forward column transforms. Each callback runs on some thread of the
  // pool and must touch only its own rows or columns.
  template <typename Fill, typename Step>
  void forward(const Fill &fill, const Step &step) {
    run(&fill, call_fill<Fill>, &step, call_step<Step>, nullptr, nullptr);
  }

  // forward(), then the inverse transform of every column chunk right after
  // its step, then of the rows: drain(r0, n, rows) receives rows r0 .. r0 + n
  // - 1 of the result, not yet divided by rows * cols, in scratch it may
  // overwrite.
  template <typename Fill, typename Step, typename Drain>
  void filter(const Fill &fill, const Step &step, const Drain &drain) {
    run(&fill, call_fill<Fill>, &step, call_step<Step>, &drain, call_drain<Drain>);
  }

  // The inverse transform alone, of a spectrum the caller holds elsewhere:
  // load(c0, w, C) writes the spectrum's columns c0 .. c0 + w - 1 into the
  // chunk C (layout as for step) just before their transform; drain as for
  // filter.
  template <typename Load, typename Drain>
  void inverse(const Load &load, const Drain &drain) {
    run(nullptr, nullptr, &load, call_step<Load>, &drain, call_drain<Drain>);
  }

 private:
  using RowsFn = bool (*)(const void *fn, int r0, int n, double *rows);
  using StepFn = void (*)(const void *fn, int c0, int w, fftw_complex *spectrum);

  template <typename F>
  static bool call_fill(const void *fn, int r0, int n, double *rows) {
    if constexpr (std::is_same_v<decltype((*static_cast<const F *>(fn))(r0, n, rows)), bool>) {
      return (*static_cast<const F *>(fn))(r0, n, rows);
    } else {
      (*static_cast<const F *>(fn))(r0, n, rows);
      return true;
    }
  }
  template <typename F>
  static void call_step(const void *fn, int c0, int w, fftw_complex *spectrum) {
    (*static_cast<const F *>(fn))(c0, w, spectrum);
  }
  template <typename F>
  static void call_drain(const void *fn, int r0, int n, double *rows) {
    (*static_cast<const F *>(fn))(r0, n, rows);
  }
  using DrainFn = void (*)(const void *fn, int r0, int n, double *rows);

  void run(const void *fill, RowsFn fill_fn, const void *step, StepFn step_fn, const void *drain,
           DrainFn drain_fn);
  double *row_buffer(int thread) const;
  fftw_complex *column_buffer(int thread) const;

  int rows_;
  int cols_;
  int half_cols_;
  WorkerPool &pool_;
  bool ok_ = false;
  Spectrum spectrum_;
  Plane row_buffers_;          // one chunk of rows per thread
  std::size_t buffer_stride_;  // doubles from one thread's chunk to the next
  Spectrum column_buffers_;    // one chunk of columns per thread, kColumnChunk x rows
  // [0] the full chunk, [1] the last, shorter one (if any).
  Plan row_forward_[2], row_inverse_[2], column_forward_[2], column_inverse_[2];
};

// Asks for the w cells at `at` ahead of their use (for writing if `write`
// is 1): four to a 64-byte cache line.
template <int write>
void fetch_ahead(const fftw_complex *at, std::size_t w) {
  for (std::size_t j = 0; j < w; j += 4) __builtin_prefetch(at + j, write);
}

// Calls f(k, c, i, j) for every element (i, j) of columns [c0, c0 + w) of
// the half spectrum of a rows x cols plane: k its index in a whole half
// spectrum (i * (cols / 2 + 1) + j), c its index in the step's chunk. The
// rows of a whole spectrum lie far apart, so the next rows' cells of the
// whole spectra the step works on, `a` (written) and `b` (read, or
// nullptr), are fetched ahead.
template <typename F>
void for_spectrum_columns(int rows, int cols, int c0, int w, const F &f, const fftw_complex *a,
                          const fftw_complex *b = nullptr) {
  const auto hc = static_cast<std::size_t>(half_columns(cols));
  const auto n = static_cast<std::size_t>(rows);
  const std::size_t end = n * hc;
  constexpr std::size_t kAhead = 4;  // rows
  const auto first = static_cast<std::size_t>(c0), width = static_cast<std::size_t>(w);
  std::size_t i = 0;
  for (std::size_t row = 0; row < end; row += hc, ++i) {
    const std::size_t next = row + kAhead * hc + first;
    if (next < end) {
      fetch_ahead<1>(a + next, width);
      if (b != nullptr) fetch_ahead<0>(b + next, width);
    }
    for (std::size_t x = 0; x < width; ++x)
      f(row + first + x, x * n + i, static_cast<int>(i), c0 + static_cast<int>(x));
  }
}

// Transforms the point-spread plane of `taps` (each tap at its offset from
// the origin, wrapped into the plane) and hands its spectrum, column chunk
// by column chunk, to use(c0, w, S) (see RegionTransform::forward).
template <typename Use>
void transform_taps(RegionTransform &transform, const std::vector<PsfTap> &taps, const Use &use) {
  const int plane_rows = transform.rows(), plane_cols = transform.cols();
  const auto wrap = [](int i, int n) { return (i % n + n) % n; };
  transform.forward(
      [&](int r0, int n, double *rows) {
        const auto in_chunk = [&](const PsfTap &tap) {
          const int r = wrap(tap.row, plane_rows);
          return r >= r0 && r < r0 + n;
        };
        if (std::none_of(taps.begin(), taps.end(), in_chunk)) return false;
        const auto width = static_cast<std::size_t>(plane_cols);
        std::fill(rows, rows + static_cast<std::size_t>(n) * width, 0.0);
        for (const PsfTap &tap : taps)
          if (in_chunk(tap))
            rows[static_cast<std::size_t>(wrap(tap.row, plane_rows) - r0) * width +
                 static_cast<std::size_t>(wrap(tap.col, plane_cols))] = tap.weight;
        return true;
      },
      use);
}

}  // namespace ostrivo

#endif
