// The repair job (ostrivo/repair.h): what the front ends share.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "colour/light.h"
#include "engine/motion_builder.h"
#include "engine/planes.h"
#include "engine/region.h"
#include "engine/resources.h"
#include "ostrivo/repair.h"

namespace ostrivo {

namespace {

// The format the engine's regions take for a host's format: 16-bit words
// become floats 0..1.
SampleFormat engine_format(SampleFormat format) {
  return format == SampleFormat::u16 ? SampleFormat::f32 : format;
}

std::size_t samples_of(int rows, int cols, int channels) {
  return plane_cells(rows, cols) * static_cast<std::size_t>(std::max(channels, 0));
}

// The settings a staged repair takes: in linear light the noise is the
// encoded samples' (the light's is uneven, and the solver weighs it a pixel
// from it), measured on the host's area when not given.
RepairSettings staged_settings(const RepairSettings &settings, const PixelRegion &area) {
  RepairSettings staged = settings;
  if (staged.linear_light && staged.noise < 0.0) staged.noise = measure_noise(area);
  return staged;
}

// The part of a host's area the engine works on, in the engine's format:
// the host's own buffers when they are that already, else packed copies
// (the part of a trimmed area, or 16-bit samples as floats).
class Staging {
 public:
  // `linear`: the copies hold linear light (colour/light.h), as floats.
  Staging(const PixelRegion &area, int rows, int cols, bool linear = false)
      : area_(area),
        rows_(rows),
        cols_(cols),
        linear_(linear),
        format_(linear ? SampleFormat::f32 : engine_format(area.format)) {}

  bool direct() const {
    return !linear_ && area_.format == format_ && rows_ == area_.rows && cols_ == area_.cols;
  }

  // The format of the part the engine takes.
  SampleFormat format() const { return format_; }

  // Bytes of the copies this staging makes.
  double copy_bytes() const {
    if (direct()) return 0.0;
    return 2.0 * static_cast<double>(samples_of(rows_, cols_, area_.channels)) *
           static_cast<double>(sample_size(format_));
  }

  // The part as the engine takes it; false when its copies cannot be had.
  bool take(PixelRegion *part) {
    *part = {rows_, cols_, area_.channels, format_, area_.src, area_.dst};
    if (direct()) return true;
    const std::size_t bytes = samples_of(rows_, cols_, area_.channels) * sample_size(format_);
    in_ = std::make_unique<Buffer<unsigned char>>(bytes);
    out_ = std::make_unique<Buffer<unsigned char>>(bytes);
    if (!*in_ || !*out_) return false;
    part->src = in_->get();
    part->dst = out_->get();
    copy_rows(area_.src, in_->get(), true);
    return true;
  }

  // Writes the engine's result back into the host's destination.
  void give_back() {
    if (!direct()) copy_rows(out_->get(), area_.dst, false);
  }

 private:
  // Rows of the part between the host's layout and the packed engine copy.
  void copy_rows(const void *from, void *to, bool inward) {
    const std::size_t part_row = static_cast<std::size_t>(cols_) * area_.channels;
    const std::size_t area_row = static_cast<std::size_t>(area_.cols) * area_.channels;
    const std::size_t host_size = sample_size(area_.format);
    for (int r = 0; r < rows_; ++r) {
      const std::size_t host = static_cast<std::size_t>(r) * area_row;
      const std::size_t engine = static_cast<std::size_t>(r) * part_row;
      if (linear_) {  // the host's samples decoded into the floats, or encoded back
        const std::size_t at = host * host_size;
        if (inward)
          decode_light({1, cols_, area_.channels, area_.format,
                        static_cast<const unsigned char *>(from) + at, nullptr},
                       static_cast<float *>(to) + engine);
        else
          encode_light(static_cast<const float *>(from) + engine,
                       {1, cols_, area_.channels, area_.format, nullptr,
                        static_cast<unsigned char *>(to) + at});
        continue;
      }
      if (area_.format == SampleFormat::u16) {
        if (inward) {
          const auto *w = static_cast<const std::uint16_t *>(from) + host;
          float *f = static_cast<float *>(to) + engine;
          for (std::size_t s = 0; s < part_row; ++s) f[s] = static_cast<float>(w[s] / 65535.0);
        } else {
          const float *f = static_cast<const float *>(from) + engine;
          auto *w = static_cast<std::uint16_t *>(to) + host;
          for (std::size_t s = 0; s < part_row; ++s)
            w[s] = static_cast<std::uint16_t>(std::lround(f[s] * 65535.0));
        }
        continue;
      }
      const std::size_t size = sample_size(format_);
      const auto *a = static_cast<const unsigned char *>(from) + (inward ? host : engine) * size;
      auto *b = static_cast<unsigned char *>(to) + (inward ? engine : host) * size;
      std::memcpy(b, a, part_row * size);
    }
  }

  const PixelRegion &area_;
  int rows_, cols_;
  bool linear_;
  SampleFormat format_;
  std::unique_ptr<Buffer<unsigned char>> in_, out_;
};

// Copies what the part leaves of the area (the column and the row a trim
// left out) from the source to the destination.
void keep_the_rest(const PixelRegion &area, int rows, int cols) {
  const std::size_t size = sample_size(area.format);
  const std::size_t row = static_cast<std::size_t>(area.cols) * area.channels * size;
  const std::size_t kept = static_cast<std::size_t>(cols) * area.channels * size;
  const auto *src = static_cast<const unsigned char *>(area.src);
  auto *dst = static_cast<unsigned char *>(area.dst);
  for (int r = 0; r < area.rows; ++r) {
    const std::size_t from = r < rows ? kept : 0;
    std::memcpy(dst + r * row + from, src + r * row + from, row - from);
  }
}

void copy_area(const PixelRegion &area) {
  const std::size_t bytes =
      samples_of(area.rows, area.cols, area.channels) * sample_size(area.format);
  if (bytes > 0 && area.src != area.dst) std::memcpy(area.dst, area.src, bytes);
}

enum class Work { repair, blur };

// Whether the motion moves nothing: a repair then leaves the photo as it is
// (a solver with a prior would still smooth it, and the Wiener filter take
// K's toll on its contrast).
bool is_still(const RepairSettings &settings, int rows, int cols) {
  const MotionPlan plan = plan_motion(settings.motion, rows, cols);
  return plan.refusal == Refusal::none && plan.taps.size() == 1 && plan.taps[0].row == 0 &&
         plan.taps[0].col == 0;
}

JobResult run_job(const PixelRegion &area, const RepairSettings &settings,
                  const RepairOptions &options, Work work) {
  const auto report = [&](double fraction) {
    if (options.progress) options.progress(fraction);
  };
  if (area.channels < 1 || area.channels > 4) {
    copy_area(area);
    return {Outcome::refused, Refusal::bad_pixels, 0.0};
  }
  const AreaPart part = repaired_part(settings, area.rows, area.cols);
  JobResult checked = check_memory(settings, area.rows, area.cols, area.channels, area.format, 0);
  if (checked.refusal != Refusal::none) {
    copy_area(area);
    return checked;
  }
  report(0.0);
  const bool still = work == Work::repair && is_still(settings, part.rows, part.cols);
  if (part.rows < 2 || part.cols < 2 || still) {  // nothing to restore
    copy_area(area);
    report(1.0);
    return {Outcome::unchanged, Refusal::none, 0.0};
  }
  JobResult result;
  try {
    Staging staging(area, part.rows, part.cols, settings.linear_light);
    PixelRegion engine_part;
    if (!staging.take(&engine_part)) {
      copy_area(area);
      return {Outcome::refused, Refusal::no_memory, staging.copy_bytes()};
    }
    result = work == Work::blur ? blur_region(engine_part, settings, options.threads)
                                : repair_region(engine_part, staged_settings(settings, area),
                                                options.threads, options.progress);
    staging.give_back();
  } catch (const std::exception &) {
    copy_area(area);
    return {Outcome::refused, Refusal::no_memory, 0.0};
  }
  if (result.outcome == Outcome::refused) {
    copy_area(area);
    return result;
  }
  keep_the_rest(area, part.rows, part.cols);
  report(1.0);
  return result;
}

}  // namespace

std::string refusal_message(Refusal refusal) {
  switch (refusal) {
    case Refusal::none:
      return "";
    case Refusal::no_memory:
      return "the area to repair is too large for this machine's memory";
    case Refusal::bad_pixels:
      return "only grey and RGB pixels, with or without alpha, can be repaired";
    case Refusal::no_pixels:
      return "a layer group has no pixels of its own to repair: select a layer in it";
    case Refusal::empty_kernel:
      return "the kernel has no positive weight (an all-black image)";
    case Refusal::kernel_too_large:
      return "the kernel is larger than " + std::to_string(kMaxKernelSize) + " x " +
             std::to_string(kMaxKernelSize) + " pixels";
    case Refusal::kernel_too_large_for_area:
      return "the kernel is larger than half the area to repair";
  }
  return "cannot be repaired";
}

std::string refusal_message(const JobResult &result, int rows, int cols) {
  std::string message = refusal_message(result.refusal);
  if (result.refusal == Refusal::no_memory && result.needed_bytes > 0.0)
    message += " (" + std::to_string(cols) + " x " + std::to_string(rows) + " pixels would need " +
               std::to_string(std::lround(result.needed_bytes / 1e6)) + " MB)";
  return message;
}

AreaPart repaired_part(const RepairSettings &settings, int rows, int cols) {
  const MotionPlan plan = plan_motion(settings.motion, std::max(rows, 0), std::max(cols, 0));
  return {plan.part_rows, plan.part_cols};
}

JobResult check_memory(const RepairSettings &settings, int rows, int cols, int channels,
                       SampleFormat format, double host_bytes) {
  const AreaPart part = repaired_part(settings, rows, cols);
  const MotionPlan plan = plan_motion(settings.motion, part.rows, part.cols, settings.solver);
  if (plan.refusal != Refusal::none) return {Outcome::refused, plan.refusal, 0.0};
  double needed = host_bytes;
  if (part.rows >= 2 && part.cols >= 2) {
    const PixelRegion area{rows, cols, channels, format, nullptr, nullptr};
    const Staging staging(area, part.rows, part.cols, settings.linear_light);
    needed += staging.copy_bytes();
    needed += region_working_bytes(plan, channels, staging.format(), settings);
  }
  if (memory_allows(needed)) return {Outcome::repaired, Refusal::none, needed};
  return {Outcome::refused, Refusal::no_memory, needed};
}

JobResult repair_area(const PixelRegion &area, const RepairSettings &settings,
                      const RepairOptions &options) {
  return run_job(area, settings, options, Work::repair);
}

JobResult blur_area(const PixelRegion &area, const RepairSettings &settings,
                    const RepairOptions &options) {
  return run_job(area, settings, options, Work::blur);
}

Rect intersection(const Rect &a, const Rect &b) {
  const int x = std::max(a.x, b.x), y = std::max(a.y, b.y);
  return {x, y, std::min(a.x + a.width, b.x + b.width) - x,
          std::min(a.y + a.height, b.y + b.height) - y};
}

PreviewPlan plan_preview(const RepairSettings &settings, const Rect &area, const Rect &view) {
  PreviewPlan plan;
  const AreaPart part = repaired_part(settings, area.height, area.width);
  plan.region = {area.x, area.y, part.cols, part.rows};
  plan.shown = intersection(view, plan.region);
  if (plan.shown.empty()) return plan;
  const int margin = plan_motion(settings.motion, part.rows, part.cols).preview_margin;
  const Rect &s = plan.shown;
  plan.context = intersection(
      {s.x - margin, s.y - margin, s.width + 2 * margin, s.height + 2 * margin}, plan.region);
  return plan;
}

JobResult repair_preview(const PixelRegion &context, const PreviewPlan &plan,
                         const RepairSettings &settings, const RepairOptions &options) {
  if (context.channels < 1 || context.channels > 4) {
    copy_area(context);
    return {Outcome::refused, Refusal::bad_pixels, 0.0};
  }
  if (is_still(settings, plan.region.height, plan.region.width)) {
    copy_area(context);
    return {Outcome::unchanged, Refusal::none, 0.0};
  }
  try {
    Staging staging(context, context.rows, context.cols, settings.linear_light);
    PixelRegion window;
    if (!staging.take(&window)) {
      copy_area(context);
      return {Outcome::refused, Refusal::no_memory, staging.copy_bytes()};
    }
    const WindowPlacement at{plan.context.y - plan.region.y, plan.context.x - plan.region.x,
                             context.rows, context.cols};
    const JobResult result = repair_window(window, at, plan.region.height, plan.region.width,
                                           staged_settings(settings, context), options.threads);
    staging.give_back();
    return result;
  } catch (const std::exception &) {
    copy_area(context);
    return {Outcome::refused, Refusal::no_memory, 0.0};
  }
}

}  // namespace ostrivo
