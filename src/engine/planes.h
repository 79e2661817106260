// The restoration engine's conventions, stated once.
//
// Pixel buffer: rows x cols pixels of `channels` interleaved samples
//   (1 grey, 2 grey and alpha, 3 RGB, 4 RGBA), row-major, packed. Pixel
//   (i, j) starts at sample (i * cols + j) * channels.
// Samples: bytes 0..255 (every restored sample rounded with round_sample,
//   exact halves going down), or floats 0..1 for images of higher precision
//   (the same steps without the rounding, clamped). Planes hold them on
//   their own scale: 0..255 for bytes, 0..1 for floats.
// Channel plane: rows x cols doubles, row-major, one channel. Row 0 is the
//   region's top row, column 0 its left column; cell (i, j) is at index
//   i * cols + j.
// Point-spread function h: what a single bright point becomes in the
//   blurred photo. Blurring is convolution with h: a tap of weight w at
//   offset (p, q) from the origin puts w of the sample at (i, j) into
//   (i + p, j + q). The weights sum to 1 (a uniform photo stays as it is).
//   On a transform's plane the origin is cell (0, 0) and the plane is
//   periodic: the last column sits just left of column 0 and the last row
//   just above row 0, so a negative offset lies on the far side.
// Kernel image (a sampled motion, as a user gives it or the estimator finds
//   it): rows x cols weights, row-major, whose cell (rows / 2, cols / 2)
//   (integer division: the middle cell, or for an even size the one right
//   of and below the middle) is the origin: a point blurred by it is drawn
//   around itself with that cell on it. It is the point-spread function as
//   an image, and the same picture as the kernel files of other tools.
// Half spectrum: rows x (cols / 2 + 1) fftw_complex values (integer
//   division), element (i, j) at index i * (cols / 2 + 1) + j: the output of
//   a 2-D real-to-complex transform.
// Transforms: FFTW 3, double precision, 2-D with rows as the first (slow)
//   dimension, FFTW_ESTIMATE (planning neither runs trial transforms nor
//   touches the arrays, so a plan can be made on arrays that hold data).
//   Forward r2c uses FFTW's sign (exponent -2*pi*i) and is unnormalised;
//   every inverse c2r result is divided by rows * cols. The spectrum H of
//   the point-spread function is the raw forward transform of h. The engine
//   runs each 2-D transform as 1-D transforms of row chunks and then of
//   column chunks (transform.h), on several threads, with the same
//   arithmetic for every sample whatever the number of threads.
// Wiener constant K: the noise-to-signal ratio in
//   X = Y * conj(H) / (|H|^2 + K).
#ifndef OSTRIVO_ENGINE_PLANES_H
#define OSTRIVO_ENGINE_PLANES_H

#include <fftw3.h>
#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>

namespace ostrivo {

// Number of complex columns of a half spectrum.
inline int half_columns(int cols) { return cols / 2 + 1; }

// Cells of a rows x cols plane; 0 for a non-positive dimension. The product
// of two ints always fits a 64-bit size_t.
inline std::size_t plane_cells(int rows, int cols) {
  if (rows <= 0 || cols <= 0) return 0;
  return static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
}

// Elements of the half spectrum of a rows x cols plane.
inline std::size_t spectrum_cells(int rows, int cols) {
  if (rows <= 0 || cols <= 0) return 0;
  return static_cast<std::size_t>(rows) * static_cast<std::size_t>(half_columns(cols));
}

// Asks the kernel to back a large array with huge pages where it can: a
// region's planes are tens of megabytes, touched once per call, and this
// cuts their page faults and the transforms' TLB misses. Only advice.
inline void advise_huge_pages(void *data, std::size_t bytes) {
  constexpr std::size_t kPage = 4096;
  constexpr std::size_t kWorthIt = std::size_t{4} << 20;
  if (bytes < kWorthIt) return;
  const auto start = (reinterpret_cast<std::uintptr_t>(data) + kPage - 1) & ~(kPage - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(kPage - 1);
  if (end > start) madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE);
}

// Large working arrays are kept for reuse: the blocks a call gives back
// (up to a bound) go to the next call that asks for the same size, so a
// preview redrawn again and again, or a batch of photos of one size, does
// not wait each time for the system to map and clear fresh pages. Blocks
// come from the GLib allocator; take_block gives nullptr when memory cannot
// be had. Thread-safe.
void *take_block(std::size_t bytes);
void give_block(void *block, std::size_t bytes);

// Frees every kept block (also done at exit).
void release_kept_blocks();

// An array of plain data, given back when it goes out of scope. Allocation
// may fail: test the buffer before use.
template <typename T>
class Buffer {
  static_assert(std::is_trivial<T>::value || std::is_array<T>::value,
                "plain data only: the memory is not constructed");

 public:
  explicit Buffer(std::size_t count)
      : bytes_(count <= SIZE_MAX / sizeof(T) ? count * sizeof(T) : 0),
        data_(bytes_ == 0 ? nullptr : static_cast<T *>(take_block(bytes_))) {}
  Buffer(const Buffer &) = delete;
  Buffer &operator=(const Buffer &) = delete;
  Buffer(Buffer &&other) noexcept : bytes_(other.bytes_), data_(other.data_) {
    other.bytes_ = 0;
    other.data_ = nullptr;
  }
  Buffer &operator=(Buffer &&) = delete;
  ~Buffer() { give_block(data_, bytes_); }

  explicit operator bool() const { return data_ != nullptr; }
  T *get() const { return data_; }
  T &operator[](std::size_t i) const { return data_[i]; }

 private:
  std::size_t bytes_;
  T *data_;
};

using Plane = Buffer<double>;
using Spectrum = Buffer<fftw_complex>;

struct PlanDestroyer {
  void operator()(fftw_plan plan) const { fftw_destroy_plan(plan); }
};

// A transform plan, destroyed when it goes out of scope.
using Plan = std::unique_ptr<std::remove_pointer_t<fftw_plan>, PlanDestroyer>;

// Forward r2c plan of a rows x cols plane. The input is only read: an
// out-of-place real-to-complex transform preserves it.
inline Plan forward_plan(int rows, int cols, const double *in, fftw_complex *out) {
  return Plan(fftw_plan_dft_r2c_2d(rows, cols, const_cast<double *>(in), out, FFTW_ESTIMATE));
}

// Inverse c2r plan; it may overwrite its spectrum.
inline Plan inverse_plan(int rows, int cols, fftw_complex *in, double *out) {
  return Plan(fftw_plan_dft_c2r_2d(rows, cols, in, out, FFTW_ESTIMATE));
}

}  // namespace ostrivo

#endif
