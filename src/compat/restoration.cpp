// The GIMP 2.10 plug-in's routines over the engine.
#include <cmath>
#include <cstring>

#include "compat/fourier_filter.h"
#include "compat/gimp2.h"
#include "compat/routines.h"
#include "engine/frame.h"
#include "engine/planes.h"
#include "engine/psf.h"
#include "engine/region.h"
#include "engine/resources.h"
#include "engine/wiener.h"

namespace ostrivo {

namespace {

// Turns the region's progress (plane c of n starts at c / n; its first
// step, the frame or else the whole restoration, ends at (c + 1/2) / n or
// (c + 1) / n) into the plug-in's ticks: one as a channel starts, then one
// and, but for the last channel, another after its first step.
class TickCounter {
 public:
  explicit TickCounter(int channels) : channels_(channels) {}

  void operator()(double fraction) {
    const long half_steps = std::lround(2.0 * fraction * static_cast<double>(channels_));
    const long c = half_steps / 2;
    long due = 0;
    if (half_steps % 2 == 0)  // channel c starts (or, for c = n, the last one ended)
      due = c >= channels_ ? 3L * channels_ - 1 : 3 * c + 1;
    else  // channel c's frame is composed
      due = 3 * c + 1 + (c < channels_ - 1 ? 2 : 1);
    for (; made_ < due; ++made_) progress_tick();
  }

 private:
  long channels_;
  long made_ = 0;
};

bool region_entry(const guchar *src, guchar **dst, int rows, int cols, int bpp, bool blur) {
  const RepairSettings settings = repair_settings(bvals);
  const PixelRegion px{rows, cols, bpp, SampleFormat::u8, src, *dst};
  if (blur) return blur_region(px, settings, 0).outcome != Outcome::refused;
  if (bpp < 3 || bpp > 4) {
    std::size_t bytes = 0;
    if (region_bytes(px, &bytes) && bytes > 0) std::memcpy(*dst, src, bytes);
    return false;
  }
  ProgressFn ticks;
  if (bvals.preview == 0) ticks = TickCounter(bpp);
  return repair_region(px, settings, 0, ticks).outcome != Outcome::refused;
}

}  // namespace

bool imageRestoration(const guchar *src, guchar **dst, int rows, int cols, int bpp) {
  return region_entry(src, dst, rows, cols, bpp, false);
}

bool imageMotionBlur(const guchar *src, guchar **dst, int rows, int cols, int bpp) {
  return region_entry(src, dst, rows, cols, bpp, true);
}

void rysuj_h(const void * /*unused*/, const double *in, int rows, int cols, double **out) {
  const std::size_t n = plane_cells(rows, cols);
  double *dst = *out;
  for (std::size_t k = 0; k < n; ++k) dst[k] = round_to_guchar(in[k]);
}

void buildDegradationFunction_h(int rows, int cols, double **h) {
  double *plane = *h;
  const std::size_t cells = plane_cells(rows, cols);
  for (std::size_t k = 0; k < cells; ++k) plane[k] = 0.0;
  for (const PsfTap &tap : motion_line_taps(rows, cols, bvals.length, bvals.direction))
    plane[static_cast<std::size_t>(tap.row) * static_cast<std::size_t>(cols) +
          static_cast<std::size_t>(tap.col)] = tap.weight;
}

bool canalRestoration(const double *in, const fftw_complex *H, int rows, int cols, double **out) {
  const double K = bvals.k;
  return filter_plane(in, rows, cols, *out, round_sample,
                      [H, K, rows, cols](int c0, int w, fftw_complex *Y) {
                        for_spectrum_columns(
                            rows, cols, c0, w,
                            [&](std::size_t k, std::size_t c, int, int) {
                              fftw_complex weight;
                              wiener_weight(&H[k], K, &weight);
                              multiply_in_place(&Y[c], &weight);
                            },
                            H);
                      });
}

bool blurFrameOfCanal(const double *in, const fftw_complex *H, int rows, int cols, double **out) {
  return filter_plane(
      in, rows, cols, *out, round_blurred, [H, rows, cols](int c0, int w, fftw_complex *Y) {
        for_spectrum_columns(
            rows, cols, c0, w,
            [&](std::size_t k, std::size_t c, int, int) { multiply_in_place(&Y[c], &H[k]); }, H);
      });
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
