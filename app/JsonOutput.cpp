#include "JsonOutput.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace cvcomp {

OrderedJson jsonNumber(const QCNumber& number) {
  if (!std::isfinite(number.value)) return nullptr;
  if (!number.single) return number.value;
  // The shortest decimal text of the float, read as a double, prints back as that same text.
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text - 1, static_cast<float>(number.value));
  *result.ptr = '\0';
  return std::strtod(text, nullptr);
}

OrderedJson jsonStructure(const QCStructure& structure) {
  OrderedJson object = OrderedJson::object();
  // A structure's keys are unique, so members are appended without the ordered object's linear
  // key search, which would make a structure of n members cost n² comparisons.
  auto& members = object.get_ref<OrderedJson::object_t&>();
  members.reserve(structure.count());
  for (const auto& [key, member] : structure.members()) {
    std::visit(
        [&, &key = key](const auto& value) {
          using T = std::decay_t<decltype(value)>;
          if constexpr (std::is_same_v<T, QCNumber>) {
            members.emplace_back(key, jsonNumber(value));
          } else if constexpr (std::is_same_v<T, std::shared_ptr<QCStructure>>) {
            members.emplace_back(key, value ? jsonStructure(*value) : OrderedJson(nullptr));
          } else {
            members.emplace_back(key, value);
          }
        },
        member);
  }
  return object;
}

OrderedJson jsonValue(const PortValue& value) {
  if (const auto* number = std::get_if<double>(&value))
    return jsonNumber(QCNumber::withDouble(*number));
  if (const auto* index = std::get_if<std::size_t>(&value)) return *index;
  if (const auto* flag = std::get_if<bool>(&value)) return *flag;
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  if (const auto* structure = std::get_if<std::shared_ptr<QCStructure>>(&value)) {
    if (*structure) return jsonStructure(**structure);
  }
  return nullptr;
}

bool writesAsJson(PortKind kind) {
  return kind != PortKind::Image && kind != PortKind::Object;
}

std::string frameLine(std::uint64_t frame, double time,
                      const std::vector<std::pair<std::string, const QCPort*>>& outputs) {
  OrderedJson line = OrderedJson::object();
  line["frame"] = frame;
  line["time"] = time;
  for (const auto& [name, port] : outputs) line[name] = jsonValue(port->genericValue());
  return line.dump(-1, ' ', false, OrderedJson::error_handler_t::replace);
}

}  // namespace cvcomp
