// Feeds arbitrary text to the studio's reader of live messages, as a WebSocket client could send
// it: the reader must take it as a watch request or refuse it with a CompositionError whose
// answer to the client can be written, and never crash, hang or raise anything else.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "host/Composition.hpp"
#include "studio/JsonText.hpp"
#include "studio/WatchRequest.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const cvcomp::Watch watch = cvcomp::readWatchRequest(text, {});
    if (watch.ports.size() > cvcomp::kMaxWatchedPorts) __builtin_trap();
  } catch (const cvcomp::CompositionError& error) {
    (void)cvcomp::jsonText({{"type", "error"}, {"error", error.what()}});
  }
  return 0;
}
