#include "engine/transform.h"

#include <algorithm>
#include <cstring>

namespace ostrivo {

namespace {

constexpr int kRowChunk = RegionTransform::kRowChunk;
constexpr int kColumnChunk = RegionTransform::kColumnChunk;

// Doubles in one thread's row chunk, rounded up to 64 bytes so that every
// thread's chunk has the alignment of the first: a plan made on one may run
// on all of them.
std::size_t chunk_stride(int cols) {
  const std::size_t doubles = static_cast<std::size_t>(kRowChunk) * static_cast<std::size_t>(cols);
  return (doubles + 7) / 8 * 8;
}

// The spectrum's rows lie far apart, too far for the processor to guess
// the next: a chunk's cells this many rows on are fetched ahead.
constexpr int kAhead = 8;

int chunks(int total, int chunk) { return (total + chunk - 1) / chunk; }

// The tail chunk's size, or 0 when every chunk is full.
int tail(int total, int chunk) { return total % chunk; }

}  // namespace

RegionTransform::RegionTransform(int rows, int cols, WorkerPool &pool)
    : rows_(rows),
      cols_(cols),
      half_cols_(half_columns(cols)),
      pool_(pool),
      spectrum_(spectrum_cells(rows, cols)),
      row_buffers_(rows > 0 && cols > 0 ? chunk_stride(cols) * static_cast<std::size_t>(pool.size())
                                        : 0),
      buffer_stride_(chunk_stride(cols)),
      column_buffers_(rows > 0 && cols > 0 ? static_cast<std::size_t>(rows) * kColumnChunk *
                                                 static_cast<std::size_t>(pool.size())
                                           : 0) {
  if (rows <= 0 || cols <= 0 || !spectrum_ || !row_buffers_ || !column_buffers_) return;
  fftw_complex *S = spectrum_.get();
  double *buffer = row_buffers_.get();
  const int n_cols[1] = {cols};
  const int n_rows[1] = {rows};
  const int hc = half_cols_;

  // Plans for a full chunk and for the shorter last one, each made on the
  // arrays (or arrays of the same alignment) it will run on.
  const int row_sizes[2] = {std::min(kRowChunk, rows), tail(rows, kRowChunk)};
  const int row_starts[2] = {0, rows - row_sizes[1]};
  const int col_sizes[2] = {std::min(kColumnChunk, hc), tail(hc, kColumnChunk)};
  for (int p = 0; p < 2; ++p) {
    if (row_sizes[p] > 0 && (p == 0 || row_sizes[1] != 0)) {
      fftw_complex *out = S + static_cast<std::size_t>(row_starts[p]) * hc;
      row_forward_[p].reset(fftw_plan_many_dft_r2c(1, n_cols, row_sizes[p], buffer, nullptr, 1,
                                                   cols, out, nullptr, 1, hc, FFTW_ESTIMATE));
      row_inverse_[p].reset(fftw_plan_many_dft_c2r(1, n_cols, row_sizes[p], out, nullptr, 1, hc,
                                                   buffer, nullptr, 1, cols, FFTW_ESTIMATE));
      if (!row_forward_[p] || !row_inverse_[p]) return;
    }
    if (col_sizes[p] > 0 && (p == 0 || col_sizes[1] != 0)) {
      // In place in a column buffer: column j of the chunk after column
      // j - 1, the shorter last chunk likewise.
      fftw_complex *at = column_buffers_.get();
      column_forward_[p].reset(fftw_plan_many_dft(1, n_rows, col_sizes[p], at, nullptr, 1, rows, at,
                                                  nullptr, 1, rows, FFTW_FORWARD, FFTW_ESTIMATE));
      column_inverse_[p].reset(fftw_plan_many_dft(1, n_rows, col_sizes[p], at, nullptr, 1, rows, at,
                                                  nullptr, 1, rows, FFTW_BACKWARD, FFTW_ESTIMATE));
      if (!column_forward_[p] || !column_inverse_[p]) return;
    }
  }
  ok_ = true;
}

double *RegionTransform::row_buffer(int thread) const {
  return row_buffers_.get() + buffer_stride_ * static_cast<std::size_t>(thread);
}

fftw_complex *RegionTransform::column_buffer(int thread) const {
  return column_buffers_.get() +
         static_cast<std::size_t>(rows_) * kColumnChunk * static_cast<std::size_t>(thread);
}

void RegionTransform::run(const void *fill, RowsFn fill_fn, const void *step, StepFn step_fn,
                          const void *drain, DrainFn drain_fn) {
  if (!ok_) return;
  fftw_complex *S = spectrum_.get();
  const int hc = half_cols_;
  const int row_chunks = chunks(rows_, kRowChunk);
  const int col_chunks = chunks(hc, kColumnChunk);
  // Which plan a chunk takes: the last one takes the tail plan when shorter.
  const auto row_plan = [&](int chunk) {
    return chunk == row_chunks - 1 && tail(rows_, kRowChunk) != 0 ? 1 : 0;
  };
  const auto col_plan = [&](int chunk) {
    return chunk == col_chunks - 1 && tail(hc, kColumnChunk) != 0 ? 1 : 0;
  };

  // Rows: fill a chunk, transform it into the spectrum's rows.
  if (fill_fn != nullptr)
    pool_.run(static_cast<std::size_t>(row_chunks), [&](std::size_t c, int thread) {
      const int chunk = static_cast<int>(c);
      const int r0 = chunk * kRowChunk;
      const int n = std::min(kRowChunk, rows_ - r0);
      double *rows = row_buffer(thread);
      fftw_complex *out = S + static_cast<std::size_t>(r0) * hc;
      if (fill_fn(fill, r0, n, rows))
        fftw_execute_dft_r2c(row_forward_[row_plan(chunk)].get(), rows, out);
      else  // the transform of zeros, but for the signs of some zeros
        std::fill(&out[0][0], &out[0][0] + 2 * static_cast<std::size_t>(n) * hc, 0.0);
    });

  // Columns: transform a chunk (unless only the inverse runs), let the
  // caller's step see it, and (for a filter) transform it back while it is
  // still in cache.
  pool_.run(static_cast<std::size_t>(col_chunks), [&](std::size_t c, int thread) {
    const int chunk = static_cast<int>(c);
    const int c0 = chunk * kColumnChunk;
    const int w = std::min(kColumnChunk, hc - c0);
    const int plan = col_plan(chunk);
    fftw_complex *buffer = column_buffer(thread);
    const auto rows = static_cast<std::size_t>(rows_);
    const auto width = static_cast<std::size_t>(w);
    const auto row_at = [&](std::size_t i) {
      return S + i * static_cast<std::size_t>(hc) + static_cast<std::size_t>(c0);
    };
    if (fill_fn != nullptr) {
      for (std::size_t i = 0; i < rows; ++i) {
        if (i + kAhead < rows) fetch_ahead<0>(row_at(i + kAhead), width);
        const fftw_complex *from = row_at(i);
        for (std::size_t x = 0; x < width; ++x) {
          buffer[x * rows + i][0] = from[x][0];
          buffer[x * rows + i][1] = from[x][1];
        }
      }
      fftw_execute_dft(column_forward_[plan].get(), buffer, buffer);
    }
    step_fn(step, c0, w, buffer);
    if (drain_fn != nullptr) {
      fftw_execute_dft(column_inverse_[plan].get(), buffer, buffer);
      for (std::size_t i = 0; i < rows; ++i) {
        if (i + kAhead < rows) fetch_ahead<1>(row_at(i + kAhead), width);
        fftw_complex *to = row_at(i);
        for (std::size_t x = 0; x < width; ++x) {
          to[x][0] = buffer[x * rows + i][0];
          to[x][1] = buffer[x * rows + i][1];
        }
      }
    }
  });
  if (drain_fn == nullptr) return;

  // Rows back: transform a chunk of the spectrum's rows and hand it over.
  pool_.run(static_cast<std::size_t>(row_chunks), [&](std::size_t c, int thread) {
    const int chunk = static_cast<int>(c);
    const int r0 = chunk * kRowChunk;
    const int n = std::min(kRowChunk, rows_ - r0);
    double *rows = row_buffer(thread);
    fftw_execute_dft_c2r(row_inverse_[row_plan(chunk)].get(), S + static_cast<std::size_t>(r0) * hc,
                         rows);
    drain_fn(drain, r0, n, rows);
  });
}

}  // namespace ostrivo
