#include "colour/light.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

namespace ostrivo {

namespace {

std::size_t samples_of(const PixelRegion &region) {
  return static_cast<std::size_t>(std::max(region.rows, 0)) *
         static_cast<std::size_t>(std::max(region.cols, 0)) *
         static_cast<std::size_t>(std::max(region.channels, 0));
}

// Calls put(s, alpha) for each sample s of the region, `alpha` telling an
// alpha sample (the last of 2 or 4 channels) from a colour one.
template <typename Put>
void each_sample(const PixelRegion &region, Put put) {
  const std::size_t n = samples_of(region), c = static_cast<std::size_t>(region.channels);
  const bool with_alpha = c == 2 || c == 4;
  for (std::size_t s = 0; s < n; ++s) put(s, with_alpha && s % c == c - 1);
}

// The largest level of a sample type: 1 for floats.
template <typename T>
constexpr double top_level() {
  if constexpr (std::is_integral_v<T>)
    return static_cast<double>(std::numeric_limits<T>::max());
  else
    return 1.0;
}

template <typename T>
void decode_as(const PixelRegion &region, float *out) {
  const auto *in = static_cast<const T *>(region.src);
  constexpr double top = top_level<T>();
  if constexpr (std::is_integral_v<T>) {  // one curve a level, through a table
    std::vector<float> table(static_cast<std::size_t>(top) + 1);
    for (std::size_t v = 0; v < table.size(); ++v)
      table[v] = static_cast<float>(srgb_to_linear(static_cast<double>(v) / top));
    each_sample(region, [&](std::size_t s, bool alpha) {
      out[s] = alpha ? static_cast<float>(in[s] / top) : table[in[s]];
    });
  } else {
    each_sample(region, [&](std::size_t s, bool alpha) {
      out[s] = alpha ? in[s] : static_cast<float>(srgb_to_linear(in[s]));
    });
  }
}

template <typename T>
void encode_as(const float *linear, const PixelRegion &region) {
  auto *out = static_cast<T *>(region.dst);
  each_sample(region, [&](std::size_t s, bool alpha) {
    if constexpr (std::is_integral_v<T>) {
      const double v =
          alpha ? std::clamp(static_cast<double>(linear[s]), 0.0, 1.0) : linear_to_srgb(linear[s]);
      out[s] = static_cast<T>(std::lround(v * top_level<T>()));
    } else {
      out[s] = alpha ? linear[s] : static_cast<float>(linear_to_srgb(linear[s]));
    }
  });
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
      return decode_as<unsigned char>(region, out);
    case SampleFormat::u16:
      return decode_as<std::uint16_t>(region, out);
    case SampleFormat::f32:
      return decode_as<float>(region, out);
  }
}

void encode_light(const float *linear, const PixelRegion &region) {
  switch (region.format) {
    case SampleFormat::u8:
      return encode_as<unsigned char>(linear, region);
    case SampleFormat::u16:
      return encode_as<std::uint16_t>(linear, region);
    case SampleFormat::f32:
      return encode_as<float>(linear, region);
  }
}

void light_data_weights(const PixelRegion &light, int channel, float *weights) {
  const std::size_t cells = static_cast<std::size_t>(std::max(light.rows, 0)) *
                            static_cast<std::size_t>(std::max(light.cols, 0));
  const auto c = static_cast<std::size_t>(std::max(light.channels, 1));
  if ((c == 2 || c == 4) && static_cast<std::size_t>(channel) == c - 1) {
    std::fill(weights, weights + cells, 1.0f);
    return;
  }
  // 1 / (dL/dv)^2, the light L against the encoded value v: 12.92^2 at or
  // below the linear segment's end, (1.055 / 2.4)^2 L^(-2 (2.4 - 1) / 2.4)
  // above it; tabled and read between entries.
  constexpr int kSteps = 4096;
  std::vector<float> table(kSteps + 2);
  for (int i = 0; i <= kSteps + 1; ++i) {
    const double l = std::min(static_cast<double>(i) / kSteps, 1.0);
    const double s = l <= 0.0031308 ? 1.0 / 12.92 : 2.4 / 1.055 * std::pow(l, 1.4 / 2.4);
    table[static_cast<std::size_t>(i)] = static_cast<float>(1.0 / (s * s));
  }
  const float *in = static_cast<const float *>(light.src) + channel;
  for (std::size_t p = 0; p < cells; ++p) {
    const float at = std::clamp(in[p * c], 0.0f, 1.0f) * kSteps;
    const auto i = static_cast<std::size_t>(at);
    const float f = at - static_cast<float>(i);
    weights[p] = table[i] + f * (table[i + 1] - table[i]);
  }
}

PixelRegion decoded_region(const PixelRegion &region, std::vector<float> *samples) {
  samples->resize(samples_of(region));
  decode_light(region, samples->data());
  return {region.rows, region.cols, region.channels, SampleFormat::f32, samples->data(), nullptr};
}

}  // namespace ostrivo
