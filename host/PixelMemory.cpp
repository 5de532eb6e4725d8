#include "PixelMemory.hpp"

#include <deque>
#include <iterator>
#include <mutex>
#include <new>
#include <utility>

namespace cvcomp {

namespace {

// At most this many released blocks, and at most this many bytes of them, are kept; beyond that
// the oldest ones are freed, so that a change of frame size does not leave memory behind.
constexpr std::size_t kKeptBlocks = 16;
constexpr std::size_t kKeptBytes = std::size_t{256} << 20;
// Blocks start on a cache line, as OpenCV's own buffers do: copies into a block that starts in
// the middle of a line run markedly slower.
constexpr std::align_val_t kAlignment{64};

struct Unaligned {
  void operator()(std::uint8_t* block) const { ::operator delete(block, kAlignment); }
};
using Block = std::unique_ptr<std::uint8_t, Unaligned>;

class Store {
 public:
  // The most recently released block of the size: the one most likely still in cache.
  Block take(std::size_t bytes) {
    const std::lock_guard lock(mutex_);
    for (auto it = free_.rbegin(); it != free_.rend(); ++it) {
      if (it->first != bytes) continue;
      Block block = std::move(it->second);
      keptBytes_ -= bytes;
      free_.erase(std::next(it).base());
      return block;
    }
    return nullptr;
  }

  void give(Block block, std::size_t bytes) noexcept {
    const std::lock_guard lock(mutex_);
    try {
      free_.emplace_back(bytes, std::move(block));
    } catch (const std::bad_alloc&) {
      return;  // not kept: the block is freed
    }
    keptBytes_ += bytes;
    while (free_.size() > kKeptBlocks || keptBytes_ > kKeptBytes) {
      keptBytes_ -= free_.front().first;
      free_.pop_front();
    }
  }

 private:
  std::mutex mutex_;
  std::deque<std::pair<std::size_t, Block>> free_;
  std::size_t keptBytes_ = 0;
};

// Never destroyed: blocks may be released by objects that outlive every other static.
Store& store() {
  static Store* const instance = new Store;
  return *instance;
}

}  // namespace

std::shared_ptr<std::uint8_t[]> acquirePixelMemory(std::size_t bytes) {
  Block block = store().take(bytes);
  if (!block) block.reset(static_cast<std::uint8_t*>(::operator new(bytes, kAlignment)));
  return {block.release(),
          [bytes](std::uint8_t* released) { store().give(Block(released), bytes); }};
}

}  // namespace cvcomp
