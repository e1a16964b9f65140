#include "FloatLanczos.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace bench {
namespace {

// The same filter as the viewer's.
constexpr double kLobes = kLanczosLobes;
double Lanczos(double x) { return LanczosKernel(x); }

struct Taps {
  std::vector<uint32_t> first;
  std::vector<uint32_t> count;
  std::vector<float> weights;
  uint32_t stride = 0;

  Taps(uint32_t from, uint32_t to) : first(to), count(to) {
    const double scale = static_cast<double>(from) / to;
    const double widen = std::max(scale, 1.0);
    const double radius = kLobes * widen;
    stride = static_cast<uint32_t>(std::ceil(radius) * 2 + 1);
    weights.assign(static_cast<std::size_t>(stride) * to, 0.0f);
    for (uint32_t i = 0; i < to; ++i) {
      const double centre = (i + 0.5) * scale - 0.5;
      int64_t lo = static_cast<int64_t>(std::ceil(centre - radius));
      int64_t hi = static_cast<int64_t>(std::floor(centre + radius));
      lo = std::max<int64_t>(lo, 0);
      hi = std::min<int64_t>(hi, static_cast<int64_t>(from) - 1);
      if (hi - lo + 1 > static_cast<int64_t>(stride)) hi = lo + stride - 1;
      double sum = 0;
      float* w = &weights[static_cast<std::size_t>(i) * stride];
      for (int64_t k = lo; k <= hi; ++k) sum += Lanczos((static_cast<double>(k) - centre) / widen);
      if (sum == 0) sum = 1;
      for (int64_t k = lo; k <= hi; ++k)
        w[k - lo] = static_cast<float>(Lanczos((static_cast<double>(k) - centre) / widen) / sum);
      first[i] = static_cast<uint32_t>(lo);
      count[i] = static_cast<uint32_t>(hi - lo + 1);
    }
  }
};

uint8_t ToByte(float v) { return static_cast<uint8_t>(std::clamp(v + 0.5f, 0.0f, 255.0f)); }

}  // namespace

bool FloatLanczos(RowSource& source, uint32_t width, uint32_t height, uint8_t* out, uint32_t outWidth,
                  uint32_t outHeight, uint32_t outStride) {
  const Taps across(width, outWidth), down(height, outHeight);
  const uint32_t ring = down.stride + 1;
  const std::size_t rowFloats = static_cast<std::size_t>(outWidth) * 4;
  std::vector<float> rows(rowFloats * ring);
  std::vector<uint8_t> line(static_cast<std::size_t>(width) * 4);
  std::vector<float> sum(rowFloats);
  uint32_t next = 0;
  for (uint32_t y = 0; y < outHeight; ++y) {
    const uint32_t top = down.first[y], taps = down.count[y];
    for (; next < top + taps; ++next) {
      if (!source.ReadRow(next, line.data())) return false;
      float* to = &rows[(next % ring) * rowFloats];
      for (uint32_t x = 0; x < outWidth; ++x) {
        const float* w = &across.weights[static_cast<std::size_t>(x) * across.stride];
        const uint8_t* from = &line[static_cast<std::size_t>(across.first[x]) * 4];
        float b = 0, g = 0, r = 0, a = 0;
        for (uint32_t k = 0; k < across.count[x]; ++k, from += 4) {
          b += w[k] * from[0];
          g += w[k] * from[1];
          r += w[k] * from[2];
          a += w[k] * from[3];
        }
        to[4 * x] = b, to[4 * x + 1] = g, to[4 * x + 2] = r, to[4 * x + 3] = a;
      }
    }
    std::fill(sum.begin(), sum.end(), 0.0f);
    const float* w = &down.weights[static_cast<std::size_t>(y) * down.stride];
    for (uint32_t k = 0; k < taps; ++k) {
      const float* from = &rows[((top + k) % ring) * rowFloats];
      const float weight = w[k];
      for (std::size_t i = 0; i < rowFloats; ++i) sum[i] += weight * from[i];
    }
    uint8_t* to = out + static_cast<std::size_t>(y) * outStride;
    for (uint32_t x = 0; x < outWidth; ++x) {
      const uint8_t alpha = ToByte(sum[4 * x + 3]);
      to[4 * x] = std::min(ToByte(sum[4 * x]), alpha);
      to[4 * x + 1] = std::min(ToByte(sum[4 * x + 1]), alpha);
      to[4 * x + 2] = std::min(ToByte(sum[4 * x + 2]), alpha);
      to[4 * x + 3] = alpha;
    }
  }
  return true;
}

}  // namespace bench
