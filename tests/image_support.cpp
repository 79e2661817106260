#include "image_support.h"

#include <gtest/gtest.h>

#include <cmath>

#include "engine/pipeline.h"

namespace ostrivo::testing {

cli::Image make_image(int rows, int cols, int bpp, unsigned seed) {
  cli::Image im;
  im.rows = rows;
  im.cols = cols;
  im.bpp = bpp;
  im.pixels.resize(static_cast<std::size_t>(rows) * cols * bpp);
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
  std::string region, result;
  const auto row_bytes = static_cast<std::size_t>(cols) * in.bpp;
  for (int r = 0; r < rows; ++r)
    region.append(in.pixels, (static_cast<std::size_t>(y + r) * in.cols + x) * in.bpp, row_bytes);
  result.resize(region.size());
  settings.preview = 0;
  bvals = settings;
  auto *dst = reinterpret_cast<guchar *>(&result[0]);
  EXPECT_TRUE(
      imageRestoration(reinterpret_cast<const guchar *>(region.data()), &dst, rows, cols, in.bpp));
  for (int r = 0; r < rows; ++r)
    out.pixels.replace((static_cast<std::size_t>(y + r) * in.cols + x) * in.bpp, row_bytes, result,
                       r * row_bytes, row_bytes);
  return out;
}

std::string differences(const cli::Image &a, const cli::Image &b) {
  if (a.rows != b.rows || a.cols != b.cols || a.bpp != b.bpp)
    return "shapes differ: " + std::to_string(a.cols) + "x" + std::to_string(a.rows) + "x" +
           std::to_string(a.bpp) + " vs " + std::to_string(b.cols) + "x" + std::to_string(b.rows) +
           "x" + std::to_string(b.bpp);
  std::size_t count = 0, first = 0;
  for (std::size_t k = 0; k < a.pixels.size(); ++k)
    if (a.pixels[k] != b.pixels[k] && count++ == 0) first = k;
  if (count == 0) return "";
  const std::size_t px = first / a.bpp;
  return std::to_string(count) + " bytes differ, first at x " + std::to_string(px % a.cols) +
         " y " + std::to_string(px / a.cols);
}

double psnr(const cli::Image &a, const cli::Image &b) {
  double sum = 0;
  std::size_t n = 0;
  for (std::size_t k = 0; k < a.pixels.size() && k < b.pixels.size(); ++k) {
    if (a.bpp == 4 && k % 4 == 3) continue;
    const double d = static_cast<double>(a.data()[k]) - b.data()[k];
    sum += d * d;
    ++n;
  }
  return sum == 0 ? INFINITY : 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(n) / sum);
}

}  // namespace ostrivo::testing
