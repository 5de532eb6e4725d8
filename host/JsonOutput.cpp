#include "JsonOutput.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace cvcomp {

namespace {

// Text written as it stands: printable ASCII without quotes or backslashes.
bool isPlain(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char ch) { return ch >= 0x20 && ch < 0x7f && ch != '"' && ch != '\\'; });
}

// A quoted JSON string. Keys and labels are nearly always plain; anything else goes through the
// JSON library, which escapes it and replaces invalid UTF-8.
void appendString(std::string& out, std::string_view text) {
  if (!isPlain(text)) {
    out += OrderedJson(text).dump(-1, ' ', false, OrderedJson::error_handler_t::replace);
    return;
  }
  out += '"';
  out += text;
  out += '"';
}

template <typename Number>
void appendShortest(std::string& out, Number value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  const std::string_view written(text, static_cast<std::size_t>(result.ptr - text));
  out += written;
  if (written.find_first_of(".e") == std::string_view::npos) out += ".0";
}

void appendStructure(std::string& out, const QCStructure& structure) {
  out += '{';
  bool first = true;
  for (const auto& [key, member] : structure.members()) {
    if (!first) out += ',';
    first = false;
    appendString(out, key);
    out += ':';
    std::visit(
        [&](const auto& value) {
          using T = std::decay_t<decltype(value)>;
          if constexpr (std::is_same_v<T, QCNumber>) {
            appendJsonNumber(out, value);
          } else if constexpr (std::is_same_v<T, std::shared_ptr<QCStructure>>) {
            if (value) {
              appendStructure(out, *value);
            } else {
              out += "null";
            }
          } else if constexpr (std::is_same_v<T, bool>) {
            out += value ? "true" : "false";
          } else {
            appendString(out, value);
          }
        },
        member);
  }
  out += '}';
}

}  // namespace

void appendJsonNumber(std::string& out, const QCNumber& number) {
  if (!std::isfinite(number.value)) {
    out += "null";
  } else if (number.single) {
    appendShortest(out, static_cast<float>(number.value));
  } else {
    appendShortest(out, number.value);
  }
}

void appendJsonValue(std::string& out, const PortValue& value) {
  if (const auto* number = std::get_if<double>(&value)) {
    appendJsonNumber(out, QCNumber::withDouble(*number));
  } else if (const auto* index = std::get_if<std::size_t>(&value)) {
    out += std::to_string(*index);
  } else if (const auto* flag = std::get_if<bool>(&value)) {
    out += *flag ? "true" : "false";
  } else if (const auto* text = std::get_if<std::string>(&value)) {
    appendString(out, *text);
  } else if (const auto* structure = std::get_if<std::shared_ptr<QCStructure>>(&value);
             structure && *structure) {
    appendStructure(out, **structure);
  } else {
    out += "null";
  }
}

OrderedJson jsonValue(const PortValue& value) {
  std::string text;
  appendJsonValue(text, value);
  return OrderedJson::parse(text);
}

bool writesAsJson(PortKind kind) {
  return kind != PortKind::Image && kind != PortKind::Object;
}

std::string frameLine(std::uint64_t frame, double time,
                      const std::vector<std::pair<std::string, const QCPort*>>& outputs) {
  std::string line = "{\"frame\":";
  line += std::to_string(frame);
  line += ",\"time\":";
  appendJsonNumber(line, QCNumber::withDouble(time));
  for (const auto& [name, port] : outputs) {
    line += ',';
    appendString(line, name);
    line += ':';
    appendJsonValue(line, port->genericValue());
  }
  line += '}';
  return line;
}

}  // namespace cvcomp
