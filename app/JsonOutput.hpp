#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/QCPort.hpp"
#include "host/QCStructure.hpp"

namespace cvcomp {

using OrderedJson = nlohmann::ordered_json;

// A number in the shortest form that reads back to the same value in its own precision.
OrderedJson jsonNumber(const QCNumber& number);
// A structure as a JSON object, members in order, nested structures as nested objects.
OrderedJson jsonStructure(const QCStructure& structure);
// A port value; nil becomes null. Images and OpenCV objects are not written.
OrderedJson jsonValue(const PortValue& value);
// Whether a port of this kind goes into the frame lines.
bool writesAsJson(PortKind kind);

// One line per frame: {"frame":N,"time":T,"id.port":value,...}, without the newline.
std::string frameLine(std::uint64_t frame, double time,
                      const std::vector<std::pair<std::string, const QCPort*>>& outputs);

}  // namespace cvcomp
