#include "engine/pipeline.h"

#include <unistd.h>

#include <cstring>

#include "colour/brightness.h"
#include "colour/hsv.h"
#include "engine/complex.h"
#include "engine/degradation.h"
#include "engine/frame.h"
#include "engine/planes.h"
#include "engine/progress.h"
#include "engine/settings.h"
#include "engine/wiener.h"

namespace ostrivo {

namespace {

// Working memory a region needs at its peak, per pixel: the degradation
// spectrum, the scratch spectrum, and the channel and frame planes (each
// about 8 bytes a pixel).
constexpr double kPeakBytesPerPixel = 4 * sizeof(double);

bool fits_in_memory(std::size_t pixels) {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return true;  // unknown: let allocation decide
  const double physical = static_cast<double>(pages) * static_cast<double>(page_size);
  return static_cast<double>(pixels) * kPeakBytesPerPixel < physical;
}

void final_run_tick() {
  if (bvals.preview == 0) progress_tick();
}

// Fills H with the degradation spectrum of the current motion for a
// rows x cols region, building the point-spread plane in `plane`.
bool degradation_spectrum(int rows, int cols, double *plane, fftw_complex *H) {
  buildDegradationFunction_h(rows, cols, &plane);
  Plan forward = forward_plan(rows, cols, plane, H);
  if (!forward) return false;
  fftw_execute(forward.get());
  return true;
}

// Deconvolves every channel of `src` into `dst`. All working memory is had
// once for the region and shared by its channels, and each channel is
// restored in place: the transforms read a plane completely before they
// write the result into it.
bool restore_channels(const guchar *src, guchar *dst, int rows, int cols, int bpp) {
  const std::size_t cells = plane_cells(rows, cols);
  const double frame_px = (bvals.frame_width / 100.0) * cols;
  const bool direct = frame_px == 0.0;  // NaN takes the frame path

  Spectrum H(spectrum_cells(rows, cols));
  Spectrum scratch(spectrum_cells(rows, cols));
  Plane channel(cells);
  Plane frame(direct ? 0 : cells);
  if (!H || !scratch || !channel || (!direct && !frame)) return false;

  // The channel plane is free until the first channel is extracted: the
  // point-spread plane is built there.
  if (!degradation_spectrum(rows, cols, channel.get(), H.get())) return false;

  const auto stride = static_cast<std::size_t>(bpp);
  for (int ch = 0; ch < bpp; ++ch) {
    const bool last = ch == bpp - 1;
    final_run_tick();
    for (std::size_t k = 0; k < cells; ++k) channel[k] = src[k * stride + ch];

    double *restored = channel.get();
    if (direct) {
      if (!canalRestoration(channel.get(), H.get(), rows, cols, restored, scratch.get()))
        return false;
      final_run_tick();
      if (!last) final_run_tick();
    } else {
      double *frame_plane = frame.get();
      if (!blurFrameOfCanal(channel.get(), H.get(), rows, cols, frame_plane, scratch.get()))
        return false;
      final_run_tick();
      sumBlurFrameWithOryginalImage(channel.get(), frame_plane, rows, cols, frame_px, &frame_plane);
      if (!last) final_run_tick();
      restored = frame_plane;
      if (!canalRestoration(frame_plane, H.get(), rows, cols, restored, scratch.get()))
        return false;
    }

    // canalRestoration has already put every sample through round_to_guchar:
    // each is a whole number 0..255, which converts to its byte exactly.
    for (std::size_t k = 0; k < cells; ++k) dst[k * stride + ch] = static_cast<guchar>(restored[k]);
  }
  return true;
}

// Blurs every channel of `src` into `dst` with the current motion.
bool blur_channels(const guchar *src, guchar *dst, int rows, int cols, int bpp) {
  const std::size_t cells = plane_cells(rows, cols);
  Spectrum H(spectrum_cells(rows, cols));
  Spectrum scratch(spectrum_cells(rows, cols));
  Plane channel(cells);
  if (!H || !scratch || !channel) return false;
  if (!degradation_spectrum(rows, cols, channel.get(), H.get())) return false;

  const auto stride = static_cast<std::size_t>(bpp);
  for (int ch = 0; ch < bpp; ++ch) {
    for (std::size_t k = 0; k < cells; ++k) channel[k] = src[k * stride + ch];
    if (!blurFrameOfCanal(channel.get(), H.get(), rows, cols, channel.get(), scratch.get()))
      return false;
    for (std::size_t k = 0; k < cells; ++k) dst[k * stride + ch] = static_cast<guchar>(channel[k]);
  }
  return true;
}

// Maps the value range of the restored `dst` onto that of `src`.
bool repair_brightness(const guchar *src, guchar *dst, int rows, int cols, int bpp,
                       std::size_t bytes) {
  Buffer<guchar> source_hsv(bytes);
  Buffer<guchar> restored_hsv(bytes);
  Buffer<guchar> repaired_hsv(bytes);
  if (!source_hsv || !restored_hsv || !repaired_hsv) return false;
  guchar *repaired = repaired_hsv.get();
  rgb_to_hsv(src, source_hsv.get(), cols, rows, bpp);
  rgb_to_hsv(dst, restored_hsv.get(), cols, rows, bpp);
  HSV_Restoration_V(restored_hsv.get(), source_hsv.get(), &repaired, cols, rows, bpp);
  hsv_to_rgb(repaired, dst, cols, rows, bpp);
  return true;
}

}  // namespace

namespace {

// What both region operations share: a region below 2 rows or columns is
// passed through, one with fewer than `min_bpp` bytes a pixel or too large
// for memory is refused, and a refused region leaves a copy of the source.
template <typename Work>
bool over_region(const guchar *src, guchar **dst, int rows, int cols, int bpp, int min_bpp,
                 Work work) {
  std::size_t bytes = 0;
  if (!pixel_buffer_bytes(rows, cols, bpp, &bytes)) return false;
  guchar *out = *dst;
  const auto pass_through = [&](bool result) {
    if (bytes > 0) std::memcpy(out, src, bytes);
    return result;
  };
  if (rows < 2 || cols < 2) return pass_through(true);
  if (bpp < min_bpp || !fits_in_memory(plane_cells(rows, cols))) return pass_through(false);
  return work(out, bytes) || pass_through(false);
}

}  // namespace

bool imageRestoration(const guchar *src, guchar **dst, int rows, int cols, int bpp) {
  return over_region(src, dst, rows, cols, bpp, 3, [&](guchar *out, std::size_t bytes) {
    return restore_channels(src, out, rows, cols, bpp) &&
           (bvals.repair_brightness == 0 || repair_brightness(src, out, rows, cols, bpp, bytes));
  });
}

bool imageMotionBlur(const guchar *src, guchar **dst, int rows, int cols, int bpp) {
  return over_region(src, dst, rows, cols, bpp, 1, [&](guchar *out, std::size_t /*bytes*/) {
    return blur_channels(src, out, rows, cols, bpp);
  });
}

}  // namespace ostrivo
