// Times imageRestoration on RGB regions of 1, 4 and 12 megapixels, on the
// direct path (no frame) and the frame path (the default 1 % frame), and
// the smooth model beside the classic one,
// against the floor of the direct path: FFTW's bare single-thread 2-D
// transforms it cannot avoid on the same size (the point-spread plane's
// forward transform, then a forward and an inverse per channel), planned
// with FFTW_ESTIMATE. Pipeline and floor are timed alternately in the same
// run, best of N, so that both see the same machine. Also times a
// preview-sized 400 x 400 region, and measures the peak working memory of
// one call in a fresh process per region.
//
//   ostrivo_bench [--repeat N] [--sizes 1,4,12] [--threads N]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "engine/planes.h"
#include "engine/threads.h"
#include "gimp2.h"
#include "ostrivo/repair.h"

using namespace ostrivo;
using namespace ostrivo::bench;

namespace {

const Size kSizes[] = {{"1 MP", 864, 1152}, {"4 MP", 1728, 2304}, {"12 MP", 3000, 4000}};
const Size kPreview = {"400x400", 400, 400};

// The goals: the pipeline against its single-thread floor, by size.
double goal_ratio(const Size &s) { return s.rows * s.cols >= 10'000'000 ? 0.75 : 1.0; }
constexpr double kPreviewGoalMs = 15.0;
constexpr double kMemoryGoal = 40.0;  // working bytes a pixel
constexpr double kSmoothGoal = 1.3;   // the smooth model against the classic one

void use_settings(bool framed) {
  bvals = kDefaultBlurVals;
  bvals.length = 10;
  bvals.direction = 30;
  bvals.frame_width = framed ? 1.0 : 0.0;
  bvals.preview = 1;  // no progress reporting
}

double time_pipeline(const Size &s, bool framed, const std::vector<unsigned char> &src) {
  use_settings(framed);
  std::vector<guchar> dst(src.size());
  guchar *d = dst.data();
  const auto start = std::chrono::steady_clock::now();
  if (!imageRestoration(src.data(), &d, s.rows, s.cols, 3)) {
    std::fprintf(stderr, "region refused\n");
    std::exit(1);
  }
  return seconds_since(start);
}

// The smooth model on the same region and motion (its mirrored extension
// instead of the frame).
double time_smooth(const Size &s, const std::vector<unsigned char> &src) {
  RepairSettings settings;
  settings.motion = SmoothLine{10, 30};
  std::vector<guchar> dst(src.size());
  const auto start = std::chrono::steady_clock::now();
  if (repair_area({s.rows, s.cols, 3, SampleFormat::u8, src.data(), dst.data()}, settings)
          .outcome != Outcome::repaired) {
    std::fprintf(stderr, "region refused\n");
    std::exit(1);
  }
  return seconds_since(start);
}

// The floor: the degradation plane's forward transform, then per channel a
// forward and an inverse, each a single-thread 2-D plan.
double time_floor(const Size &s) {
  const std::size_t cells = plane_cells(s.rows, s.cols);
  Plane in(cells), out(cells);
  Spectrum spectrum(spectrum_cells(s.rows, s.cols));
  for (std::size_t k = 0; k < cells; ++k) in[k] = static_cast<double>(k % 255);
  std::memset(out.get(), 0, cells * sizeof(double));
  std::memset(spectrum.get(), 0, spectrum_cells(s.rows, s.cols) * sizeof(fftw_complex));
  const auto start = std::chrono::steady_clock::now();
  {
    Plan f = forward_plan(s.rows, s.cols, in.get(), spectrum.get());
    fftw_execute(f.get());
  }
  for (int channel = 0; channel < 3; ++channel) {
    Plan f = forward_plan(s.rows, s.cols, in.get(), spectrum.get());
    fftw_execute(f.get());
    Plan b = inverse_plan(s.rows, s.cols, spectrum.get(), out.get());
    fftw_execute(b.get());
  }
  return seconds_since(start);
}

// One call in this fresh process; prints the bytes per pixel it added to
// the resident high-water mark.
int measure_peak(int rows, int cols, bool framed) {
  use_settings(framed);
  const auto src = photo_like(rows, cols);
  std::vector<guchar> dst(src.size(), 0);
  guchar *d = dst.data();
  const long before = peak_resident_kib();
  if (!imageRestoration(src.data(), &d, rows, cols, 3)) return 1;
  const long peak = peak_resident_kib();
  std::printf("%.1f\n", static_cast<double>(peak - before) * 1024.0 /
                            static_cast<double>(plane_cells(rows, cols)));
  return 0;
}

// Runs measure_peak in a new process, so that no memory this process has
// already touched hides the rise.
double peak_memory(const char *self, const Size &s, bool framed) {
  return number_from(std::string(self) + " --peak " + std::to_string(s.rows) + " " +
                     std::to_string(s.cols) + " " + (framed ? "1" : "0"));
}

}  // namespace

int main(int argc, char **argv) {
  int repeat = 5;
  std::string sizes = "1,4,12";
  if (argc == 5 && std::strcmp(argv[1], "--peak") == 0)
    return measure_peak(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]) != 0);
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
      repeat = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--sizes") == 0 && i + 1 < argc) {
      sizes = argv[++i];
    } else if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
      setenv("OSTRIVO_THREADS", argv[++i], 1);  // the default of every call
    } else {
      std::fprintf(stderr, "usage: %s [--repeat N] [--sizes 1,4,12] [--threads N]\n", argv[0]);
      return 2;
    }
  }
  repeat = std::max(repeat, 1);
  char self[4096] = {0};
  if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) std::strcpy(self, argv[0]);

  std::printf(
      "imageRestoration, RGB, length 10, direction 30, frame path 1 %%; %d threads; "
      "best of %d\n",
      engine_threads(0), repeat);
  std::printf(
      "floor: FFTW's single-thread 2-D transforms of the direct path (1 + 2 per "
      "channel)\n");
  std::printf("%-7s %-6s %11s %9s %7s %6s %10s\n", "region", "path", "pipeline s", "floor s",
              "ratio", "goal", "work B/px");
  for (const Size &s : kSizes) {
    const std::string tag = std::string(s.name).substr(0, std::string(s.name).find(' '));
    if (("," + sizes + ",").find("," + tag + ",") == std::string::npos) continue;
    const auto src = photo_like(s.rows, s.cols);
    double best_direct = 1e300, best_frame = 1e300, best_floor = 1e300, best_smooth = 1e300;
    for (int r = 0; r < repeat; ++r) {
      best_floor = std::min(best_floor, time_floor(s));
      best_direct = std::min(best_direct, time_pipeline(s, false, src));
      best_frame = std::min(best_frame, time_pipeline(s, true, src));
      best_smooth = std::min(best_smooth, time_smooth(s, src));
    }
    for (bool framed : {false, true}) {
      const double pipeline = framed ? best_frame : best_direct;
      const double ratio = pipeline / best_floor;
      const double working = peak_memory(self, s, framed);
      std::printf("%-7s %-6s %11.3f %9.3f %6.2fx %5.2fx %10.1f  %s\n", s.name,
                  framed ? "frame" : "direct", pipeline, best_floor, ratio, goal_ratio(s), working,
                  ratio <= goal_ratio(s) && working <= kMemoryGoal ? "met" : "MISSED");
      std::fflush(stdout);
    }
    std::printf("%-7s %-6s %11.3f %9s %6.2fx of the classic frame path (goal at most %.1fx)  %s\n",
                s.name, "smooth", best_smooth, "", best_smooth / best_frame, kSmoothGoal,
                best_smooth <= kSmoothGoal * best_frame ? "met" : "MISSED");
  }

  // A live preview of 400 x 400 pixels in the middle of a 12-megapixel
  // region: the view with its margin, repaired as a window of the region.
  const Size big = kSizes[2];
  for (bool classic : {true, false})
    for (double length : {10.0, 40.0}) {
      RepairSettings settings;
      if (classic)
        settings.motion = ClassicLine{length, 30, 1.0};
      else
        settings.motion = SmoothLine{length, 30};
      const Rect area{0, 0, big.cols, big.rows};
      const PreviewPlan plan =
          plan_preview(settings, area,
                       {(big.cols - kPreview.cols) / 2, (big.rows - kPreview.rows) / 2,
                        kPreview.cols, kPreview.rows});
      const int rows = plan.context.height, cols = plan.context.width;
      const auto window = photo_like(rows, cols);
      std::vector<guchar> out(window.size());
      double best = 1e300;
      for (int r = 0; r < 5 * repeat; ++r) {
        const auto start = std::chrono::steady_clock::now();
        repair_preview({rows, cols, 3, SampleFormat::u8, window.data(), out.data()}, plan,
                       settings);
        best = std::min(best, seconds_since(start));
      }
      std::printf(
          "preview %s %2.0f px: 400x400 view in a 12 MP region, %dx%d with its margin: "
          "%.1f ms (goal well under 100 ms)\n",
          classic ? "classic" : "smooth ", length, cols, rows, best * 1e3);
    }

  const auto preview = photo_like(kPreview.rows, kPreview.cols);
  for (bool framed : {false, true}) {
    double best = 1e300;
    for (int r = 0; r < 5 * repeat; ++r)
      best = std::min(best, time_pipeline(kPreview, framed, preview));
    std::printf("%-7s %-6s %9.1f ms (goal under %.0f ms)  %s\n", kPreview.name,
                framed ? "frame" : "direct", best * 1e3, kPreviewGoalMs,
                best * 1e3 < kPreviewGoalMs ? "met" : "MISSED");
  }
  return 0;
}
