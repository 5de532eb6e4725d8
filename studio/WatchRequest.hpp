#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace cvcomp {

// What a live client watches.
struct Watch {
  std::vector<std::string> ports;  // "id.port", each once
  int maxSide = 640;
  double fps = 15.0;  // 0: every frame
};

// The most ports one client watches: far more than a page shows at once, and few enough that a
// client cannot make the engine copy a picture or look up a port without end.
inline constexpr std::size_t kMaxWatchedPorts = 64;

// Reads a client's watch request {"type": "watch", "ports": [...], "maxSide": N, "fps": F}; what
// it leaves out stays as in `current`. Ports named twice are watched once; maxSide is brought
// within 16 to 4096 and fps within 0.1 to 60 (0 or less: every frame). Throws CompositionError
// with a message for the client.
Watch readWatchRequest(std::string_view text, Watch current);

}  // namespace cvcomp
