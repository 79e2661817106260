// What the timing benchmarks share: a clock, a photo-like test region, and
// peak memory measured in a fresh process.
#ifndef OSTRIVO_BENCH_SUPPORT_H
#define OSTRIVO_BENCH_SUPPORT_H

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace ostrivo::bench {

// A region size a benchmark times.
struct Size {
  const char *name;
  int rows, cols;
};

inline double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Deterministic RGB bytes with smooth structure and noise.
inline std::vector<unsigned char> photo_like(int rows, int cols) {
  std::vector<unsigned char> px(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols) *
                                3);
  unsigned x = 12345;
  for (std::size_t k = 0; k < px.size(); ++k) {
    x = x * 1103515245u + 12345u;
    px[k] = static_cast<unsigned char>(((k / 3) % 251) / 2 + ((x >> 16) & 63));
  }
  return px;
}

// The resident high-water mark of this process, KiB.
inline long peak_resident_kib() {
  FILE *f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long value = -1;
  while (std::fgets(line, sizeof line, f))
    if (std::strncmp(line, "VmHWM:", 6) == 0) value = std::atol(line + 6);
  std::fclose(f);
  return value;
}

// The number a command prints (a measurement made in a fresh process, so
// that no memory this one has touched hides the rise); -1 when none.
inline double number_from(const std::string &command) {
  FILE *child = popen(command.c_str(), "r");
  if (!child) return -1;
  double value = -1;
  if (std::fscanf(child, "%lf", &value) != 1) value = -1;
  pclose(child);
  return value;
}

}  // namespace ostrivo::bench

#endif
