#include "colour/light.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace ostrivo {

namespace {

bool is_alpha(int channel, int channels) {
  return (channels == 2 || channels == 4) && channel == channels - 1;
}

std::size_t samples_of(const PixelRegion &region) {
  return static_cast<std::size_t>(std::max(region.rows, 0)) *
         static_cast<std::size_t>(std::max(region.cols, 0)) *
         static_cast<std::size_t>(std::max(region.channels, 0));
}

// Decodes samples of a format with `levels` + 1 levels through a table.
template <typename T, std::size_t Levels>
void decode_levels(const PixelRegion &region, float *out) {
  static_assert(Levels <= 65535, "a table per level");
  std::vector<float> table(Levels + 1);
  for (std::size_t v = 0; v <= Levels; ++v)
    table[v] = static_cast<float>(srgb_to_linear(static_cast<double>(v) / Levels));
  const auto *in = static_cast<const T *>(region.src);
  const std::size_t n = samples_of(region);
  const int c = region.channels;
  for (std::size_t s = 0; s < n; ++s)
    out[s] = is_alpha(static_cast<int>(s % static_cast<std::size_t>(c)), c)
                 ? static_cast<float>(in[s] / static_cast<double>(Levels))
                 : table[in[s]];
}

template <typename T, std::size_t Levels>
void encode_levels(const float *linear, const PixelRegion &region) {
  auto *out = static_cast<T *>(region.dst);
  const std::size_t n = samples_of(region);
  const int c = region.channels;
  for (std::size_t s = 0; s < n; ++s) {
    const double v = is_alpha(static_cast<int>(s % static_cast<std::size_t>(c)), c)
                         ? std::clamp(static_cast<double>(linear[s]), 0.0, 1.0)
                         : linear_to_srgb(linear[s]);
    out[s] = static_cast<T>(std::lround(v * Levels));
  }
}

}  // namespace

double srgb_to_linear(double encoded) {
  const double v = std::clamp(encoded, 0.0, 1.0);
  return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

double linear_to_srgb(double linear) {
  const double v = std::clamp(linear, 0.0, 1.0);
  return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
}

void decode_light(const PixelRegion &region, float *out) {
  switch (region.format) {
    case SampleFormat::u8:
      decode_levels<unsigned char, 255>(region, out);
      return;
    case SampleFormat::u16:
      decode_levels<std::uint16_t, 65535>(region, out);
      return;
    case SampleFormat::f32:
      break;
  }
  const auto *in = static_cast<const float *>(region.src);
  const std::size_t n = samples_of(region);
  const int c = region.channels;
  for (std::size_t s = 0; s < n; ++s)
    out[s] = is_alpha(static_cast<int>(s % static_cast<std::size_t>(c)), c)
                 ? in[s]
                 : static_cast<float>(srgb_to_linear(in[s]));
}

void encode_light(const float *linear, const PixelRegion &region) {
  switch (region.format) {
    case SampleFormat::u8:
      encode_levels<unsigned char, 255>(linear, region);
      return;
    case SampleFormat::u16:
      encode_levels<std::uint16_t, 65535>(linear, region);
      return;
    case SampleFormat::f32:
      break;
  }
  auto *out = static_cast<float *>(region.dst);
  const std::size_t n = samples_of(region);
  const int c = region.channels;
  for (std::size_t s = 0; s < n; ++s)
    out[s] = is_alpha(static_cast<int>(s % static_cast<std::size_t>(c)), c)
                 ? linear[s]
                 : static_cast<float>(linear_to_srgb(linear[s]));
}

}  // namespace ostrivo
