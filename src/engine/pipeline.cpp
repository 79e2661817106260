#include "engine/pipeline.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "colour/brightness.h"
#include "colour/hsv.h"
#include "engine/complex.h"
#include "engine/degradation.h"
#include "engine/fourier_filter.h"
#include "engine/frame.h"
#include "engine/planes.h"
#include "engine/progress.h"
#include "engine/smooth_motion.h"
#include "engine/threads.h"
#include "engine/transform.h"
#include "engine/wiener.h"

namespace ostrivo {

namespace {

std::size_t sample_bytes(SampleFormat format) {
  return format == SampleFormat::u8 ? sizeof(guchar) : sizeof(float);
}

// Calls f with the channel count as a compile-time constant, so that the
// loops that gather one channel from interleaved pixels, or scatter it
// back, are compiled for their stride.
template <typename F>
void with_stride(int channels, const F &f) {
  switch (channels) {
    case 1:
      f(std::integral_constant<std::size_t, 1>{});
      break;
    case 2:
      f(std::integral_constant<std::size_t, 2>{});
      break;
    case 3:
      f(std::integral_constant<std::size_t, 3>{});
      break;
    default:
      f(std::integral_constant<std::size_t, 4>{});
      break;
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
    for (std::size_t k = 0; k < n; ++k)
      out[k * stride] = static_cast<guchar>(round_blurred(x[k] / divisor));
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

// The smallest size of at least n whose only prime factors are 2, 3, 5
// and 7: FFTW transforms such sizes fastest.
int fast_size(int n) {
  for (int m = std::max(n, 1);; ++m) {
    int rest = m;
    for (int p : {2, 3, 5, 7})
      while (rest % p == 0) rest /= p;
    if (rest == 1) return m;
  }
}

// Index i of a plane extended by mirror images of a run of n samples on
// both sides: ... 1 0 | 0 1 ... n-1 | n-1 n-2 ..., repeating for as far as
// it must.
int mirrored(int i, int n) {
  const int period = 2 * n;
  i %= period;
  if (i < 0) i += period;
  return i < n ? i : period - 1 - i;
}

// Where one sample of an extended axis comes from: (1 - alpha) of sample
// `a` of the region plus alpha of sample `b`.
struct AxisSource {
  int a;
  int b;
  double alpha;
};

// One axis of a region of n samples extended to `size` samples, the region
// starting at `start`. The periodic transforms join the far end of the
// extension to its near end, so the extension must lead smoothly from the
// region's last samples round to its first: next to each edge lie `pure`
// mirrored samples, which a blur of the region reaches, and in between the
// mirror image of the far edge fades into that of the near edge along a
// raised cosine. A jump at that seam would reach the whole region through
// the deconvolution, most at the frequencies the motion wipes out.
std::vector<AxisSource> extended_axis(int n, int size, int start, int pure) {
  std::vector<AxisSource> axis(static_cast<std::size_t>(size));
  const int gap = size - n;  // the extension, from the far edge round to the near one
  const int fade = gap - 2 * pure;
  for (int i = 0; i < size; ++i) {
    const int offset = i - start;
    AxisSource &src = axis[static_cast<std::size_t>(i)];
    if (offset >= 0 && offset < n) {
      src = {offset, offset, 0.0};
      continue;
    }
    // Distance past the far edge, going round: 0 is the first sample after it.
    const int past = (offset - n + size) % size;
    const int far_mirror = mirrored(n + past, n);     // continuing past the far edge
    const int near_mirror = mirrored(past - gap, n);  // arriving at the near edge
    double alpha = 0.0;
    if (past >= gap - pure || fade <= 0)
      alpha = past >= gap / 2 ? 1.0 : 0.0;
    else if (past >= pure)
      alpha = 0.5 - 0.5 * std::cos(3.14159265358979323846 * (past - pure + 0.5) / fade);
    src = {far_mirror, near_mirror, alpha};
  }
  return axis;
}

// Where the region lies in the plane its transforms work on. The classic
// model transforms the region itself. The smooth one extends it on every
// side (see extended_axis), far enough that what the periodic transforms
// carry round from one side to the other lands outside the region, and
// crops the result.
struct Geometry {
  int rows = 0, cols = 0;                  // the transformed plane
  int top = 0, left = 0;                   // the region's first row and column in it
  std::vector<AxisSource> row_of, col_of;  // empty when the plane is the region

  bool extended() const { return !col_of.empty(); }
};

Geometry region_geometry(int rows, int cols) { return {rows, cols, 0, 0, {}, {}}; }

// The mirrored samples next to each edge reach beyond the line by this
// many, and the fade between the two mirror images is at least this long.
constexpr int kMirrorMargin = 4;
// The margin around what a preview shows, in motion lengths and pixels.
constexpr double kPreviewMarginLengths = 4.0;
constexpr int kPreviewMarginPixels = 32;
constexpr int kMinFade = 32;

Geometry mirrored_geometry(int rows, int cols, const PsfReach &reach) {
  Geometry g;
  const int pure_rows = reach.rows + kMirrorMargin;
  const int pure_cols = reach.cols + kMirrorMargin;
  const int fade_rows = std::max(kMinFade, 2 * reach.rows);
  const int fade_cols = std::max(kMinFade, 2 * reach.cols);
  g.rows = fast_size(rows + 2 * pure_rows + fade_rows);
  g.cols = fast_size(cols + 2 * pure_cols + fade_cols);
  g.top = pure_rows + (g.rows - rows - 2 * pure_rows) / 2;
  g.left = pure_cols + (g.cols - cols - 2 * pure_cols) / 2;
  g.row_of = extended_axis(rows, g.rows, g.top, pure_rows);
  g.col_of = extended_axis(cols, g.cols, g.left, pure_cols);
  return g;
}

// The classic model's border frame as one repair sees it: whether there is
// one, which cells of the plane are interior, and how the blurred copy
// continues beyond the plane's edges.
struct FrameSpec {
  bool framed = false;
  FrameInterior interior{};
  FrameEdges edges = FrameEdges::wrap;
};

// The frame of a whole region.
FrameSpec region_frame(int rows, int cols, const RepairSettings &settings) {
  const double frame_px = (settings.frame_width / 100.0) * cols;
  // NaN takes the frame path too.
  return {settings.model == MotionModel::classic && frame_px != 0.0,
          frame_interior(rows, cols, frame_px), FrameEdges::wrap};
}

// One region's work: its pixels, its threads and its transforms.
template <typename T>
class Region {
 public:
  Region(const PixelRegion &px, const RepairSettings &settings, std::vector<PsfTap> taps,
         Geometry geometry, FrameSpec frame, WorkerPool &pool)
      : src_(static_cast<const T *>(px.src)),
        dst_(static_cast<T *>(px.dst)),
        rows_(px.rows),
        cols_(px.cols),
        channels_(px.channels),
        settings_(settings),
        cells_(plane_cells(px.rows, px.cols)),
        taps_(std::move(taps)),
        geometry_(std::move(geometry)),
        frame_(frame),
        transform_(geometry_.rows, geometry_.cols, pool) {}

  bool ok() const { return transform_.ok(); }

  bool repair(bool ticks) {
    const auto tick = [ticks] {
      if (ticks) progress_tick();
    };
    Spectrum weights(spectrum_cells(geometry_.rows, geometry_.cols));
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

    const bool framed = frame_.framed;
    Buffer<T> channel(framed ? cells_ : 0);
    Buffer<T> composed(framed ? cells_ : 0);
    if (framed && (!channel || !composed)) return false;

    for (int ch = 0; ch < channels_; ++ch) {
      const bool last = ch == channels_ - 1;
      tick();
      if (!framed) {
        transform_.filter(source_rows(ch), apply_weights, write_rows(ch, false));
        tick();
        if (!last) tick();
      } else {
        extract(ch, channel.get());
        if (!compose_frame(channel.get(), rows_, cols_, taps_, frame_.interior, composed.get(),
                           transform_.pool(), frame_.edges))
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
    Spectrum H(spectrum_cells(geometry_.rows, geometry_.cols));
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
    // The classic line's blur is a whole sum divided by its cell count: its
    // exact halves are recognised and rounded down.
    const bool exact_halves = settings_.model == MotionModel::classic;
    for (int ch = 0; ch < channels_; ++ch) {
      transform_.filter(
          source_rows(ch),
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
          write_rows(ch, exact_halves));
    }
    return true;
  }

 private:
  std::size_t plane_cols() const { return static_cast<std::size_t>(geometry_.cols); }

  // Calls f(k) for the spectrum index k of every element of columns
  // [c0, c0 + w) in every row. The rows of a chunk lie far apart, so the
  // next rows' cells of the spectra the step reads are fetched ahead.
  template <typename F>
  void for_columns(int c0, int w, const F &f, const fftw_complex *a, const fftw_complex *b) const {
    const auto hc = static_cast<std::size_t>(half_columns(geometry_.cols));
    const std::size_t end = static_cast<std::size_t>(geometry_.rows) * hc;
    constexpr std::size_t kAhead = 4;  // rows
    for (std::size_t row = 0; row < end; row += hc) {
      const std::size_t next = row + kAhead * hc + c0;
      if (next < end)
        for (std::size_t k = next; k < next + w; k += 4) {
          __builtin_prefetch(a + k, 1);
          __builtin_prefetch(b + k, 0);
        }
      for (std::size_t k = row + c0; k < row + c0 + w; ++k) f(k);
    }
  }

  // Transforms the point-spread plane of taps_ (each tap at its offset from
  // the origin, wrapped into the plane) and hands its spectrum, column chunk
  // by column chunk, to `use`.
  template <typename Use>
  void psf_spectrum(const Use &use) {
    const auto wrap = [](int i, int n) { return (i % n + n) % n; };
    transform_.forward(
        [&](int r0, int n, double *rows) {
          const auto in_chunk = [&](const PsfTap &tap) {
            const int r = wrap(tap.row, geometry_.rows);
            return r >= r0 && r < r0 + n;
          };
          if (std::none_of(taps_.begin(), taps_.end(), in_chunk)) return false;
          std::fill(rows, rows + static_cast<std::size_t>(n) * plane_cols(), 0.0);
          for (const PsfTap &tap : taps_)
            if (in_chunk(tap))
              rows[static_cast<std::size_t>(wrap(tap.row, geometry_.rows) - r0) * plane_cols() +
                   static_cast<std::size_t>(wrap(tap.col, geometry_.cols))] = tap.weight;
          return true;
        },
        use);
  }

  // Rows of the transformed plane from samples laid out as the region's
  // pixels, `stride` apart from `first` on (a channel of the interleaved
  // source, or a plane of one channel): the region's own rows, or their
  // mirror images beyond its edges.
  template <typename Stride>
  void fill_rows(const T *first, Stride stride, int r0, int n, double *rows) const {
    if (!geometry_.extended()) {
      const T *src = first + static_cast<std::size_t>(r0) * cols_ * stride;
      const std::size_t count = static_cast<std::size_t>(n) * cols_;
      for (std::size_t k = 0; k < count; ++k) rows[k] = static_cast<double>(src[k * stride]);
      return;
    }
    // A plane row: its region rows (one, or two fading into each other),
    // each extended along the row the same way.
    const auto extended_row = [&](int region_row, double weight, double *out, bool add) {
      const T *src = first + static_cast<std::size_t>(region_row) * cols_ * stride;
      for (std::size_t c = 0; c < plane_cols(); ++c) {
        const AxisSource &col = geometry_.col_of[c];
        double v = static_cast<double>(src[static_cast<std::size_t>(col.a) * stride]);
        if (col.alpha != 0.0)
          v += col.alpha * (static_cast<double>(src[static_cast<std::size_t>(col.b) * stride]) - v);
        out[c] = add ? out[c] + weight * v : weight * v;
      }
    };
    for (int r = 0; r < n; ++r) {
      const AxisSource &row = geometry_.row_of[static_cast<std::size_t>(r0 + r)];
      double *out = rows + static_cast<std::size_t>(r) * plane_cols();
      extended_row(row.a, 1.0 - row.alpha, out, false);
      if (row.alpha != 0.0) extended_row(row.b, row.alpha, out, true);
    }
  }

  // Rows of channel `ch` of the interleaved source.
  auto source_rows(int ch) const {
    return [this, ch](int r0, int n, double *rows) {
      with_stride(channels_, [&](auto stride) { fill_rows(src_ + ch, stride, r0, n, rows); });
    };
  }

  // Rows of a plane of samples the size of the region.
  auto plane_rows(const T *plane) const {
    return [this, plane](int r0, int n, double *rows) {
      fill_rows(plane, std::integral_constant<std::size_t, 1>{}, r0, n, rows);
    };
  }

  // Writes the region's part of transformed rows into channel `ch` of the
  // destination.
  auto write_rows(int ch, bool exact_halves) const {
    return [this, ch, exact_halves](int r0, int n, double *rows) {
      const double divisor = static_cast<double>(plane_cells(geometry_.rows, geometry_.cols));
      with_stride(channels_, [&](auto stride) {
        const auto finish = [&](double *x, std::size_t count, T *dst) {
          if (exact_halves)
            Samples<T>::finish_blur(x, count, divisor, dst, stride);
          else
            Samples<T>::finish(x, count, divisor, dst, stride);
        };
        if (!geometry_.extended()) {
          finish(rows, static_cast<std::size_t>(n) * cols_,
                 dst_ + static_cast<std::size_t>(r0) * cols_ * stride + ch);
          return;
        }
        for (int r = 0; r < n; ++r) {
          const int region_row = r0 + r - geometry_.top;
          if (region_row < 0 || region_row >= rows_) continue;
          finish(rows + static_cast<std::size_t>(r) * plane_cols() + geometry_.left,
                 static_cast<std::size_t>(cols_),
                 dst_ + static_cast<std::size_t>(region_row) * cols_ * stride + ch);
        }
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
  std::vector<PsfTap> taps_;
  Geometry geometry_;
  FrameSpec frame_;
  RegionTransform transform_;
};

template <>
void Region<guchar>::repair_brightness() {
  repair_grey_range(src_, dst_, cells_, channels_);
}

template <>
void Region<float>::repair_brightness() {
  repair_value_range(src_, dst_, cells_, channels_, channels_ >= 3 ? 3 : 1);
}

template <typename T>
bool run_region(const PixelRegion &px, const RepairSettings &settings, bool blur, bool ticks) {
  WorkerPool pool(engine_threads());
  const bool smooth = settings.model == MotionModel::smooth;
  auto taps = smooth ? smooth_motion_taps(settings.length, settings.direction)
                     : motion_line_taps(px.rows, px.cols, settings.length, settings.direction);
  Geometry geometry = smooth ? mirrored_geometry(px.rows, px.cols, psf_reach(taps))
                             : region_geometry(px.rows, px.cols);
  Region<T> region(px, settings, std::move(taps), std::move(geometry),
                   region_frame(px.rows, px.cols, settings), pool);
  if (!region.ok()) return false;
  return blur ? region.blur() : region.repair(ticks);
}

// The window's repair (see repair_window).
template <typename T>
bool run_window(const PixelRegion &px, const RegionWindow &window, int region_rows, int region_cols,
                const RepairSettings &settings) {
  WorkerPool pool(engine_threads());
  std::vector<PsfTap> taps;
  FrameSpec frame;
  if (settings.model == MotionModel::smooth) {
    taps = smooth_motion_taps(settings.length, settings.direction);
  } else {
    // The region's line, its cells as offsets from the origin: those on the
    // far side of the periodic plane lie before it.
    taps = motion_line_taps(region_rows, region_cols, settings.length, settings.direction);
    for (PsfTap &tap : taps) {
      if (tap.row > region_rows / 2) tap.row -= region_rows;
      if (tap.col > region_cols / 2) tap.col -= region_cols;
    }
    frame = region_frame(region_rows, region_cols, settings);
    const auto clip = [](int v, int n) { return std::clamp(v, 0, n); };
    frame.interior = {clip(frame.interior.top - window.top, px.rows),
                      clip(frame.interior.bottom - window.top, px.rows),
                      clip(frame.interior.left - window.left, px.cols),
                      clip(frame.interior.right - window.left, px.cols)};
    frame.edges = FrameEdges::mirror;
  }
  Geometry geometry = mirrored_geometry(px.rows, px.cols, psf_reach(taps));
  Region<T> region(px, settings, std::move(taps), std::move(geometry), frame, pool);
  return region.ok() && region.repair(false);
}

// What every region operation shares: a region below 2 rows or columns is
// passed through, one that cannot be had is refused, and a refused region
// leaves a copy of the source. Nothing is thrown out of here: a failed
// allocation anywhere inside is a refusal.
bool over_region(const PixelRegion &px, const RepairSettings &settings, int min_channels, bool blur,
                 bool ticks) {
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
  if (!memory_allows(repair_peak_bytes(px.rows, px.cols, px.channels, px.format, settings) -
                     2.0 * static_cast<double>(bytes)))  // the caller's buffers are had
    return pass_through(false);
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

double repair_peak_bytes(int rows, int cols, int channels, SampleFormat format,
                         const RepairSettings &settings) {
  if (rows <= 0 || cols <= 0 || channels <= 0) return 0.0;
  const double cells = static_cast<double>(rows) * cols;
  const double samples = cells * channels * static_cast<double>(sample_bytes(format));
  double plane = cells;
  bool framed = false;
  if (settings.model == MotionModel::smooth) {
    const Geometry g = mirrored_geometry(
        rows, cols, psf_reach(smooth_motion_taps(settings.length, settings.direction)));
    plane = static_cast<double>(g.rows) * g.cols;
  } else {
    framed = settings.frame_width != 0.0;
  }
  double bytes = 2 * samples;                       // source and destination
  bytes += 2 * (plane / 2) * sizeof(fftw_complex);  // Wiener weights and spectrum
  if (framed) bytes += 2 * cells * static_cast<double>(sample_bytes(format));  // channel, composed
  if (settings.repair_brightness && format == SampleFormat::u8 && channels >= 3)
    bytes += 3 * cells * channels;  // HSV copies
  return bytes;
}

bool memory_allows(double bytes) {
  double limit = 0.0;
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages > 0 && page_size > 0)
    limit = static_cast<double>(pages) * static_cast<double>(page_size);
  for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    rlimit r{};
    if (getrlimit(resource, &r) == 0 && r.rlim_cur != RLIM_INFINITY) {
      const double cap = static_cast<double>(r.rlim_cur);
      limit = limit > 0.0 ? std::min(limit, cap) : cap;
    }
  }
  return limit <= 0.0 || bytes < limit;  // unknown: let allocation decide
}

int preview_margin(const RepairSettings &settings) {
  const double length =
      std::isfinite(settings.length) ? std::clamp(settings.length, 1.0, 100.0) : 1.0;
  return static_cast<int>(std::ceil(kPreviewMarginLengths * length)) + kPreviewMarginPixels;
}

bool repair_window(const PixelRegion &px, const RegionWindow &window, int region_rows,
                   int region_cols, const RepairSettings &settings) {
  // A window that is the whole region is repaired as the region.
  if (window.top == 0 && window.left == 0 && px.rows == region_rows && px.cols == region_cols)
    return repair_region(px, settings, false);
  std::size_t samples = 0;
  if (px.rows < 2 || px.cols < 2 || px.channels < 1 || px.channels > 4 ||
      !pixel_buffer_bytes(px.rows, px.cols, px.channels, &samples))
    return repair_region(px, settings, false);  // passes through or refuses, with a copy
  try {
    if (px.format == SampleFormat::u8
            ? run_window<guchar>(px, window, region_rows, region_cols, settings)
            : run_window<float>(px, window, region_rows, region_cols, settings))
      return true;
  } catch (const std::exception &) {
  }
  std::memcpy(px.dst, px.src, samples * sample_bytes(px.format));
  return false;
}

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
