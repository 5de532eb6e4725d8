#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "QCPort.hpp"
#include "QCStructure.hpp"

namespace cvcomp {

using OrderedJson = nlohmann::ordered_json;

// Appends a number in the shortest form that reads back to the same value in its own precision;
// integral values keep a ".0", non-finite numbers are written as null.
void appendJsonNumber(std::string& out, const QCNumber& number);
// Appends a port value as JSON text: structures as objects with their members in order, nested
// structures as nested objects, nil as null. Images and OpenCV objects are not written.
void appendJsonValue(std::string& out, const PortValue& value);
// A port value as a JSON document, for building larger documents.
OrderedJson jsonValue(const PortValue& value);
// Whether a port of this kind goes into the frame lines.
bool writesAsJson(PortKind kind);

// One line per frame: {"frame":N,"time":T,"id.port":value,...}, without the newline.
std::string frameLine(std::uint64_t frame, double time,
                      const std::vector<std::pair<std::string, const QCPort*>>& outputs);

}  // namespace cvcomp
