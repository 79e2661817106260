// What the engine may take from the machine: memory, before any work.
#ifndef OSTRIVO_ENGINE_RESOURCES_H
#define OSTRIVO_ENGINE_RESOURCES_H

#include <cstddef>

#include "ostrivo/repair.h"

namespace ostrivo {

// Bytes of a region's pixel buffer, or false when the size does not fit a
// size_t. A non-positive dimension or channel count gives 0 bytes.
bool region_bytes(const PixelRegion &region, std::size_t *bytes);

// Whether this process can have `bytes` more and still keep some slack:
// below the machine's physical memory and what the process's own limits
// (RLIMIT_AS, RLIMIT_DATA) leave beyond what it holds now. When neither is
// known, allocation decides.
bool memory_allows(double bytes);

}  // namespace ostrivo

#endif
