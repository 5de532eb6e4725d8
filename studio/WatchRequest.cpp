#include "WatchRequest.hpp"

#include <algorithm>

#include "host/Composition.hpp"
#include "host/JsonReading.hpp"

namespace cvcomp {

Watch readWatchRequest(std::string_view text, Watch current) {
  const nlohmann::ordered_json request = parseJsonText(text);
  if (!request.is_object()) throw CompositionError("a live message must be a JSON object");
  expectOnly(request, {"type", "ports", "maxSide", "fps"}, "the watch request");
  if (stringAt(request, "type", "a live message") != "watch") {
    throw CompositionError("a live message's type must be \"watch\"");
  }
  if (const auto ports = request.find("ports"); ports != request.end()) {
    if (!ports->is_array() || !std::all_of(ports->begin(), ports->end(),
                                           [](const auto& port) { return port.is_string(); })) {
      throw CompositionError("\"ports\" must be an array of ports");
    }
    current.ports.clear();
    for (const auto& port : *ports) {
      const auto& name = port.template get_ref<const std::string&>();
      if (std::find(current.ports.begin(), current.ports.end(), name) != current.ports.end()) {
        continue;
      }
      if (current.ports.size() == kMaxWatchedPorts) {
        throw CompositionError("a client watches at most " + std::to_string(kMaxWatchedPorts) +
                               " ports");
      }
      current.ports.push_back(name);
    }
  }
  if (request.contains("maxSide")) {
    current.maxSide = static_cast<int>(
        std::clamp(numberAt(request, "maxSide", "the watch request"), 16.0, 4096.0));
  }
  if (request.contains("fps")) {
    const double fps = numberAt(request, "fps", "the watch request");
    current.fps = fps <= 0.0 ? 0.0 : std::clamp(fps, 0.1, 60.0);
  }
  return current;
}

}  // namespace cvcomp
