// The sparse solver and the noise measure it takes its weight from, on
// synthetic photos whose answers are known.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "ostrivo/repair.h"

using namespace ostrivo;

namespace {

// A cartoon-like photo: flat regions with sharp edges, the picture a
// total-variation prior describes best. Rows x cols x 3 levels.
std::vector<double> cartoon(int rows, int cols) {
  std::vector<double> px(static_cast<std::size_t>(rows * cols * 3));
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      const bool disc = (i - rows / 2) * (i - rows / 2) + (j - cols / 3) * (j - cols / 3) < 400;
      const bool band = (i + 2 * j) % 60 < 25;
      for (int c = 0; c < 3; ++c)
        px[static_cast<std::size_t>((i * cols + j) * 3 + c)] =
            40.0 + 120.0 * disc + 60.0 * band + 15.0 * c;
    }
  return px;
}

std::vector<unsigned char> bytes_of(const std::vector<double> &v) {
  std::vector<unsigned char> out(v.size());
  for (std::size_t k = 0; k < v.size(); ++k)
    out[k] = static_cast<unsigned char>(std::clamp(std::lround(v[k]), 0L, 255L));
  return out;
}

double psnr(const std::vector<unsigned char> &a, const std::vector<unsigned char> &b) {
  double sum = 0;
  for (std::size_t k = 0; k < a.size(); ++k) sum += (double(a[k]) - b[k]) * (double(a[k]) - b[k]);
  return 10 * std::log10(255.0 * 255.0 / (sum / static_cast<double>(a.size())));
}

}  // namespace

TEST(Noise, TheMeasureFindsTheSigmaOfWhiteNoiseOnASmoothPhoto) {
  constexpr double kSigmaTolerance = 0.06;  // relative
  const int rows = 400, cols = 500;
  for (double sigma : {1.0, 2.55, 6.0}) {
    SCOPED_TRACE(sigma);
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, sigma);
    std::vector<double> px(static_cast<std::size_t>(rows * cols * 3));
    for (std::size_t k = 0; k < px.size(); ++k)
      px[k] = 80.0 + 0.1 * static_cast<double>(k % (3 * cols)) / 3.0 + noise(rng);
    const auto bytes = bytes_of(px);
    std::vector<float> floats(px.size());
    for (std::size_t k = 0; k < px.size(); ++k) floats[k] = static_cast<float>(px[k] / 255.0);
    const double from_bytes =
        measure_noise({rows, cols, 3, SampleFormat::u8, bytes.data(), nullptr});
    const double from_floats =
        measure_noise({rows, cols, 3, SampleFormat::f32, floats.data(), nullptr});
    // Bytes add their rounding, a uniform error of variance 1/12.
    EXPECT_NEAR(from_bytes, std::sqrt(sigma * sigma + 1.0 / 12), kSigmaTolerance * sigma);
    EXPECT_NEAR(from_floats, sigma, kSigmaTolerance * sigma);
  }
}

TEST(Sparse, RestoresSharpEdgesBeyondWienerWithTheEdgesOfThePhotoUnknown) {
  // The photo is cut out of a larger blurred scene, so what lies beyond its
  // edges was blurred into it but is not in it.
  const int rows = 160, cols = 200, margin = 12;
  SampledKernel kernel{9, 9, std::vector<double>(81, 0.0)};
  for (int t = 0; t < 9; ++t) kernel.weights[static_cast<std::size_t>(t * 9 + (t < 5 ? 4 : t))] = 1;
  const auto scene = bytes_of(cartoon(rows + 2 * margin, cols + 2 * margin));
  std::vector<unsigned char> blurred_scene(scene.size());
  RepairSettings blur;
  blur.motion = kernel;
  ASSERT_EQ(blur_area({rows + 2 * margin, cols + 2 * margin, 3, SampleFormat::u8, scene.data(),
                       blurred_scene.data()},
                      blur)
                .outcome,
            Outcome::repaired);
  std::mt19937 rng(3);
  std::normal_distribution<double> noise(0.0, 2.0);
  std::vector<double> observed(static_cast<std::size_t>(rows * cols * 3));
  std::vector<unsigned char> sharp(observed.size());
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols * 3; ++j) {
      const auto from =
          static_cast<std::size_t>((i + margin) * (cols + 2 * margin) * 3 + margin * 3 + j);
      const auto to = static_cast<std::size_t>(i * cols * 3 + j);
      observed[to] = blurred_scene[from] + noise(rng);
      sharp[to] = scene[from];
    }
  const auto photo = bytes_of(observed);

  const auto repaired = [&](SolverKind solver, double k) {
    RepairSettings s;
    s.motion = kernel;
    s.solver = solver;
    s.k = k;
    std::vector<unsigned char> out(photo.size());
    EXPECT_EQ(repair_area({rows, cols, 3, SampleFormat::u8, photo.data(), out.data()}, s).outcome,
              Outcome::repaired);
    return psnr(out, sharp);
  };
  double wiener = 0;
  for (double k : {0.001, 0.003, 0.01, 0.03, 0.1})
    wiener = std::max(wiener, repaired(SolverKind::wiener, k));
  const double sparse = repaired(SolverKind::sparse, 0.0);
  EXPECT_GT(sparse, wiener + 3.0) << "Wiener at its best K " << wiener;
  EXPECT_GT(sparse, psnr(photo, sharp) + 8.0);
}
