// Helpers shared by the engine tests.
#ifndef OSTRIVO_TESTS_SUPPORT_H
#define OSTRIVO_TESTS_SUPPORT_H

#include <gtest/gtest.h>

#include <vector>

#include "compat/gimp2.h"
#include "compat/routines.h"
#include "engine/planes.h"

namespace ostrivo::testing {

// Every test starts from the defaults and a fresh progress counter, and
// leaves no reporter behind.
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bvals = kDefaultBlurVals;
    bvals.preview = 0;
    update = kInitialProgress;
    progress_set_reporter(nullptr);
  }
  void TearDown() override { progress_set_reporter(nullptr); }

  void set_motion(double length, double direction) {
    bvals.length = length;
    bvals.direction = direction;
  }
};

// A half spectrum held as interleaved doubles (real, imaginary), which is
// the layout of fftw_complex.
struct HalfSpectrum {
  std::vector<double> parts;
  const fftw_complex *data() const { return reinterpret_cast<const fftw_complex *>(parts.data()); }
  fftw_complex *data() { return reinterpret_cast<fftw_complex *>(parts.data()); }
};

// The raw forward transform of a plane, as the pipeline makes H.
inline HalfSpectrum spectrum_of(const std::vector<double> &plane, int rows, int cols) {
  HalfSpectrum H{std::vector<double>(2 * spectrum_cells(rows, cols))};
  Plan p = forward_plan(rows, cols, plane.data(), H.data());
  fftw_execute(p.get());
  return H;
}

// The point-spread plane of the current motion in bvals.
inline std::vector<double> motion_plane(int rows, int cols) {
  std::vector<double> h(plane_cells(rows, cols));
  double *p = h.data();
  buildDegradationFunction_h(rows, cols, &p);
  return h;
}

// A rows x cols plane holding 1.0 at (r, c) and 0 elsewhere.
inline std::vector<double> impulse(int rows, int cols, int r, int c) {
  std::vector<double> plane(plane_cells(rows, cols), 0.0);
  plane[static_cast<std::size_t>(r * cols + c)] = 1.0;
  return plane;
}

// Deterministic whole values 0..255.
inline std::vector<double> pattern_plane(int rows, int cols, unsigned seed = 1) {
  std::vector<double> plane(plane_cells(rows, cols));
  unsigned x = seed * 2654435761u + 12345u;
  for (double &v : plane) {
    x = x * 1664525u + 1013904223u;
    v = static_cast<double>((x >> 24) & 0xff);
  }
  return plane;
}

inline std::vector<guchar> pattern_pixels(int rows, int cols, int bpp, unsigned seed = 7) {
  std::vector<guchar> px(plane_cells(rows, cols) * static_cast<std::size_t>(bpp));
  unsigned x = seed;
  for (guchar &b : px) {
    x = x * 1103515245u + 12345u;
    b = static_cast<guchar>((x >> 16) & 0xff);
  }
  return px;
}

}  // namespace ostrivo::testing

#endif
