// How much a repair restores: blurs a sharp photo with a known motion (the
// engine's own blur), repairs it with the same settings, and prints the
// PSNR of the blurred and of the repaired image against the sharp one.
//
//   ostrivo_roundtrip PHOTO [LENGTH DIRECTION [K [FRAME_WIDTH]]]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/image_file.h"
#include "engine/pipeline.h"
#include "engine/settings.h"

using namespace ostrivo;

namespace {

// PSNR in dB over the colour bytes of the region both images share.
double psnr(const cli::Image &a, const cli::Image &b) {
  double sum = 0;
  std::size_t n = 0;
  for (std::size_t p = 0; p < a.pixels.size(); ++p) {
    if (a.bpp == 4 && p % 4 == 3) continue;
    const double d = static_cast<double>(a.data()[p]) - b.data()[p];
    sum += d * d;
    ++n;
  }
  const double mse = sum / static_cast<double>(n);
  return mse == 0 ? INFINITY : 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PHOTO [LENGTH DIRECTION [K [FRAME_WIDTH]]]\n", argv[0]);
    return 2;
  }
  bvals = kDefaultBlurVals;
  bvals.preview = 1;
  bvals.length = argc > 3 ? std::atof(argv[2]) : 10;
  bvals.direction = argc > 3 ? std::atof(argv[3]) : 45;
  bvals.k = argc > 4 ? std::atof(argv[4]) : 0.001;
  bvals.frame_width = argc > 5 ? std::atof(argv[5]) : 1.0;

  cli::Image sharp;
  std::string error;
  if (!cli::load_image(argv[1], &sharp, &error)) {
    std::fprintf(stderr, "%s: %s\n", argv[1], error.c_str());
    return 1;
  }
  // Work on the even-sized region, as the front ends do.
  cli::Image region = sharp;
  region.rows -= region.rows % 2;
  region.cols -= region.cols % 2;
  region.pixels.clear();
  for (int r = 0; r < region.rows; ++r)
    region.pixels.append(sharp.pixels, static_cast<std::size_t>(r) * sharp.cols * sharp.bpp,
                         static_cast<std::size_t>(region.cols) * sharp.bpp);

  cli::Image blurred = region, repaired = region;
  guchar *b = blurred.data();
  guchar *r = repaired.data();
  if (!imageMotionBlur(region.data(), &b, region.rows, region.cols, region.bpp) ||
      !imageRestoration(blurred.data(), &r, region.rows, region.cols, region.bpp)) {
    std::fprintf(stderr, "region refused\n");
    return 1;
  }
  std::printf("%s, %dx%d, length %g, direction %g, K %g, frame %g %%\n", argv[1], region.cols,
              region.rows, bvals.length, bvals.direction, bvals.k, bvals.frame_width);
  std::printf("PSNR blurred  %.2f dB\nPSNR repaired %.2f dB\n", psnr(blurred, region),
              psnr(repaired, region));
  return 0;
}
