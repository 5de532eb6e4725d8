#include "TransportRequest.hpp"

#include <cmath>

#include <nlohmann/json.hpp>

#include "host/Composition.hpp"
#include "host/JsonReading.hpp"

namespace cvcomp {

namespace {

const std::string kWhere = "the transport";

bool booleanAt(const nlohmann::ordered_json& request, std::string_view key) {
  const auto& value = request.at(key);
  if (!value.is_boolean()) {
    throw CompositionError(kWhere + ": \"" + std::string(key) + "\" must be true or false");
  }
  return value.get<bool>();
}

}  // namespace

TransportRequest readTransportRequest(std::string_view text) {
  const nlohmann::ordered_json request = parseJsonText(text);
  if (!request.is_object()) throw CompositionError("the transport takes an object");
  expectOnly(request, {"action", "input", "frame", "speed", "loop", "pictureRate"}, kWhere);
  TransportRequest read;
  if (request.contains("input")) read.input = stringAt(request, "input", kWhere);
  if (request.contains("speed")) {
    const std::string speed = stringAt(request, "speed", kWhere);
    if (speed != "native" && speed != "max") {
      throw CompositionError(kWhere + ": \"speed\" is \"native\" or \"max\"");
    }
    read.maxSpeed = speed == "max";
  }
  if (request.contains("loop")) read.loop = booleanAt(request, "loop");
  if (request.contains("pictureRate")) {
    const double rate = numberAt(request, "pictureRate", kWhere);
    if (!(rate >= TransportRequest::kMinPictureRate && rate <= TransportRequest::kMaxPictureRate)) {
      throw CompositionError(kWhere + ": \"pictureRate\" is from 0.1 to 240 frames a second");
    }
    read.pictureRate = rate;
  }
  if (request.contains("action")) {
    read.action = stringAt(request, "action", kWhere);
    if (*read.action != "play" && *read.action != "pause" && *read.action != "step" &&
        *read.action != "seek") {
      throw CompositionError(kWhere + ": unknown action \"" + *read.action +
                             "\" (play, pause, step, seek)");
    }
  }
  const bool seeks = read.action == "seek";
  if (seeks != request.contains("frame")) {
    throw CompositionError(kWhere + (seeks ? ": seek needs a \"frame\""
                                           : ": \"frame\" goes with the action \"seek\""));
  }
  if (seeks) {
    const double frame = numberAt(request, "frame", kWhere);
    // Whole numbers up to 2^53, which a double holds exactly.
    if (!(frame >= 0.0 && frame <= 9007199254740992.0 && std::floor(frame) == frame)) {
      throw CompositionError(kWhere + ": \"frame\" must be a whole number from 0");
    }
    read.frame = static_cast<std::uint64_t>(frame);
  }
  return read;
}

}  // namespace cvcomp
