#include "engine/frame.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "engine/padding.h"
#include "engine/planes.h"

namespace ostrivo {

namespace {

// Rows of the composed plane handed to one task.
constexpr int kFrameRowsPerTask = 32;

// One row of the composed plane. `acc` holds cols accumulators.
template <typename T, typename Acc, typename Finish>
void compose_row(const T *channel, int rows, int cols, const std::vector<PsfTap> &taps,
                 const FrameInterior &interior, FrameEdges edges, int i, T *out, Acc *acc,
                 const Finish &finish) {
  T *out_row = out + static_cast<std::size_t>(i) * cols;
  const T *in_row = channel + static_cast<std::size_t>(i) * cols;
  int runs[2][2] = {{0, cols}, {cols, cols}};
  if (interior.contains_row(i)) {
    std::copy(in_row + interior.left, in_row + interior.right, out_row + interior.left);
    runs[0][1] = interior.left;
    runs[1][0] = interior.right;
  }
  for (const auto &run : runs) {
    const int j0 = run[0], j1 = run[1];
    if (j0 >= j1) continue;
    std::fill(acc + j0, acc + j1, Acc{0});
    for (const PsfTap &tap : taps) {
      // out(i, j) gathers channel(i - p, j - q) of the continued plane.
      if (edges == FrameEdges::mirror) {
        const T *src = channel + static_cast<std::size_t>(mirror_index(i - tap.row, rows)) * cols;
        for (int j = j0; j < j1; ++j) acc[j] += src[mirror_index(j - tap.col, cols)];
        continue;
      }
      const int r = ((i - tap.row) % rows + rows) % rows;
      const int q = ((tap.col % cols) + cols) % cols;
      const T *src = channel + static_cast<std::size_t>(r) * cols;
      const int split = std::clamp(q, j0, j1);  // j < q wraps to the row's end
      for (int j = j0; j < split; ++j) acc[j] += src[j - q + cols];
      for (int j = split; j < j1; ++j) acc[j] += src[j - q];
    }
    for (int j = j0; j < j1; ++j) out_row[j] = finish(acc[j]);
  }
}

template <typename T, typename Acc, typename Finish>
bool compose_rows(const T *channel, int rows, int cols, const std::vector<PsfTap> &taps,
                  const FrameInterior &interior, FrameEdges edges, T *out, WorkerPool &pool,
                  const Finish &finish) {
  if (rows <= 0 || cols <= 0) return true;
  Buffer<Acc> accumulators(static_cast<std::size_t>(cols) * static_cast<std::size_t>(pool.size()));
  if (!accumulators) return false;
  const std::size_t tasks =
      static_cast<std::size_t>((rows + kFrameRowsPerTask - 1) / kFrameRowsPerTask);
  pool.run(tasks, [&](std::size_t task, int thread) {
    Acc *acc = accumulators.get() + static_cast<std::size_t>(thread) * cols;
    const int first = static_cast<int>(task) * kFrameRowsPerTask;
    const int last = std::min(rows, first + kFrameRowsPerTask);
    for (int i = first; i < last; ++i)
      compose_row(channel, rows, cols, taps, interior, edges, i, out, acc, finish);
  });
  return true;
}

}  // namespace

FrameInterior frame_interior(int rows, int cols, double f) {
  // The same comparisons as the composition, one axis at a time; each
  // interior set is a run, possibly empty.
  const auto run = [f](int n, int *first, int *end) {
    *first = n;
    *end = n;
    for (int i = 0; i < n; ++i) {
      const bool inside = i >= f && i < n - f;
      if (inside && *first == n) *first = i;
      if (!inside && *first != n) {
        *end = i;
        return;
      }
    }
  };
  FrameInterior interior{};
  run(rows, &interior.top, &interior.bottom);
  run(cols, &interior.left, &interior.right);
  return interior;
}

bool compose_frame(const unsigned char *channel, int rows, int cols,
                   const std::vector<PsfTap> &taps, const FrameInterior &interior,
                   unsigned char *out, WorkerPool &pool, FrameEdges edges) {
  // Whole sums of at most 2^20 bytes fit 32 bits; S / m rounded with exact
  // halves going down is q, plus 1 when the remainder is above half of m.
  const auto m = static_cast<std::uint32_t>(taps.size());
  return compose_rows<unsigned char, std::uint32_t>(
      channel, rows, cols, taps, interior, edges, out, pool, [m](std::uint32_t sum) {
        if (m == 0) return static_cast<unsigned char>(0);
        const std::uint32_t q = sum / m, r = sum % m;
        return static_cast<unsigned char>(q + (2 * r > m ? 1 : 0));
      });
}

bool compose_frame(const float *channel, int rows, int cols, const std::vector<PsfTap> &taps,
                   const FrameInterior &interior, float *out, WorkerPool &pool, FrameEdges edges) {
  const double m = static_cast<double>(taps.size());
  return compose_rows<float, double>(
      channel, rows, cols, taps, interior, edges, out, pool,
      [m](double sum) { return m == 0 ? 0.0f : static_cast<float>(sum / m); });
}

}  // namespace ostrivo
