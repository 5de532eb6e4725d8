#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace cvcomp {

// Memory for pixels. A block whose last owner lets go of it goes back to a small process-wide
// store and serves the next request of the same size, so that a stream of equally sized frames
// stops allocating (and touching fresh pages) after its first frames. Safe to use from any
// thread. The contents of a block are undefined.
std::shared_ptr<std::uint8_t[]> acquirePixelMemory(std::size_t bytes);

}  // namespace cvcomp
