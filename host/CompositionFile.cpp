#include "CompositionFile.hpp"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "JsonReading.hpp"
#include "QCObjectPorts.hpp"
#include "QCValuePorts.hpp"
#include "Quoted.hpp"

namespace cvcomp {

namespace {

using Json = nlohmann::ordered_json;

// Far more than any composition holds; a larger file (or a device that never ends) is refused
// before it fills the memory.
constexpr std::size_t kMaxFileSize = std::size_t{16} << 20;

std::shared_ptr<QCStructure> structureFrom(const Json& object, const std::string& where) {
  auto structure = std::make_shared<QCStructure>();
  for (const auto& [key, value] : object.items()) {
    const std::string member = where + "." + key;
    if (value.is_object()) {
      structure->addMember(structureFrom(value, member), key);
    } else if (value.is_boolean()) {
      structure->addMember(value.get<bool>(), key);
    } else if (value.is_number()) {
      const double number = value.get<double>();
      if (!std::isfinite(number)) throw CompositionError(member + ": the number is not finite");
      structure->addMember(QCNumber::withDouble(number), key);
    } else if (value.is_string()) {
      structure->addMember(value.get<std::string>(), key);
    } else {
      throw CompositionError(member +
                             ": a structure member must be a number, boolean, string "
                             "or object, not " +
                             std::string(value.type_name()));
    }
  }
  return structure;
}

PortValue indexFrom(const Json& value, const std::string& where) {
  if (value.is_number_unsigned()) return static_cast<std::size_t>(value.get<std::uint64_t>());
  const double number = value.is_number() ? value.get<double>() : -1.0;
  if (!value.is_number() || !std::isfinite(number) || number < 0.0 ||
      number != std::floor(number)) {
    throw CompositionError(where + ": an index port takes a whole number from 0 up, not " +
                           value.dump());
  }
  if (number >= static_cast<double>(std::numeric_limits<std::size_t>::max())) {
    throw CompositionError(where + ": " + value.dump() + " is too large for an index");
  }
  return static_cast<std::size_t>(number);
}

// "a number port", "an image port": a port of the kind, as messages name it.
std::string portOfKind(PortKind kind) {
  const std::string_view name = portKindName(kind);
  return (name.find_first_of("aeiou") == 0 ? "an " : "a ") + std::string(name) + " port";
}

}  // namespace

PortValue inputValue(const QCPort& port, const Json& value, const std::string& where) {
  const std::string aPort = portOfKind(port.kind());
  auto refuse = [&]() -> PortValue {
    throw CompositionError(where + ": " + aPort + " cannot take " + std::string(value.type_name()) +
                           " " + value.dump());
  };
  switch (port.kind()) {
    case PortKind::Index:
      return indexFrom(value, where);
    case PortKind::Number:
    case PortKind::Boolean:
      if (value.is_boolean()) return value.get<bool>();
      if (!value.is_number()) return refuse();
      if (!std::isfinite(value.get<double>())) {
        throw CompositionError(where + ": the number is not finite");
      }
      return value.get<double>();
    case PortKind::String:
      if (!value.is_string()) return refuse();
      return value.get<std::string>();
    case PortKind::Structure:
      if (!value.is_object()) return refuse();
      return structureFrom(value, where);
    case PortKind::Image:
    case PortKind::Object:
    case PortKind::Virtual:
      throw CompositionError(where + ": " + aPort + " takes no initial value");
  }
  return refuse();
}

namespace {

void setInput(Composition& composition, const std::string& path, const Json& value) {
  QCPort& port = composition.port(path);
  if (!port.isInput()) throw CompositionError(path + " is an output, not an input");
  port.setGenericValue(inputValue(port, value, path));
}

// Where an editor shows the patches, {"id": {"x": .., "y": ..}}; evaluation ignores it.
void readLayout(Composition& composition, const Json& layout) {
  if (!layout.is_object()) {
    throw CompositionError("\"layout\" must be an object of positions by patch id");
  }
  for (const auto& [id, entry] : layout.items()) {
    const std::string where = "the layout of " + inQuotes(id);
    if (!composition.patch(id)) throw CompositionError("\"layout\": unknown patch " + inQuotes(id));
    if (!entry.is_object())
      throw CompositionError(where + " must be an object with \"x\" and \"y\"");
    expectOnly(entry, {"x", "y"}, where);
    composition.setPosition(
        id, Composition::Position{numberAt(entry, "x", where), numberAt(entry, "y", where)});
  }
}

void build(Composition& composition, const Json& document,
           const std::optional<std::filesystem::path>& origin) {
  if (!document.is_object()) throw CompositionError("the file must hold a JSON object");
  expectOnly(document, {"patches", "connections", "publish", "layout"}, "the composition");
  const auto patches = document.find("patches");
  if (patches == document.end() || !patches->is_object()) {
    throw CompositionError("\"patches\" must be an object of patches by id");
  }

  for (const auto& [id, entry] : patches->items()) {
    const std::string where = "patch " + inQuotes(id);
    if (!entry.is_object()) throw CompositionError(where + " must be an object");
    expectOnly(entry, {"class", "inputs"}, where);
    composition.addPatch(id, stringAt(entry, "class", where), PatchOptions{origin});
    const auto inputs = entry.find("inputs");
    if (inputs == entry.end()) continue;
    if (!inputs->is_object()) throw CompositionError(where + ": \"inputs\" must be an object");
    for (const auto& [name, value] : inputs->items()) setInput(composition, id + "." + name, value);
  }

  const auto connections = document.find("connections");
  if (connections != document.end()) {
    if (!connections->is_array()) throw CompositionError("\"connections\" must be an array");
    // All at once, so that loading costs the same whatever the order of the list; a malformed
    // entry is reported after any refusal of the connections before it.
    std::vector<std::pair<std::string, std::string>> pairs;
    try {
      for (const Json& connection : *connections) {
        if (!connection.is_object()) {
          throw CompositionError("a connection must be an object with \"from\" and \"to\"");
        }
        const std::string where = "connection " + connection.dump();
        expectOnly(connection, {"from", "to"}, where);
        pairs.emplace_back(stringAt(connection, "from", where), stringAt(connection, "to", where));
      }
    } catch (const CompositionError&) {
      composition.connectAll(pairs);
      throw;
    }
    composition.connectAll(pairs);
  }

  const auto published = document.find("publish");
  if (published != document.end()) {
    if (!published->is_array()) throw CompositionError("\"publish\" must be an array of ports");
    for (const Json& path : *published) {
      if (!path.is_string()) throw CompositionError("\"publish\" holds " + path.dump());
      composition.publish(path.get<std::string>());
    }
  }

  const auto layout = document.find("layout");
  if (layout != document.end()) readLayout(composition, *layout);
}

std::unique_ptr<Composition> load(std::string_view text, const std::string& name,
                                  const std::optional<std::filesystem::path>& url,
                                  const QCNodeManager& manager) {
  try {
    auto composition = std::make_unique<Composition>(manager);
    build(*composition, parseJsonText(text), url);
    return composition;
  } catch (const CompositionError& error) {
    throw CompositionError(name + ": " + error.what());
  }
}

std::optional<Json> fileValue(const QCStructure& structure) {
  Json object = Json::object();
  for (const auto& [key, member] : structure.members()) {
    std::optional<Json> value = std::visit(
        [](const auto& held) -> std::optional<Json> {
          using T = std::decay_t<decltype(held)>;
          if constexpr (std::is_same_v<T, QCNumber>) {
            if (!std::isfinite(held.value)) return std::nullopt;
            return held.value;
          } else if constexpr (std::is_same_v<T, std::shared_ptr<QCStructure>>) {
            return held ? fileValue(*held) : std::nullopt;
          } else {
            return Json(held);
          }
        },
        member);
    if (value) object[key] = std::move(*value);
  }
  return object;
}

}  // namespace

std::optional<Json> fileValue(const PortValue& value) {
  if (const auto* number = std::get_if<double>(&value)) {
    return std::isfinite(*number) ? std::optional<Json>(*number) : std::nullopt;
  }
  if (const auto* index = std::get_if<std::size_t>(&value)) return Json(*index);
  if (const auto* flag = std::get_if<bool>(&value)) return Json(*flag);
  if (const auto* text = std::get_if<std::string>(&value)) return Json(*text);
  if (const auto* structure = std::get_if<std::shared_ptr<QCStructure>>(&value)) {
    return *structure ? fileValue(**structure) : std::nullopt;
  }
  return std::nullopt;
}

namespace {

// Adds a member of a key the object does not hold yet, at its end, without looking for the key
// (which an ordered object does member by member).
void appendMember(Json& object, const std::string& key, Json value) {
  Json::object_t& members = object.get_ref<Json::object_t&>();
  members.Container::emplace_back(key, std::move(value));
}

}  // namespace

std::string compositionDocument(const Composition& composition) {
  Json patches = Json::object();
  for (const Composition::Patch& entry : composition.patches()) {
    Json patch = {{"class", entry.patchClass->name}};
    const std::unique_ptr<QCPatch> fresh = entry.patchClass->create(entry.id);
    Json inputs = Json::object();
    for (const QCPort* port : entry.instance->ports()) {
      if (!port->isInput() || composition.sourceOf(*port)) continue;
      std::optional<Json> value = fileValue(port->genericValue());
      const QCPort* untouched = fresh ? fresh->port(port->name()) : nullptr;
      if (value && (!untouched || fileValue(untouched->genericValue()) != value)) {
        inputs[port->name()] = std::move(*value);
      }
    }
    if (!inputs.empty()) patch["inputs"] = std::move(inputs);
    appendMember(patches, entry.id, std::move(patch));
  }
  Json connections = Json::array();
  for (const Composition::Connection& connection : composition.connections()) {
    connections.push_back({{"from", composition.pathOf(*connection.from)},
                           {"to", composition.pathOf(*connection.to)}});
  }
  Json published = Json::array();
  for (const QCPort* port : composition.published()) published.push_back(composition.pathOf(*port));
  Json document{{"patches", std::move(patches)},
                {"connections", std::move(connections)},
                {"publish", std::move(published)}};
  Json layout = Json::object();
  for (const Composition::Patch& entry : composition.patches()) {
    if (const Composition::Position* at = composition.position(entry.id)) {
      appendMember(layout, entry.id, {{"x", at->x}, {"y", at->y}});
    }
  }
  if (!layout.empty()) document["layout"] = std::move(layout);
  return document.dump(2);
}

std::unique_ptr<Composition> loadCompositionText(std::string_view text,
                                                 const std::filesystem::path& origin,
                                                 const QCNodeManager& manager) {
  return load(text, origin.string(), origin, manager);
}

std::unique_ptr<Composition> loadCompositionText(std::string_view text, const std::string& name,
                                                 const std::optional<std::filesystem::path>& file,
                                                 const QCNodeManager& manager) {
  return load(text, name, file, manager);
}

Json settingValue(const Composition& composition, std::string_view path, std::string_view text) {
  Json value =
      Json::accept(text.begin(), text.end()) ? parseJsonText(text) : Json(std::string(text));
  // A string port takes the text itself, also when it happens to read as JSON ("42").
  const std::size_t dot = path.find('.');
  const QCPatch* owner =
      dot == std::string_view::npos ? nullptr : composition.patch(path.substr(0, dot));
  const QCPort* port = owner ? owner->port(path.substr(dot + 1)) : nullptr;
  if (port && port->kind() == PortKind::String && !value.is_string()) return std::string(text);
  return value;
}

void setInputFromText(Composition& composition, std::string_view path, std::string_view text) {
  setInput(composition, std::string(path), settingValue(composition, path, text));
}

std::unique_ptr<Composition> loadCompositionFile(const std::filesystem::path& file,
                                                 const QCNodeManager& manager) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(file, error);
  if (std::filesystem::is_directory(status)) {
    throw CompositionError(file.string() + ": is a directory, not a composition file");
  }
  // Reading a FIFO would wait for a writer for ever, and a device may never end.
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    throw CompositionError(
        file.string() + ": not a regular file (a FIFO, socket or device), not a composition file");
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) throw CompositionError(file.string() + ": cannot be opened for reading");
  std::string text;
  std::vector<char> chunk(std::size_t{1} << 16);
  while (text.size() <= kMaxFileSize &&
         (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0)) {
    text.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
  }
  // A failed read sets badbit here (an end of file sets only eofbit and failbit).
  if (in.bad()) throw CompositionError(file.string() + ": cannot be read");
  if (text.size() > kMaxFileSize) {
    throw CompositionError(file.string() + ": larger than " + std::to_string(kMaxFileSize >> 20) +
                           " MiB, not a composition file");
  }
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
    throw CompositionError(file.string() + ": the file is empty");
  }
  const std::filesystem::path absolute = std::filesystem::absolute(file, error);
  return load(text, file.string(), error ? file : absolute, manager);
}

}  // namespace cvcomp
