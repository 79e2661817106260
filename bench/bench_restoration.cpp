// Times imageRestoration on RGB regions of 1, 4 and 12 megapixels, on the
// direct and the frame path, against the bare FFTW transforms that the
// pipeline cannot avoid on the same sizes (1 + 2 per channel direct, 1 + 4
// per channel framed, planned with FFTW_ESTIMATE), and prints the ratio.
// Peak working memory is measured in a new process per region: the rise of
// its resident high-water mark during one call, per pixel.
//
//   ostrivo_bench [--repeat N] [--sizes 1,4,12]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/pipeline.h"
#include "engine/planes.h"
#include "engine/settings.h"

using namespace ostrivo;

namespace {

struct Size {
  const char *name;
  int rows, cols;
};

const Size kSizes[] = {{"1 MP", 864, 1152}, {"4 MP", 1728, 2304}, {"12 MP", 3000, 4000}};

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::vector<guchar> photo_like(int rows, int cols) {
  std::vector<guchar> px(plane_cells(rows, cols) * 3);
  unsigned x = 12345;
  for (std::size_t k = 0; k < px.size(); ++k) {
    x = x * 1103515245u + 12345u;
    px[k] = static_cast<guchar>(((k / 3) % 251) / 2 + ((x >> 16) & 63));
  }
  return px;
}

void use_settings(bool framed) {
  bvals = kDefaultBlurVals;
  bvals.length = 10;
  bvals.direction = 30;
  bvals.frame_width = framed ? 2.0 : 0.0;
  bvals.preview = 1;  // no progress reporting
}

double time_pipeline(const Size &s, bool framed, int repeat) {
  use_settings(framed);
  const auto src = photo_like(s.rows, s.cols);
  std::vector<guchar> dst(src.size());
  guchar *d = dst.data();
  double best = 1e300;
  for (int r = 0; r < repeat; ++r) {
    const auto start = std::chrono::steady_clock::now();
    if (!imageRestoration(src.data(), &d, s.rows, s.cols, 3)) {
      std::fprintf(stderr, "region refused\n");
      std::exit(1);
    }
    best = std::min(best, seconds_since(start));
  }
  return best;
}

// The transforms alone: the degradation plane's forward transform, then per
// channel a forward and an inverse (and on the frame path a second pair).
double time_bare_transforms(const Size &s, bool framed, int repeat) {
  const std::size_t cells = plane_cells(s.rows, s.cols);
  Plane in(cells), out(cells);
  Spectrum spectrum(spectrum_cells(s.rows, s.cols));
  for (std::size_t k = 0; k < cells; ++k) in[k] = static_cast<double>(k % 255);
  std::memset(out.get(), 0, cells * sizeof(double));
  std::memset(spectrum.get(), 0, spectrum_cells(s.rows, s.cols) * sizeof(fftw_complex));
  const int pairs_per_channel = framed ? 2 : 1;
  double best = 1e300;
  for (int r = 0; r < repeat; ++r) {
    const auto start = std::chrono::steady_clock::now();
    {
      Plan f = forward_plan(s.rows, s.cols, in.get(), spectrum.get());
      fftw_execute(f.get());
    }
    for (int t = 0; t < 3 * pairs_per_channel; ++t) {
      Plan f = forward_plan(s.rows, s.cols, in.get(), spectrum.get());
      fftw_execute(f.get());
      Plan b = inverse_plan(s.rows, s.cols, spectrum.get(), out.get());
      fftw_execute(b.get());
    }
    best = std::min(best, seconds_since(start));
  }
  return best;
}

long resident_kib(const char *field) {
  FILE *f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long value = -1;
  const std::size_t n = std::strlen(field);
  while (std::fgets(line, sizeof line, f))
    if (std::strncmp(line, field, n) == 0) value = std::atol(line + n);
  std::fclose(f);
  return value;
}

// One call in this fresh process; prints the bytes per pixel it added to
// the resident high-water mark, without and with the caller's two pixel
// buffers.
int measure_peak(int rows, int cols, bool framed) {
  const long before_buffers = resident_kib("VmHWM:");
  use_settings(framed);
  const auto src = photo_like(rows, cols);
  std::vector<guchar> dst(src.size(), 0);
  guchar *d = dst.data();
  const long before = resident_kib("VmHWM:");
  if (!imageRestoration(src.data(), &d, rows, cols, 3)) return 1;
  const long peak = resident_kib("VmHWM:");
  const double pixels = static_cast<double>(plane_cells(rows, cols));
  std::printf("%.1f %.1f\n", static_cast<double>(peak - before) * 1024.0 / pixels,
              static_cast<double>(peak - before_buffers) * 1024.0 / pixels);
  return 0;
}

// Runs measure_peak in a new process, so that no memory this process has
// already touched hides the rise.
void peak_memory(const char *self, const Size &s, bool framed, double *working,
                 double *with_buffers) {
  *working = *with_buffers = -1;
  const std::string command = std::string(self) + " --peak " + std::to_string(s.rows) + " " +
                              std::to_string(s.cols) + " " + (framed ? "1" : "0");
  FILE *child = popen(command.c_str(), "r");
  if (!child) return;
  if (std::fscanf(child, "%lf %lf", working, with_buffers) != 2) *working = *with_buffers = -1;
  pclose(child);
}

}  // namespace

int main(int argc, char **argv) {
  int repeat = 3;
  std::string sizes = "1,4,12";
  if (argc == 5 && std::strcmp(argv[1], "--peak") == 0)
    return measure_peak(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]) != 0);
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc)
      repeat = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "--sizes") == 0 && i + 1 < argc)
      sizes = argv[++i];
    else {
      std::fprintf(stderr, "usage: %s [--repeat N] [--sizes 1,4,12]\n", argv[0]);
      return 2;
    }
  }
  repeat = std::max(repeat, 1);
  char self[4096] = {0};
  if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) std::strcpy(self, argv[0]);

  std::printf("imageRestoration, RGB, length 10, direction 30, best of %d\n", repeat);
  std::printf("%-6s %-6s %11s %11s %7s %12s %12s\n", "region", "path", "pipeline s", "bare FFT s",
              "ratio", "work B/px", "+bufs B/px");
  for (const Size &s : kSizes) {
    const std::string tag = std::string(s.name).substr(0, std::string(s.name).find(' '));
    if (("," + sizes + ",").find("," + tag + ",") == std::string::npos) continue;
    for (bool framed : {false, true}) {
      const double pipeline = time_pipeline(s, framed, repeat);
      const double bare = time_bare_transforms(s, framed, repeat);
      double working = 0, with_buffers = 0;
      peak_memory(self, s, framed, &working, &with_buffers);
      std::printf("%-6s %-6s %11.3f %11.3f %6.2fx %12.1f %12.1f\n", s.name,
                  framed ? "frame" : "direct", pipeline, bare, pipeline / bare, working,
                  with_buffers);
      std::fflush(stdout);
    }
  }
  return 0;
}
