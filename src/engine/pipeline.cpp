#include "engine/pipeline.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <type_traits>
#include <vector>

#include "colour/brightness.h"
#include "colour/hsv.h"
#include "engine/complex.h"
#include "engine/degradation.h"
#include "engine/fourier_filter.h"
#include "engine/frame.h"
#include "engine/planes.h"
#include "engine/progress.h"
#include "engine/threads.h"
#include "engine/transform.h"
#include "engine/wiener.h"

namespace ostrivo {

namespace {

// Working memory a region needs at its peak, per cell of its transform:
// the Wiener weights and the spectrum (8 bytes each), and on the frame
// path the channel and its composed copy (up to 4 bytes each).
constexpr double kPeakBytesPerCell = 2 * 8 + 2 * 4;

bool fits_in_memory(std::size_t cells) {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return true;  // unknown: let allocation decide
  const double physical = static_cast<double>(pages) * static_cast<double>(page_size);
  return static_cast<double>(cells) * kPeakBytesPerCell < physical;
}

// Calls f with the channel count as a compile-time constant, so that the
// loops that gather one channel from interleaved pixels, or scatter it
// back, are compiled for their stride.
template <typename F>
void with_stride(int channels, const F &f) {
  switch (channels) {
    case 1: f(std::integral_constant<std::size_t, 1>{}); break;
    case 2: f(std::integral_constant<std::size_t, 2>{}); break;
    case 3: f(std::integral_constant<std::size_t, 3>{}); break;
    default: f(std::integral_constant<std::size_t, 4>{}); break;
  }
}

// How samples of one format enter a transform and leave it.
template <typename T>
struct Samples;

template <>
struct Samples<guchar> {
  // Divides n transformed samples by the plane's size and rounds them with
  // round_to_guchar, exact halves going down.
  template <typename Stride>
  static void finish(double *x, std::size_t n, double divisor, guchar *out, Stride stride) {
    normalise_and_round(x, n, divisor);
    // Each is now a whole number 0..255, which converts to its byte exactly.
    for (std::size_t k = 0; k < n; ++k) out[k * stride] = static_cast<guchar>(x[k]);
  }
  // A blurred copy: its exact halves recognised (see blurFrameOfCanal).
  template <typename Stride>
  static void finish_blur(double *x, std::size_t n, double divisor, guchar *out, Stride stride) {
    for (std::size_t k = 0; k < n; ++k) {
      const double v = x[k] / divisor;
      const double lower = std::floor(v);
      const double rounded =
          std::fabs(v - (lower + 0.5)) < kHalfTolerance ? round_sample(lower) : round_sample(v);
      out[k * stride] = static_cast<guchar>(rounded);
    }
  }
};

template <>
struct Samples<float> {
  template <typename Stride>
  static void finish(double *x, std::size_t n, double divisor, float *out, Stride stride) {
    for (std::size_t k = 0; k < n; ++k) {
      const double v = x[k] / divisor;
      out[k * stride] = static_cast<float>(v > 0.0 ? (v < 1.0 ? v : 1.0) : 0.0);
    }
  }
  template <typename Stride>
  static void finish_blur(double *x, std::size_t n, double divisor, float *out, Stride stride) {
    finish(x, n, divisor, out, stride);
  }
};

// One region's work: its pixels, its threads and its transforms.
template <typename T>
class Region {
 public:
  Region(const PixelRegion &px, const RepairSettings &settings, WorkerPool &pool)
      : src_(static_cast<const T *>(px.src)),
        dst_(static_cast<T *>(px.dst)),
        rows_(px.rows),
        cols_(px.cols),
        channels_(px.channels),
        settings_(settings),
        cells_(plane_cells(px.rows, px.cols)),
        transform_(px.rows, px.cols, pool) {}

  bool ok() const { return transform_.ok(); }

  bool repair(bool ticks) {
    const auto tick = [ticks] {
      if (ticks) progress_tick();
    };
    taps_ = motion_line_taps(rows_, cols_, settings_.length, settings_.direction);
    Spectrum weights(spectrum_cells(rows_, cols_));
    if (!weights) return false;
    psf_spectrum([&](int c0, int w, fftw_complex *H) {
      for_columns(
          c0, w, [&](std::size_t k) { wiener_weight(&H[k], settings_.k, &weights[k]); }, H,
          weights.get());
    });
    const auto apply_weights = [&](int c0, int w, fftw_complex *Y) {
      for_columns(
          c0, w, [&](std::size_t k) { apply_weight(&Y[k], &weights[k]); }, Y, weights.get());
    };

    // The brightness stage of byte RGB works on HSV copies; they are had
    // before any work, so that a region whose memory runs short is refused
    // at once rather than after its channels are done.
    const bool hsv = settings_.repair_brightness && std::is_same_v<T, guchar> && channels_ >= 3;
    const std::size_t hsv_bytes = hsv ? cells_ * static_cast<std::size_t>(channels_) : 0;
    Buffer<guchar> source_hsv(hsv_bytes), restored_hsv(hsv_bytes), repaired_hsv(hsv_bytes);
    if (hsv && (!source_hsv || !restored_hsv || !repaired_hsv)) return false;

    const double frame_px = (settings_.frame_width / 100.0) * cols_;
    const bool direct = frame_px == 0.0;  // NaN takes the frame path
    Buffer<T> channel(direct ? 0 : cells_);
    Buffer<T> composed(direct ? 0 : cells_);
    if (!direct && (!channel || !composed)) return false;
    const FrameInterior interior = frame_interior(rows_, cols_, frame_px);

    for (int ch = 0; ch < channels_; ++ch) {
      const bool last = ch == channels_ - 1;
      tick();
      if (direct) {
        transform_.filter(interleaved_rows(ch), apply_weights, write_rows(ch, false));
        tick();
        if (!last) tick();
      } else {
        extract(ch, channel.get());
        if (!compose_frame(channel.get(), rows_, cols_, taps_, interior, composed.get(),
                           transform_.pool()))
          return false;
        tick();
        if (!last) tick();
        transform_.filter(plane_rows(composed.get()), apply_weights, write_rows(ch, false));
      }
    }
    if (hsv)
      repair_brightness_hsv(source_hsv.get(), restored_hsv.get(), repaired_hsv.get());
    else if (settings_.repair_brightness)
      repair_brightness();
    return true;
  }

  bool blur() {
    taps_ = motion_line_taps(rows_, cols_, settings_.length, settings_.direction);
    Spectrum H(spectrum_cells(rows_, cols_));
    if (!H) return false;
    psf_spectrum([&](int c0, int w, fftw_complex *S) {
      for_columns(
          c0, w,
          [&](std::size_t k) {
            H[k][0] = S[k][0];
            H[k][1] = S[k][1];
          },
          S, H.get());
    });
    for (int ch = 0; ch < channels_; ++ch) {
      transform_.filter(
          interleaved_rows(ch),
          [&](int c0, int w, fftw_complex *Y) {
            for_columns(
                c0, w,
                [&](std::size_t k) {
                  fftw_complex product;
                  mnozenieLiczbZespolonych(&Y[k], &H[k], &product);
                  Y[k][0] = product[0];
                  Y[k][1] = product[1];
                },
                Y, H.get());
          },
          write_rows(ch, true));
    }
    return true;
  }

 private:
  // Calls f(k) for the spectrum index k of every element of columns
  // [c0, c0 + w) in every row.
  // The rows of a chunk lie far apart, so the next rows' cells of the
  // spectra the step reads are fetched ahead.
  template <typename F>
  void for_columns(int c0, int w, const F &f, const fftw_complex *a, const fftw_complex *b) const {
    const auto hc = static_cast<std::size_t>(half_columns(cols_));
    const std::size_t end = static_cast<std::size_t>(rows_) * hc;
    constexpr std::size_t kAhead = 4;  // rows
    for (std::size_t row = 0; row < end; row += hc) {
      const std::size_t next = row + kAhead * hc + c0;
      if (next < end)
        for (std::size_t k = next; k < next + w; k += 4) {
          __builtin_prefetch(a + k, 1);
          if (b != nullptr) __builtin_prefetch(b + k, 0);
        }
      for (std::size_t k = row + c0; k < row + c0 + w; ++k) f(k);
    }
  }

  // Transforms the point-spread plane of taps_ and hands its spectrum,
  // column chunk by column chunk, to `use`.
  template <typename Use>
  void psf_spectrum(const Use &use) {
    transform_.forward(
        [&](int r0, int n, double *rows) {
          const auto in_chunk = [&](const PsfTap &tap) { return tap.row >= r0 && tap.row < r0 + n; };
          if (std::none_of(taps_.begin(), taps_.end(), in_chunk)) return false;
          std::fill(rows, rows + static_cast<std::size_t>(n) * cols_, 0.0);
          for (const PsfTap &tap : taps_)
            if (in_chunk(tap))
              rows[static_cast<std::size_t>(tap.row - r0) * cols_ + tap.col] = tap.weight;
          return true;
        },
        use);
  }

  // Rows of channel `ch`, taken from the interleaved source.
  auto interleaved_rows(int ch) const {
    return [this, ch](int r0, int n, double *rows) {
      const T *src = src_ + static_cast<std::size_t>(r0) * cols_ * channels_ + ch;
      const std::size_t count = static_cast<std::size_t>(n) * cols_;
      with_stride(channels_, [&](auto stride) {
        for (std::size_t k = 0; k < count; ++k) rows[k] = static_cast<double>(src[k * stride]);
      });
    };
  }

  // Rows of a plane of samples.
  auto plane_rows(const T *plane) const {
    return [this, plane](int r0, int n, double *rows) {
      const T *src = plane + static_cast<std::size_t>(r0) * cols_;
      const std::size_t count = static_cast<std::size_t>(n) * cols_;
      for (std::size_t k = 0; k < count; ++k) rows[k] = static_cast<double>(src[k]);
    };
  }

  // Writes transformed rows into channel `ch` of the destination.
  auto write_rows(int ch, bool blurred) const {
    return [this, ch, blurred](int r0, int n, double *rows) {
      T *dst = dst_ + static_cast<std::size_t>(r0) * cols_ * channels_ + ch;
      const std::size_t count = static_cast<std::size_t>(n) * cols_;
      const double divisor = static_cast<double>(cells_);
      with_stride(channels_, [&](auto stride) {
        if (blurred)
          Samples<T>::finish_blur(rows, count, divisor, dst, stride);
        else
          Samples<T>::finish(rows, count, divisor, dst, stride);
      });
    };
  }

  // Channel `ch` of the source as a plane.
  void extract(int ch, T *plane) {
    const std::size_t tasks = (static_cast<std::size_t>(rows_) + 63) / 64;
    transform_.pool().run(tasks, [&](std::size_t task, int /*thread*/) {
      const std::size_t first = task * 64 * cols_;
      const std::size_t end = std::min(cells_, first + 64 * static_cast<std::size_t>(cols_));
      with_stride(channels_, [&](auto stride) {
        for (std::size_t k = first; k < end; ++k) plane[k] = src_[k * stride + ch];
      });
    });
  }

  // Maps the result's value range onto the source's: through the HSV
  // bytes for byte RGB, directly for grey and floats.
  void repair_brightness_hsv(guchar *source_hsv, guchar *restored_hsv, guchar *repaired) {
    rgb_to_hsv(reinterpret_cast<const guchar *>(src_), source_hsv, cols_, rows_, channels_);
    rgb_to_hsv(reinterpret_cast<const guchar *>(dst_), restored_hsv, cols_, rows_, channels_);
    HSV_Restoration_V(restored_hsv, source_hsv, &repaired, cols_, rows_, channels_);
    hsv_to_rgb(repaired, reinterpret_cast<guchar *>(dst_), cols_, rows_, channels_);
  }
  void repair_brightness();

  const T *src_;
  T *dst_;
  int rows_;
  int cols_;
  int channels_;
  RepairSettings settings_;
  std::size_t cells_;
  RegionTransform transform_;
  std::vector<PsfTap> taps_;
};

template <>
void Region<guchar>::repair_brightness() {
  repair_grey_range(src_, dst_, cells_, channels_);
}

template <>
void Region<float>::repair_brightness() {
  repair_value_range(src_, dst_, cells_, channels_, channels_ >= 3 ? 3 : 1);
}

std::size_t sample_bytes(SampleFormat format) {
  return format == SampleFormat::u8 ? sizeof(guchar) : sizeof(float);
}

template <typename T>
bool run_region(const PixelRegion &px, const RepairSettings &settings, bool blur, bool ticks) {
  WorkerPool pool(engine_threads());
  Region<T> region(px, settings, pool);
  if (!region.ok()) return false;
  return blur ? region.blur() : region.repair(ticks);
}

// What every region operation shares: a region below 2 rows or columns is
// passed through, one that cannot be had is refused, and a refused region
// leaves a copy of the source. Nothing is thrown out of here: a failed
// allocation anywhere inside is a refusal.
bool over_region(const PixelRegion &px, const RepairSettings &settings, int min_channels,
                 bool blur, bool ticks) {
  std::size_t samples = 0;
  if (!pixel_buffer_bytes(px.rows, px.cols, std::max(px.channels, 0), &samples)) return false;
  std::size_t bytes = 0;
  if (__builtin_mul_overflow(samples, sample_bytes(px.format), &bytes)) return false;
  const auto pass_through = [&](bool result) {
    if (bytes > 0 && px.dst != px.src) std::memcpy(px.dst, px.src, bytes);
    return result;
  };
  if (px.channels < min_channels || px.channels > 4) return pass_through(false);
  if (px.rows < 2 || px.cols < 2) return pass_through(true);
  if (!fits_in_memory(plane_cells(px.rows, px.cols))) return pass_through(false);
  bool done = false;
  try {
    done = px.format == SampleFormat::u8 ? run_region<guchar>(px, settings, blur, ticks)
                                         : run_region<float>(px, settings, blur, ticks);
  } catch (const std::exception &) {
    done = false;
  }
  return done || pass_through(false);
}

}  // namespace

RepairSettings repair_settings(const BlurVals &vals) {
  RepairSettings s;
  s.length = vals.length;
  s.direction = vals.direction;
  s.k = vals.k;
  s.frame_width = vals.frame_width;
  s.repair_brightness = vals.repair_brightness != 0;
  s.model = MotionModel::classic;
  return s;
}

bool repair_region(const PixelRegion &region, const RepairSettings &settings, bool ticks) {
  return over_region(region, settings, 1, false, ticks);
}

bool blur_region(const PixelRegion &region, const RepairSettings &settings) {
  return over_region(region, settings, 1, true, false);
}

bool imageRestoration(const guchar *src, guchar **dst, int rows, int cols, int bpp) {
  const PixelRegion px{rows, cols, bpp, SampleFormat::u8, src, *dst};
  return over_region(px, repair_settings(bvals), 3, false, bvals.preview == 0);
}

bool imageMotionBlur(const guchar *src, guchar **dst, int rows, int cols, int bpp) {
  const PixelRegion px{rows, cols, bpp, SampleFormat::u8, src, *dst};
  return over_region(px, repair_settings(bvals), 1, true, false);
}

}  // namespace ostrivo
