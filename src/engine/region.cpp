#include "engine/region.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <type_traits>
#include <utility>

#include "colour/brightness.h"
#include "colour/hsv.h"
#include "colour/light.h"
#include "engine/complex.h"
#include "engine/frame.h"
#include "engine/planes.h"
#include "engine/resources.h"
#include "engine/samples.h"
#include "engine/solver.h"
#include "engine/threads.h"
#include "engine/transform.h"

namespace ostrivo {

namespace {

using Byte = unsigned char;

// Rows of the region a task of a per-pixel pass takes.
constexpr std::size_t kRowsPerTask = 64;

// The orthonormal opponent basis: brightness, red against blue, green
// against both. Its inverse is its transpose, and white noise stays white
// with the same sigma in it.
const double kOpponent[3][3] = {
    {0.57735026918962576451, 0.57735026918962576451, 0.57735026918962576451},
    {0.70710678118654752440, 0.0, -0.70710678118654752440},
    {0.40824829046386301637, -0.81649658092772603273, 0.40824829046386301637}};

// Whether the solver weighs the data a pixel (a sparse repair of linear
// light, whose noise is uneven).
bool light_weighed(const RepairSettings &settings, const Geometry &geometry) {
  return settings.linear_light && solver_for(settings, geometry) == SolverKind::sparse;
}

// One region's work: its pixels, its plan, its threads and its transforms.
// The pixels move between the interleaved region and the rows of the
// transformed plane here (region input and output); the solver does the
// rest.
template <typename T>
class Region {
 public:
  Region(const PixelRegion &px, const MotionPlan &plan, const RepairSettings &settings,
         WorkerPool &pool)
      : px_(px),
        src_(static_cast<const T *>(px.src)),
        dst_(static_cast<T *>(px.dst)),
        rows_(px.rows),
        cols_(px.cols),
        channels_(px.channels),
        cells_(plane_cells(px.rows, px.cols)),
        plan_(plan),
        geometry_(plan.geometry),
        settings_(settings),
        transform_(geometry_.rows, geometry_.cols, pool) {}

  bool ok() const { return transform_.ok(); }

  bool repair(const ProgressFn &progress) {
    const auto report = [&](double fraction) {
      if (progress) progress(fraction);
    };
    const double noise = settings_.noise >= 0.0 ? settings_.noise : measure_noise(px_);
    const double scale = std::is_same_v<T, Byte> ? 1.0 : 1.0 / 255.0;
    // In linear light the noise of the encoded samples is uneven, from pixel
    // to pixel and from channel to channel: each channel's data weighs each
    // pixel by its own (the solver reads the weights at each plane).
    const bool weighed = light_weighed(settings_, geometry_) && std::is_same_v<T, float>;
    Buffer<float> weights(weighed ? cells_ : 0);
    if (weighed && !weights) return false;
    std::unique_ptr<Solver> solver =
        prepare_solver({transform_, geometry_, plan_.taps, settings_, noise, scale, weights.get()});
    if (!solver) return false;

    // A solver with a prior restores colour as brightness and two colour
    // differences, which it holds differently; their results wait here until
    // all three are done. Weighed data stays in its own colours: a mix would
    // carry a bright colour's noise into a dark one's.
    const bool opponent =
        solver_for(settings_, geometry_) == SolverKind::sparse && channels_ >= 3 && !weighed;
    Buffer<float> staged(opponent ? 3 * cells_ : 0);
    if (opponent && !staged) return false;
    const auto role_of = [&](int plane) {
      // brightness or grey first; in linear light each colour its own
      const int mains = weighed && channels_ >= 3 ? 3 : 1;
      return plane < mains ? PlaneRole::main : PlaneRole::detail;
    };

    // The brightness stage of byte RGB works on HSV copies; they are had
    // before any work, so that a region whose memory runs short is refused
    // at once rather than after its channels are done.
    const bool hsv = settings_.repair_brightness && std::is_same_v<T, Byte> && channels_ >= 3;
    const std::size_t hsv_bytes = hsv ? cells_ * static_cast<std::size_t>(channels_) : 0;
    Buffer<Byte> source_hsv(hsv_bytes), restored_hsv(hsv_bytes), repaired_hsv(hsv_bytes);
    if (hsv && (!source_hsv || !restored_hsv || !repaired_hsv)) return false;

    const bool framed = plan_.frame.framed;
    Buffer<T> channel(framed ? cells_ : 0);
    Buffer<T> composed(framed ? cells_ : 0);
    if (framed && (!channel || !composed)) return false;

    // A grey photo held in colour channels: each colour on its own would
    // come out the same three times, so the first is solved and copied.
    const bool one_colour = weighed && channels_ >= 3 && same_colours();
    const auto copied = [&](int plane) { return one_colour && (plane == 1 || plane == 2); };

    // Progress in proportion to each plane's work.
    double total = 0.0;
    for (int p = 0; p < channels_; ++p)
      if (!copied(p)) total += solver->cost(role_of(p));
    double done = 0.0;
    for (int p = 0; p < channels_; ++p) {
      if (copied(p)) {
        copy_result(0, p);
        continue;
      }
      const double cost = solver->cost(role_of(p));
      report(done / total);
      PlaneIO io;
      const bool mixed = opponent && p < 3;
      io.fill = mixed ? opponent_rows(p) : source_rows(p);
      io.drain = mixed ? staged_rows(staged.get() + static_cast<std::size_t>(p) * cells_)
                       : write_rows(p, false);
      if (weighed) light_data_weights(px_, p, weights.get());
      double start = done;
      if (framed) {
        extract(p, channel.get());
        if (!compose_frame(channel.get(), rows_, cols_, plan_.taps, plan_.frame.interior,
                           composed.get(), transform_.pool(), plan_.frame.edges))
          return false;
        start += 0.5 * cost;
        report(start / total);
        io.fill = plane_rows(composed.get());
      }
      const double span = done + cost - start;
      if (!solver->solve(io, role_of(p), [&](double f) { report((start + f * span) / total); }))
        return false;
      done += cost;
      report(done / total);
    }
    if (opponent) write_colours(staged.get());
    if (hsv)
      repair_brightness_hsv(source_hsv.get(), restored_hsv.get(), repaired_hsv.get());
    else if (settings_.repair_brightness)
      repair_brightness();
    return true;
  }

  bool blur() {
    const int rows = geometry_.rows, cols = geometry_.cols;
    Spectrum H(spectrum_cells(rows, cols));
    if (!H) return false;
    transform_taps(transform_, plan_.taps, [&](int c0, int w, fftw_complex *S) {
      for_spectrum_columns(
          rows, cols, c0, w,
          [&](std::size_t k, std::size_t c, int, int) {
            H[k][0] = S[c][0];
            H[k][1] = S[c][1];
          },
          H.get());
    });
    for (int ch = 0; ch < channels_; ++ch) {
      const auto drain = write_rows(ch, plan_.exact_halves);
      const double divisor = static_cast<double>(plane_cells(rows, cols));
      transform_.filter(
          source_rows(ch),
          [&](int c0, int w, fftw_complex *Y) {
            for_spectrum_columns(
                rows, cols, c0, w,
                [&](std::size_t k, std::size_t c, int, int) { multiply_in_place(&Y[c], &H[k]); },
                H.get());
          },
          [&](int r0, int n, double *plane_rows) { drain(r0, n, plane_rows, divisor); });
    }
    return true;
  }

 private:
  std::size_t plane_cols() const { return static_cast<std::size_t>(geometry_.cols); }

  // Rows of the transformed plane from a plane of the region whose pixel p
  // (row-major) is sample(p): the region's own rows, or their mirror images
  // beyond its edges.
  template <typename Sample>
  void fill_rows(const Sample &sample, int r0, int n, double *rows) const {
    const auto width = static_cast<std::size_t>(cols_);
    if (!geometry_.extended()) {
      const std::size_t first = static_cast<std::size_t>(r0) * width;
      const std::size_t count = static_cast<std::size_t>(n) * width;
      for (std::size_t k = 0; k < count; ++k) rows[k] = sample(first + k);
      return;
    }
    // A plane row: its region rows (one, or two fading into each other),
    // each extended along the row the same way.
    const auto extended_row = [&](int region_row, double weight, double *out, bool add) {
      const std::size_t first = static_cast<std::size_t>(region_row) * width;
      for (std::size_t c = 0; c < plane_cols(); ++c) {
        const AxisSource &col = geometry_.col_of[c];
        double v = sample(first + static_cast<std::size_t>(col.a));
        if (col.alpha != 0.0)
          v += col.alpha * (sample(first + static_cast<std::size_t>(col.b)) - v);
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
  std::function<void(int, int, double *)> source_rows(int ch) const {
    return [this, ch](int r0, int n, double *rows) {
      with_stride(channels_, [&](auto stride) {
        const T *first = src_ + ch;
        fill_rows([&](std::size_t p) { return static_cast<double>(first[p * stride]); }, r0, n,
                  rows);
      });
    };
  }

  // Rows of a plane of samples the size of the region.
  std::function<void(int, int, double *)> plane_rows(const T *plane) const {
    return [this, plane](int r0, int n, double *rows) {
      fill_rows([&](std::size_t p) { return static_cast<double>(plane[p]); }, r0, n, rows);
    };
  }

  // Rows of the region's brightness (plane 0) or one of its two colour
  // differences, from its first three channels.
  std::function<void(int, int, double *)> opponent_rows(int plane) const {
    return [this, plane](int r0, int n, double *rows) {
      const double *m = kOpponent[plane];
      const auto step = static_cast<std::size_t>(channels_);
      fill_rows(
          [&](std::size_t p) {
            const T *px = src_ + p * step;
            return m[0] * static_cast<double>(px[0]) + m[1] * static_cast<double>(px[1]) +
                   m[2] * static_cast<double>(px[2]);
          },
          r0, n, rows);
    };
  }

  // Keeps the region's part of transformed rows in a float plane of the
  // region.
  std::function<void(int, int, double *, double)> staged_rows(float *plane) const {
    return [this, plane](int r0, int n, double *rows, double divisor) {
      for (int r = 0; r < n; ++r) {
        const int region_row = r0 + r - geometry_.top;
        if (region_row < 0 || region_row >= rows_) continue;
        const double *from = rows + static_cast<std::size_t>(r) * plane_cols() + geometry_.left;
        float *to = plane + static_cast<std::size_t>(region_row) * cols_;
        for (int c = 0; c < cols_; ++c) to[c] = static_cast<float>(from[c] / divisor);
      }
    };
  }

  // The three staged planes back to the destination's colour channels.
  void write_colours(const float *staged) {
    const std::size_t tasks = (static_cast<std::size_t>(rows_) + kRowsPerTask - 1) / kRowsPerTask;
    const auto width = static_cast<std::size_t>(cols_);
    Buffer<double> scratch(static_cast<std::size_t>(transform_.pool().size()) * width);
    if (!scratch) return;
    transform_.pool().run(tasks, [&](std::size_t task, int thread) {
      double *row = scratch.get() + static_cast<std::size_t>(thread) * width;
      const std::size_t last = std::min(static_cast<std::size_t>(rows_), (task + 1) * kRowsPerTask);
      with_stride(channels_, [&](auto stride) {
        for (std::size_t i = task * kRowsPerTask; i < last; ++i)
          for (int ch = 0; ch < 3; ++ch) {
            for (std::size_t j = 0; j < width; ++j) {
              const std::size_t p = i * width + j;
              row[j] = kOpponent[0][ch] * staged[p] + kOpponent[1][ch] * staged[cells_ + p] +
                       kOpponent[2][ch] * staged[2 * cells_ + p];
            }
            Samples<T>::finish(row, width, 1.0, dst_ + i * width * stride + ch, stride);
          }
      });
    });
  }

  // Writes the region's part of transformed rows into channel `ch` of the
  // destination.
  std::function<void(int, int, double *, double)> write_rows(int ch, bool exact_halves) const {
    return [this, ch, exact_halves](int r0, int n, double *rows, double divisor) {
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

  // Whether the source's first three channels are the same everywhere.
  bool same_colours() const {
    bool same = true;
    with_stride(channels_, [&](auto stride) {
      for (std::size_t k = 0; k < cells_ && same; ++k) {
        const T *px = src_ + k * stride;
        same = px[0] == px[1] && px[1] == px[2];
      }
    });
    return same;
  }

  // Channel `from` of the destination copied into its channel `to`.
  void copy_result(int from, int to) {
    with_stride(channels_, [&](auto stride) {
      for (std::size_t k = 0; k < cells_; ++k) dst_[k * stride + to] = dst_[k * stride + from];
    });
  }

  // Channel `ch` of the source as a plane.
  void extract(int ch, T *plane) {
    const std::size_t tasks = (static_cast<std::size_t>(rows_) + kRowsPerTask - 1) / kRowsPerTask;
    transform_.pool().run(tasks, [&](std::size_t task, int /*thread*/) {
      const std::size_t first = task * kRowsPerTask * cols_;
      const std::size_t end = std::min(cells_, first + kRowsPerTask * cols_);
      with_stride(channels_, [&](auto stride) {
        for (std::size_t k = first; k < end; ++k) plane[k] = src_[k * stride + ch];
      });
    });
  }

  // Maps the result's value range onto the source's: through the HSV
  // bytes for byte RGB, directly for grey and floats.
  void repair_brightness_hsv(Byte *source_hsv, Byte *restored_hsv, Byte *repaired) {
    rgb_to_hsv(reinterpret_cast<const Byte *>(src_), source_hsv, cols_, rows_, channels_);
    rgb_to_hsv(reinterpret_cast<const Byte *>(dst_), restored_hsv, cols_, rows_, channels_);
    HSV_Restoration_V(restored_hsv, source_hsv, &repaired, cols_, rows_, channels_);
    hsv_to_rgb(repaired, reinterpret_cast<Byte *>(dst_), cols_, rows_, channels_);
  }
  void repair_brightness();

  const PixelRegion &px_;
  const T *src_;
  T *dst_;
  int rows_;
  int cols_;
  int channels_;
  std::size_t cells_;
  const MotionPlan &plan_;
  const Geometry &geometry_;
  const RepairSettings &settings_;
  RegionTransform transform_;
};

template <>
void Region<Byte>::repair_brightness() {
  repair_grey_range(src_, dst_, cells_, channels_);
}

template <>
void Region<float>::repair_brightness() {
  repair_value_range(src_, dst_, cells_, channels_, channels_ >= 3 ? 3 : 1);
}

enum class Work { repair, blur };

template <typename T>
bool run(const PixelRegion &px, const MotionPlan &plan, const RepairSettings &settings, Work work,
         int threads, const ProgressFn &progress) {
  WorkerPool pool(engine_threads(threads));
  Region<T> region(px, plan, settings, pool);
  if (!region.ok()) return false;
  return work == Work::blur ? region.blur() : region.repair(progress);
}

// What every region operation shares: the pass-through, the refusals and
// the copy a refused region leaves.
JobResult over_region(const PixelRegion &px, const MotionPlan &plan, const RepairSettings &settings,
                      Work work, int threads, const ProgressFn &progress) {
  std::size_t bytes = 0;
  const bool sized = region_bytes(px, &bytes);
  const auto pass_through = [&](Outcome outcome, Refusal refusal) {
    if (bytes > 0 && px.dst != px.src) std::memcpy(px.dst, px.src, bytes);
    return JobResult{outcome, refusal, 0.0};
  };
  if (!sized) return {Outcome::refused, Refusal::no_memory, 0.0};
  if (px.channels < 1 || px.channels > 4 || px.format == SampleFormat::u16)
    return pass_through(Outcome::refused, Refusal::bad_pixels);
  if (px.rows < 2 || px.cols < 2) return pass_through(Outcome::unchanged, Refusal::none);
  if (plan.refusal != Refusal::none) return pass_through(Outcome::refused, plan.refusal);
  // The source and destination are the caller's, and already had.
  const double needed = region_working_bytes(plan, px.channels, px.format, settings);
  if (!memory_allows(needed)) {
    JobResult refused = pass_through(Outcome::refused, Refusal::no_memory);
    refused.needed_bytes = needed + 2.0 * static_cast<double>(bytes);
    return refused;
  }
  bool done = false;
  try {
    done = px.format == SampleFormat::u8 ? run<Byte>(px, plan, settings, work, threads, progress)
                                         : run<float>(px, plan, settings, work, threads, progress);
  } catch (const std::exception &) {
    done = false;
  }
  if (done) return {Outcome::repaired, Refusal::none, 0.0};
  return pass_through(Outcome::refused, Refusal::no_memory);
}

}  // namespace

double region_working_bytes(const MotionPlan &plan, int channels, SampleFormat format,
                            const RepairSettings &settings) {
  const Geometry &g = plan.geometry;
  const double cells = static_cast<double>(g.region_rows) * g.region_cols;
  const double sample = static_cast<double>(sample_size(format));
  double bytes = static_cast<double>(spectrum_cells(g.rows, g.cols)) * sizeof(fftw_complex);
  const SolverKind kind = solver_for(settings, g);
  bytes += solver_bytes(kind, g);
  if (kind == SolverKind::sparse && channels >= 3) bytes += 3 * cells * sizeof(float);  // colours
  if (light_weighed(settings, g)) bytes += cells * sizeof(float);  // the data's weights
  if (plan.frame.framed) bytes += 2 * cells * sample;  // the channel and its composed plane
  if (settings.repair_brightness && format == SampleFormat::u8 && channels >= 3)
    bytes += 3 * cells * channels;  // HSV copies
  return bytes;
}

JobResult repair_region(const PixelRegion &region, const RepairSettings &settings, int threads,
                        const ProgressFn &progress) {
  const MotionPlan plan = plan_motion(settings.motion, region.rows, region.cols, settings.solver);
  return over_region(region, plan, settings, Work::repair, threads, progress);
}

JobResult repair_window(const PixelRegion &window, const WindowPlacement &placement,
                        int region_rows, int region_cols, const RepairSettings &settings,
                        int threads) {
  if (placement.top == 0 && placement.left == 0 && window.rows == region_rows &&
      window.cols == region_cols)
    return repair_region(window, settings, threads, {});
  const MotionPlan plan =
      plan_window(settings.motion, region_rows, region_cols,
                  {placement.top, placement.left, window.rows, window.cols}, settings.solver);
  return over_region(window, plan, settings, Work::repair, threads, {});
}

JobResult blur_region(const PixelRegion &region, const RepairSettings &settings, int threads) {
  const MotionPlan plan = plan_motion(settings.motion, region.rows, region.cols);
  return over_region(region, plan, settings, Work::blur, threads, {});
}

}  // namespace ostrivo
