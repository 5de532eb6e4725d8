#include "EditJson.hpp"

#include <string>

#include "JsonReading.hpp"
#include "Quoted.hpp"

namespace cvcomp {

namespace {

using Json = nlohmann::ordered_json;

void readEdit(const Json& edit, const std::string& where, std::vector<CompositionEdit>& edits) {
  if (!edit.is_object()) throw CompositionError(where + " must be an object with an \"op\"");
  const std::string op = stringAt(edit, "op", where);
  if (op == "add") {
    expectOnly(edit, {"op", "id", "class", "inputs"}, where);
    const std::string id = stringAt(edit, "id", where);
    edits.push_back(CompositionEdit::add(id, stringAt(edit, "class", where)));
    const auto inputs = edit.find("inputs");
    if (inputs == edit.end()) return;
    if (!inputs->is_object()) throw CompositionError(where + ": \"inputs\" must be an object");
    for (const auto& [name, value] : inputs->items()) {
      edits.push_back(CompositionEdit::set(id + "." + name, value.dump()));
    }
  } else if (op == "remove") {
    expectOnly(edit, {"op", "id"}, where);
    edits.push_back(CompositionEdit::remove(stringAt(edit, "id", where)));
  } else if (op == "connect") {
    expectOnly(edit, {"op", "from", "to"}, where);
    edits.push_back(
        CompositionEdit::connect(stringAt(edit, "from", where), stringAt(edit, "to", where)));
  } else if (op == "disconnect") {
    expectOnly(edit, {"op", "to"}, where);
    edits.push_back(CompositionEdit::disconnect(stringAt(edit, "to", where)));
  } else if (op == "set") {
    expectOnly(edit, {"op", "port", "value"}, where);
    const auto value = edit.find("value");
    if (value == edit.end()) throw CompositionError(where + ": \"value\" is missing");
    edits.push_back(CompositionEdit::set(stringAt(edit, "port", where), value->dump()));
  } else if (op == "publish" || op == "unpublish") {
    expectOnly(edit, {"op", "port"}, where);
    const std::string port = stringAt(edit, "port", where);
    edits.push_back(op == "publish" ? CompositionEdit::publish(port)
                                    : CompositionEdit::unpublish(port));
  } else if (op == "move") {
    expectOnly(edit, {"op", "id", "x", "y"}, where);
    edits.push_back(CompositionEdit::move(stringAt(edit, "id", where), numberAt(edit, "x", where),
                                          numberAt(edit, "y", where)));
  } else {
    throw CompositionError(where + ": unknown op " + inQuotes(op) +
                           " (add, remove, connect, disconnect, set, publish, unpublish, move)");
  }
}

}  // namespace

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
