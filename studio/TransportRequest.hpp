#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cvcomp {

// A request to the transport, POST /api/transport, read whole before any of it is applied:
// {"input": "..", "speed": "native"|"max", "loop": true|false, "pictureRate": R,
//  "action": "play"|"pause"|"step"|"seek", "frame": N (with seek)}, every key optional.
struct TransportRequest {
  std::optional<std::string> input;
  std::optional<bool> maxSpeed;
  std::optional<bool> loop;
  std::optional<double> pictureRate;  // from kMinPictureRate to kMaxPictureRate
  std::optional<std::string> action;
  std::optional<std::uint64_t> frame;  // given exactly when the action is seek

  static constexpr double kMinPictureRate = 0.1;
  static constexpr double kMaxPictureRate = 240.0;
};

// Throws CompositionError naming what is wrong.
TransportRequest readTransportRequest(std::string_view text);

}  // namespace cvcomp
