// The repair job: what every front end asks of the engine. A front end
// hands over its host's pixels and settings; the job trims the area as the
// motion asks, checks the memory before any work, repairs (or previews, or
// blurs), keeps what it does not change, and reports progress and refusals
// in one voice.
#ifndef OSTRIVO_REPAIR_H
#define OSTRIVO_REPAIR_H

#include <cstddef>
#include <functional>
#include <string>

#include "ostrivo/settings.h"

namespace ostrivo {

enum class SampleFormat {
  u8,   // bytes 0..255
  u16,  // 16-bit words 0..65535, in the machine's order
  f32,  // floats 0 to 1 (results are clamped into that range)
};

std::size_t sample_size(SampleFormat format);

// A host's pixels: rows x cols pixels of `channels` interleaved samples
// (1 grey, 2 grey and alpha, 3 RGB, 4 RGBA), row-major, packed.
struct PixelRegion {
  int rows = 0;
  int cols = 0;
  int channels = 0;
  SampleFormat format = SampleFormat::u8;
  const void *src = nullptr;  // never written
  void *dst = nullptr;        // same shape; every sample is written
};

struct RepairOptions {
  int threads = 0;  // 0: OSTRIVO_THREADS when set, else every core this process may use
  // Called on the calling thread with the fraction of the work done, from 0
  // to 1 (the last call gives exactly 1); may be empty.
  std::function<void(double fraction)> progress;
};

// The upper bound on threads, whatever is asked for.
inline constexpr int kMaxThreads = 64;

enum class Outcome {
  repaired,   // dst holds the result
  unchanged,  // nothing to do (an area under 2 x 2 pixels): dst holds src
  refused,    // dst holds src; refusal_message() says why
};

enum class Refusal {
  none,
  no_memory,                  // the area is too large for this machine's memory
  bad_pixels,                 // not 1 to 4 channels of a known format
  no_pixels,                  // the host's drawable has no pixels of its own (a layer group)
  empty_kernel,               // a kernel with no positive weight
  kernel_too_large,           // a kernel over kMaxKernelSize in either dimension
  kernel_too_large_for_area,  // a kernel over half the area in either dimension
};

struct JobResult {
  Outcome outcome = Outcome::repaired;
  Refusal refusal = Refusal::none;
  double needed_bytes = 0.0;  // with no_memory: what the work would have needed
};

// What a user reads for a refusal (without a trailing period, so that a
// front end may add its own context).
std::string refusal_message(const JobResult &result, int rows, int cols);
std::string refusal_message(Refusal refusal);

// The part of an area of rows x cols pixels that a repair with these
// settings changes, from the area's top-left corner: the classic model
// trims to even width and height, as the GIMP 2.10 plug-in trims a
// selection, and the column and row left out keep their pixels.
struct AreaPart {
  int rows = 0;
  int cols = 0;
};
AreaPart repaired_part(const RepairSettings &settings, int rows, int cols);

// Whether this process can repair an area of rows x cols pixels of
// `channels` samples in `format` with these settings, while the front end
// itself holds `host_bytes` (its own copies of the pixels): the machine's
// memory and the process's limits are counted. A front end asks before it
// reads the pixels, so that an absurd size is refused before anything is
// allocated. Refusal::none when it can.
JobResult check_memory(const RepairSettings &settings, int rows, int cols, int channels,
                       SampleFormat format, double host_bytes);

// Repairs the area: its repaired part is restored and the rest copied.
// Every channel, alpha included, is restored on its own (or, with the
// sparse solver, colour as brightness and two colour differences); then,
// with repair_brightness, the range of the result's value (the largest
// colour sample of a pixel) is mapped onto the source's.
JobResult repair_area(const PixelRegion &area, const RepairSettings &settings,
                      const RepairOptions &options = {});

// The opposite: blurs the area's part with the settings' motion, to show
// what a motion does or to make test images with a known motion. With the
// classic model each result is the circular convolution with its line,
// rounded exactly (halves down for bytes).
JobResult blur_area(const PixelRegion &area, const RepairSettings &settings,
                    const RepairOptions &options = {});

// The noise of the region's photo, sigma in levels of 255, as the sparse
// solver measures it when the settings do not give it: a front end that
// previews part of an area measures the whole area once and puts it into
// the settings, so that every preview holds what the repair will (with
// RepairSettings::linear_light too: it is the noise of the samples as they
// are encoded).
double measure_noise(const PixelRegion &region);

// --- kernels -----------------------------------------------------------------

// A kernel from an image of it (what a bright point looks like in the
// blurred photo): its luminance, 0.299 R + 0.587 G + 0.114 B, or its grey;
// alpha is left out; samples keep their precision. The centre cell is the
// image's (rows / 2, cols / 2).
SampledKernel kernel_from_image(const PixelRegion &image);

// Whether a kernel can be used at all: Refusal::empty_kernel without a
// positive weight, Refusal::kernel_too_large over kMaxKernelSize. (A repair
// also refuses a kernel over half its area.)
Refusal check_kernel(const SampledKernel &kernel);

// --- previews ----------------------------------------------------------------

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool empty() const { return width <= 0 || height <= 0; }
};

Rect intersection(const Rect &a, const Rect &b);

// A live preview shows part of an area as the repair of the whole area
// will show it there, without repairing the whole: it repairs the part
// that shows with a margin of the repaired region around it (what of it the
// region has), and shows only the part. `area` is the area a repair takes
// (the selection), `view` what the preview shows, both in the host's
// coordinates. The preview's repaired region is the area's repaired part;
// what of the view lies outside it stays as it is.
struct PreviewPlan {
  Rect region;   // the area's repaired part
  Rect shown;    // view and region: where the preview shows repaired pixels
  Rect context;  // the pixels to repair: shown with its margin, within region
};
PreviewPlan plan_preview(const RepairSettings &settings, const Rect &area, const Rect &view);

// Repairs a preview's context (the pixels of plan.context)
// as the whole region's repair would, without progress.
JobResult repair_preview(const PixelRegion &context, const PreviewPlan &plan,
                         const RepairSettings &settings, const RepairOptions &options = {});

}  // namespace ostrivo

#endif
