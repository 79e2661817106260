// Times the sparse solver against the Wiener solver on the same RGB photo
// and the same curved 51-pixel kernel, through the repair job, at 1 and 12
// megapixels (best of N, both in the same run, so that both see the same
// machine); measures the sparse solver's peak working memory in a fresh
// process; and times the live preview of a 400 x 400 view of a 12-megapixel
// photo with that kernel.
//
//   ostrivo_solver_bench [--repeat N] [--sizes 1,12] [--threads N]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "ostrivo/repair.h"

using namespace ostrivo;
using namespace ostrivo::bench;

namespace {

const Size kSizes[] = {{"1 MP", 864, 1152}, {"12 MP", 3000, 4000}};

// The goals.
constexpr double kRatioGoal = 30.0;        // sparse against Wiener at 12 MP
constexpr double kOneMegapixelGoal = 2.0;  // seconds
constexpr double kMemoryGoal = 96.0;       // working bytes a pixel
constexpr double kPreviewGoalMs = 300.0;

// A hook of camera shake 51 pixels across: a quarter turn that runs on
// into a straight stretch, drawn with a slowing speed (brighter where it
// lingers), supersampled.
SampledKernel curved_kernel() {
  constexpr int kSize = 51;
  SampledKernel k{kSize, kSize, std::vector<double>(kSize * kSize, 0.0)};
  constexpr int kSteps = 4000;
  for (int s = 0; s < kSteps; ++s) {
    const double t = (s + 0.5) / kSteps;
    double x, y;
    if (t < 0.5) {
      const double a = 3.14159265358979 * t;  // a quarter circle of radius 20
      x = 5 + 20 * std::cos(a) - 20;
      y = -20 + 20 * std::sin(a);
    } else {
      x = 5 - 20 + (t - 0.5) * 2 * 25;
      y = 0 + (t - 0.5) * 2 * 20;
    }
    const int c = static_cast<int>(std::lround(x)) + kSize / 2;
    const int r = static_cast<int>(std::lround(y)) + kSize / 2;
    if (r >= 0 && r < kSize && c >= 0 && c < kSize)
      k.weights[static_cast<std::size_t>(r * kSize + c)] += 1.0 + t;
  }
  return k;
}

RepairSettings settings_for(SolverKind solver) {
  RepairSettings s;
  s.motion = curved_kernel();
  s.solver = solver;
  s.k = 0.01;
  s.noise = 2.55;  // as measured on a photo with 1 % noise
  return s;
}

double time_repair(const Size &s, SolverKind solver, const std::vector<unsigned char> &src) {
  std::vector<unsigned char> dst(src.size());
  const auto start = std::chrono::steady_clock::now();
  if (repair_area({s.rows, s.cols, 3, SampleFormat::u8, src.data(), dst.data()},
                  settings_for(solver))
          .outcome != Outcome::repaired) {
    std::fprintf(stderr, "refused\n");
    std::exit(1);
  }
  return seconds_since(start);
}

// One sparse repair in this fresh process; prints the bytes per pixel it
// added to the resident high-water mark beyond the photo and its result.
int measure_peak(int rows, int cols) {
  const auto src = photo_like(rows, cols);
  std::vector<unsigned char> dst(src.size(), 1);
  const long before = peak_resident_kib();
  if (repair_area({rows, cols, 3, SampleFormat::u8, src.data(), dst.data()},
                  settings_for(SolverKind::sparse))
          .outcome != Outcome::repaired)
    return 1;
  const long peak = peak_resident_kib();
  std::printf("%.1f\n", static_cast<double>(peak - before) * 1024.0 / (double(rows) * cols));
  return 0;
}

double peak_memory(const char *self, const Size &s) {
  return number_from(std::string(self) + " --peak " + std::to_string(s.rows) + " " +
                     std::to_string(s.cols));
}

}  // namespace

int main(int argc, char **argv) {
  int repeat = 3;
  std::string sizes = "1,12";
  if (argc == 4 && std::strcmp(argv[1], "--peak") == 0)
    return measure_peak(std::atoi(argv[2]), std::atoi(argv[3]));
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--sizes") == 0 && i + 1 < argc) {
      sizes = argv[++i];
    } else if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
      setenv("OSTRIVO_THREADS", argv[++i], 1);  // the default of every call
    } else {
      std::fprintf(stderr, "usage: %s [--repeat N] [--sizes 1,12] [--threads N]\n", argv[0]);
      return 2;
    }
  }
  char self[4096] = {0};
  if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) std::strcpy(self, argv[0]);

  std::printf("RGB, a curved kernel 51 px across, noise 2.55; best of %d\n", repeat);
  std::printf("%-6s %9s %9s %8s %10s\n", "photo", "Wiener s", "sparse s", "ratio", "work B/px");
  for (const Size &s : kSizes) {
    const std::string tag = std::string(s.name).substr(0, std::string(s.name).find(' '));
    if (("," + sizes + ",").find("," + tag + ",") == std::string::npos) continue;
    const auto src = photo_like(s.rows, s.cols);
    double wiener = 1e300, sparse = 1e300;
    for (int r = 0; r < repeat; ++r) {
      wiener = std::min(wiener, time_repair(s, SolverKind::wiener, src));
      sparse = std::min(sparse, time_repair(s, SolverKind::sparse, src));
    }
    const double working = peak_memory(self, s);
    const bool big = s.rows * s.cols >= 10'000'000;
    const bool met = (big ? sparse / wiener <= kRatioGoal : sparse < kOneMegapixelGoal) &&
                     working <= kMemoryGoal;
    std::printf("%-6s %9.3f %9.3f %7.1fx %10.1f  goal %s, at most %.0f B/px  %s\n", s.name, wiener,
                sparse, sparse / wiener, working, big ? "at most 30x" : "under 2 s", kMemoryGoal,
                met ? "met" : "MISSED");
    std::fflush(stdout);
  }

  // The live preview: a 400 x 400 view in the middle of a 12-megapixel
  // photo, repaired with its margin as a window of the whole.
  const Size big = kSizes[1];
  const RepairSettings settings = settings_for(SolverKind::sparse);
  const PreviewPlan plan =
      plan_preview(settings, {0, 0, big.cols, big.rows}, {1800, 1300, 400, 400});
  const auto window = photo_like(plan.context.height, plan.context.width);
  std::vector<unsigned char> out(window.size());
  double best = 1e300;
  for (int r = 0; r < 3 * repeat; ++r) {
    const auto start = std::chrono::steady_clock::now();
    repair_preview(
        {plan.context.height, plan.context.width, 3, SampleFormat::u8, window.data(), out.data()},
        plan, settings);
    best = std::min(best, seconds_since(start));
  }
  std::printf("preview: 400x400 view, %dx%d with its margin: %.0f ms (goal under %.0f ms)  %s\n",
              plan.context.width, plan.context.height, best * 1e3, kPreviewGoalMs,
              best * 1e3 < kPreviewGoalMs ? "met" : "MISSED");
  return 0;
}
