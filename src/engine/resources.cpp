#include "engine/resources.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <utility>

#include "engine/planes.h"

namespace ostrivo {

std::size_t sample_size(SampleFormat format) {
  switch (format) {
    case SampleFormat::u8:
      return 1;
    case SampleFormat::u16:
      return 2;
    case SampleFormat::f32:
      return sizeof(float);
  }
  return 1;
}

bool region_bytes(const PixelRegion &region, std::size_t *bytes) {
  *bytes = 0;
  if (region.rows <= 0 || region.cols <= 0 || region.channels <= 0) return true;
  const std::size_t cells = plane_cells(region.rows, region.cols);
  std::size_t samples = 0;
  return !__builtin_mul_overflow(cells, static_cast<std::size_t>(region.channels), &samples) &&
         !__builtin_mul_overflow(samples, sample_size(region.format), bytes);
}

namespace {

constexpr double kSlackBytes = 64.0 * 1024 * 1024;

// The process's address space and its data segment now, bytes (from
// /proc/self/statm); 0 when unknown.
struct Usage {
  double address_space = 0.0;
  double data = 0.0;
};

Usage usage_now(double page_size) {
  Usage u;
  FILE *f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr) return u;
  unsigned long size = 0, resident = 0, shared = 0, text = 0, lib = 0, data = 0;
  if (std::fscanf(f, "%lu %lu %lu %lu %lu %lu", &size, &resident, &shared, &text, &lib, &data) ==
      6) {
    u.address_space = static_cast<double>(size) * page_size;
    u.data = static_cast<double>(data) * page_size;
  }
  std::fclose(f);
  return u;
}

}  // namespace

bool memory_allows(double bytes) {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (page_size <= 0) return true;  // unknown: let allocation decide
  // What the process may still take: the machine's memory, and what its
  // limits leave beyond what it holds already.
  bool known = pages > 0;
  double room = known ? static_cast<double>(pages) * static_cast<double>(page_size) : 0.0;
  const Usage used = usage_now(static_cast<double>(page_size));
  for (auto [resource, in_use] :
       {std::pair{RLIMIT_AS, used.address_space}, std::pair{RLIMIT_DATA, used.data}}) {
    rlimit r{};
    if (getrlimit(resource, &r) == 0 && r.rlim_cur != RLIM_INFINITY) {
      const double left = static_cast<double>(r.rlim_cur) - in_use;
      room = known ? std::min(room, left) : left;
      known = true;
    }
  }
  // Beyond what a repair itself holds, the process keeps needing a little
  // (plans, threads' stacks, the host's own calls): a host such as GIMP ends
  // a plug-in whose small allocation fails, so that slack must stay free.
  const double slack = kSlackBytes + bytes / 16.0;
  return !known || bytes + slack < room;
}

}  // namespace ostrivo
