#include "EditJson.hpp"

#include <string>

#include "JsonReading.hpp"
#include "Quoted.hpp"

namespace cvcomp {

namespace {

using Json = nlohmann::ordered_json;

std::string optionalString(const Json& edit, std::string_view key, const std::string& where) {
  return edit.contains(key) ? stringAt(edit, key, where) : std::string();
}

void readEdit(const Json& edit, const std::string& where, std::vector<CompositionEdit>& edits) {
  if (!edit.is_object()) throw CompositionError(where + " must be an object with an \"op\"");
  const std::string op = stringAt(edit, "op", where);
  if (op == "add") {
    expectOnly(edit, {"op", "id", "class", "inputs", "before"}, where);
    const std::string id = stringAt(edit, "id", where);
    edits.push_back(CompositionEdit::add(id, stringAt(edit, "class", where),
                                         optionalString(edit, "before", where)));
    const auto inputs = edit.find("inputs");
    if (inputs == edit.end()) return;
    if (!inputs->is_object()) throw CompositionError(where + ": \"inputs\" must be an object");
    for (const auto& [name, value] : inputs->items()) {
      edits.push_back(CompositionEdit::set(id + "." + name, value));
    }
  } else if (op == "remove") {
    expectOnly(edit, {"op", "id"}, where);
    edits.push_back(CompositionEdit::remove(stringAt(edit, "id", where)));
  } else if (op == "connect") {
    expectOnly(edit, {"op", "from", "to", "before"}, where);
    edits.push_back(CompositionEdit::connect(stringAt(edit, "from", where),
                                             stringAt(edit, "to", where),
                                             optionalString(edit, "before", where)));
  } else if (op == "disconnect") {
    expectOnly(edit, {"op", "to"}, where);
    edits.push_back(CompositionEdit::disconnect(stringAt(edit, "to", where)));
  } else if (op == "set") {
    expectOnly(edit, {"op", "port", "value"}, where);
    const auto value = edit.find("value");
    if (value == edit.end()) throw CompositionError(where + ": \"value\" is missing");
    edits.push_back(CompositionEdit::set(stringAt(edit, "port", where), *value));
  } else if (op == "publish") {
    expectOnly(edit, {"op", "port", "before"}, where);
    edits.push_back(CompositionEdit::publish(stringAt(edit, "port", where),
                                             optionalString(edit, "before", where)));
  } else if (op == "unpublish") {
    expectOnly(edit, {"op", "port"}, where);
    edits.push_back(CompositionEdit::unpublish(stringAt(edit, "port", where)));
  } else if (op == "move") {
    expectOnly(edit, {"op", "id", "x", "y"}, where);
    const std::string id = stringAt(edit, "id", where);
    // Without coordinates, the patch is placed nowhere.
    if (!edit.contains("x") && !edit.contains("y")) {
      edits.push_back(CompositionEdit::move(id, std::nullopt));
    } else {
      edits.push_back(
          CompositionEdit::move(id, numberAt(edit, "x", where), numberAt(edit, "y", where)));
    }
  } else {
    throw CompositionError(where + ": unknown op " + inQuotes(op) +
                           " (add, remove, connect, disconnect, set, publish, unpublish, move)");
  }
}

Json editJson(const CompositionEdit& edit) {
  using Kind = CompositionEdit::Kind;
  Json json;
  switch (edit.kind) {
    case Kind::Add:
      json = {{"op", "add"}, {"id", edit.target}, {"class", edit.argument}};
      break;
    case Kind::Remove:
      json = {{"op", "remove"}, {"id", edit.target}};
      break;
    case Kind::Connect:
      json = {{"op", "connect"}, {"from", edit.target}, {"to", edit.argument}};
      break;
    case Kind::Disconnect:
      json = {{"op", "disconnect"}, {"to", edit.target}};
      break;
    case Kind::Set:
      json = {{"op", "set"}, {"port", edit.target}, {"value", edit.value}};
      break;
    case Kind::Publish:
      json = {{"op", "publish"}, {"port", edit.target}};
      break;
    case Kind::Unpublish:
      json = {{"op", "unpublish"}, {"port", edit.target}};
      break;
    case Kind::Move:
      json = {{"op", "move"}, {"id", edit.target}};
      if (edit.position) {
        json["x"] = edit.position->x;
        json["y"] = edit.position->y;
      }
      break;
  }
  if (!edit.before.empty()) json["before"] = edit.before;
  return json;
}

}  // namespace

nlohmann::ordered_json editsJson(const std::vector<CompositionEdit>& edits) {
  Json batch = Json::array();
  for (const CompositionEdit& edit : edits) batch.push_back(editJson(edit));
  return batch;
}

std::vector<CompositionEdit> editsFromJson(std::string_view text) {
  const Json batch = parseJsonText(text);
  std::vector<CompositionEdit> edits;
  if (!batch.is_array()) {
    readEdit(batch, "the edit", edits);
    return edits;
  }
  for (std::size_t i = 0; i < batch.size(); ++i) {
    readEdit(batch[i], "edit " + std::to_string(i + 1), edits);
  }
  return edits;
}

}  // namespace cvcomp
