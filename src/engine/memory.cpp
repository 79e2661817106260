// The engine's kept working blocks (see planes.h).
#include <glib.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "engine/planes.h"

namespace ostrivo {

namespace {

// Smaller blocks come and go through the allocator directly: its own free
// lists serve them well.
constexpr std::size_t kKeepFrom = std::size_t{1} << 16;
// At most this many blocks are kept, and at most an eighth of the memory.
constexpr std::size_t kMaxKept = 8;

struct Kept {
  void *block;
  std::size_t bytes;
};

void *allocate(std::size_t bytes) {
  void *block = g_try_malloc(bytes);
  if (block != nullptr) advise_huge_pages(block, bytes);
  return block;
}

class BlockCache {
 public:
  ~BlockCache() { release(); }

  void *take(std::size_t bytes) {
    if (bytes >= kKeepFrom) {
      std::lock_guard<std::mutex> lock(mutex_);
      for (auto it = kept_.begin(); it != kept_.end(); ++it)
        if (it->bytes == bytes) {
          void *block = it->block;
          total_ -= bytes;
          kept_.erase(it);
          return block;
        }
    }
    return allocate(bytes);
  }

  void give(void *block, std::size_t bytes) {
    if (block == nullptr) return;
    if (bytes < kKeepFrom || bytes > limit()) {
      g_free(block);
      return;
    }
    std::vector<Kept> freed;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      // The oldest go first when the new block would pass a bound.
      while (!kept_.empty() && (kept_.size() >= kMaxKept || total_ + bytes > limit())) {
        freed.push_back(kept_.front());
        total_ -= kept_.front().bytes;
        kept_.erase(kept_.begin());
      }
      kept_.push_back({block, bytes});
      total_ += bytes;
    }
    for (const Kept &old : freed) g_free(old.block);
  }

  void release() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Kept &k : kept_) g_free(k.block);
    kept_.clear();
    total_ = 0;
  }

 private:
  static std::size_t limit() {
    static const std::size_t bound = [] {
      const long pages = sysconf(_SC_PHYS_PAGES);
      const long page_size = sysconf(_SC_PAGESIZE);
      if (pages <= 0 || page_size <= 0) return std::size_t{256} << 20;
      return static_cast<std::size_t>(pages) * static_cast<std::size_t>(page_size) / 8;
    }();
    return bound;
  }

  std::mutex mutex_;
  std::vector<Kept> kept_;  // oldest first
  std::size_t total_ = 0;
};

BlockCache &cache() {
  static BlockCache instance;
  return instance;
}

}  // namespace

void *take_block(std::size_t bytes) { return cache().take(bytes); }
void give_block(void *block, std::size_t bytes) {
  try {
    cache().give(block, bytes);
  } catch (...) {  // a full vector: the block simply goes back to the system
    g_free(block);
  }
}
void release_kept_blocks() { cache().release(); }

}  // namespace ostrivo
