#include "image_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace ostrivo::testing {

cli::Image make_image(int rows, int cols, int bpp, unsigned seed) {
  cli::Image im(rows, cols, bpp);
  unsigned x = seed;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c)
      for (int ch = 0; ch < bpp; ++ch) {
        x = x * 1103515245u + 12345u;
        const int smooth = (r * 3 + c * 2 + ch * 70) % 256;
        const int value =
            ch == 3 ? (c * 255) / (cols > 1 ? cols - 1 : 1) : (smooth + int((x >> 16) % 40)) % 256;
        im.data()[(static_cast<std::size_t>(r) * cols + c) * bpp + ch] = static_cast<guchar>(value);
      }
  return im;
}

cli::Image load(const std::string &path) {
  cli::Image im;
  std::string error;
  EXPECT_TRUE(cli::load_image(path, &im, &error)) << path << ": " << error;
  return im;
}

cli::Image engine_repair(const cli::Image &in, int x, int y, int cols, int rows,
                         BlurVals settings) {
  cli::Image out = in;
  const auto row_bytes = static_cast<std::size_t>(cols) * in.bpp;
  std::vector<guchar> region(row_bytes * rows), result(region.size());
  for (int r = 0; r < rows; ++r)
    std::memcpy(&region[r * row_bytes],
                in.data() + (static_cast<std::size_t>(y + r) * in.cols + x) * in.bpp, row_bytes);
  settings.preview = 0;
  bvals = settings;
  guchar *dst = result.data();
  EXPECT_TRUE(imageRestoration(region.data(), &dst, rows, cols, in.bpp));
  for (int r = 0; r < rows; ++r)
    std::memcpy(out.data() + (static_cast<std::size_t>(y + r) * in.cols + x) * in.bpp,
                &result[r * row_bytes], row_bytes);
  return out;
}

cli::Image job_result(const cli::Image &in, const RepairSettings &settings, bool blur) {
  cli::Image out(in.rows, in.cols, in.bpp, in.bits);
  const PixelRegion area{in.rows,   in.cols,
                         in.bpp,    in.bits == 16 ? SampleFormat::u16 : SampleFormat::u8,
                         in.data(), out.data()};
  const JobResult result = blur ? blur_area(area, settings) : repair_area(area, settings);
  EXPECT_EQ(result.outcome, Outcome::repaired);
  return out;
}

cli::Image smooth_result(const cli::Image &in, double length, double direction, bool blur,
                         SolverKind solver) {
  RepairSettings s;
  s.motion = SmoothLine{length, direction};
  s.solver = solver;
  return job_result(in, s, blur);
}

cli::Image shake_kernel_image(int size) {
  cli::Image k(size, size, 1);
  std::fill(k.data(), k.data() + k.samples(), 0);
  const double r = 0.4 * size;  // a quarter turn, then straight on
  for (int s = 0; s < 400; ++s) {
    const double t = s / 400.0;
    const double x = t < 0.6 ? r * std::cos(2.6 * t) - 0.2 * r : r * (0.5 - 1.5 * (t - 0.6));
    const double y = t < 0.6 ? r * std::sin(2.6 * t) - 0.4 * r : r * (0.6 + 0.5 * (t - 0.6));
    const int col = static_cast<int>(std::lround(x)) + size / 2;
    const int row = static_cast<int>(std::lround(y)) + size / 2;
    if (row < 0 || row >= size || col < 0 || col >= size) continue;
    guchar &v = k.data()[static_cast<std::size_t>(row * size + col)];
    v = static_cast<guchar>(std::min(255, v + 8 + static_cast<int>(16 * t)));
  }
  return k;
}

cli::Image kernel_result(const cli::Image &in, const cli::Image &kernel, bool blur, bool linear) {
  RepairSettings s;
  s.linear_light = linear;
  s.motion = kernel_from_image(
      {kernel.rows, kernel.cols, kernel.bpp, SampleFormat::u8, kernel.data(), nullptr});
  s.solver = SolverKind::sparse;
  return job_result(in, s, blur);
}

std::string differences(const cli::Image &a, const cli::Image &b) {
  if (a.rows != b.rows || a.cols != b.cols || a.bpp != b.bpp || a.bits != b.bits)
    return "shapes differ: " + std::to_string(a.cols) + "x" + std::to_string(a.rows) + "x" +
           std::to_string(a.bpp) + " vs " + std::to_string(b.cols) + "x" + std::to_string(b.rows) +
           "x" + std::to_string(b.bpp);
  std::size_t count = 0, first = 0;
  for (std::size_t k = 0; k < a.bytes(); ++k)
    if (a.data()[k] != b.data()[k] && count++ == 0) first = k;
  if (count == 0) return "";
  const std::size_t px = first / a.bpp / (a.bits / 8);
  return std::to_string(count) + " bytes differ, first at x " + std::to_string(px % a.cols) +
         " y " + std::to_string(px / a.cols);
}

double psnr(const cli::Image &a, const cli::Image &b) {
  double sum = 0;
  std::size_t n = 0;
  const auto level = [](const cli::Image &im, std::size_t k) {
    return im.bits == 16 ? im.words()[k] / 257.0 : static_cast<double>(im.data()[k]);
  };
  for (std::size_t k = 0; k < a.samples() && k < b.samples(); ++k) {
    if (a.bpp == 4 && k % 4 == 3) continue;
    const double d = level(a, k) - level(b, k);
    sum += d * d;
    ++n;
  }
  return sum == 0 ? INFINITY : 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(n) / sum);
}

double shifted_psnr(const cli::Image &a, const cli::Image &b, int reach) {
  double best = 0.0;
  for (int dy = -reach; dy <= reach; ++dy)
    for (int dx = -reach; dx <= reach; ++dx) {
      double sum = 0;
      std::size_t n = 0;
      for (int y = reach; y < a.rows - reach; ++y)
        for (int x = reach; x < a.cols - reach; ++x)
          for (int c = 0; c < std::min(a.bpp, 3); ++c) {
            const double d =
                a.data()[(static_cast<std::size_t>(y) * a.cols + x) * a.bpp + c] -
                b.data()[(static_cast<std::size_t>(y + dy) * b.cols + x + dx) * b.bpp + c];
            sum += d * d;
            ++n;
          }
      best = std::max(best, 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(n) / sum));
    }
  return best;
}

}  // namespace ostrivo::testing
