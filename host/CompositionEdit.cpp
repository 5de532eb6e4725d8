#include "CompositionEdit.hpp"

#include <algorithm>

#include "CompositionFile.hpp"
#include "Quoted.hpp"

namespace cvcomp {

namespace {

using Edit = CompositionEdit;
using Json = nlohmann::ordered_json;

// Applies one edit; appends to `undo` the edits that take it back, to be applied last first.
class EditApplier {
 public:
  EditApplier(Composition& composition, const std::optional<std::filesystem::path>& file,
              std::vector<Edit>& undo)
      : composition_(composition), file_(file), undo_(undo) {}

  void apply(const Edit& edit) {
    switch (edit.kind) {
      case Edit::Kind::Add:
        composition_.addPatch(edit.target, edit.argument, PatchOptions{file_}, edit.before);
        undo_.push_back(Edit::remove(edit.target));
        return;
      case Edit::Kind::Remove:
        remove(edit.target);
        return;
      case Edit::Kind::Connect:
        composition_.connect(edit.target, edit.argument, edit.before);
        undo_.push_back(Edit::disconnect(edit.argument));
        return;
      case Edit::Kind::Disconnect:
        disconnect(edit.target);
        return;
      case Edit::Kind::Set:
        set(edit.target, edit.value);
        return;
      case Edit::Kind::Publish:
        composition_.publish(edit.target, edit.before);
        undo_.push_back(Edit::unpublish(edit.target));
        return;
      case Edit::Kind::Unpublish:
        unpublish(edit.target);
        return;
      case Edit::Kind::Move:
        move(edit.target, edit.position);
        return;
    }
  }

 private:
  void disconnect(const std::string& to) {
    const QCPort& input = composition_.port(to);
    const QCPort* output = composition_.sourceOf(input);
    if (!output) throw CompositionError(inQuotes(to) + " has no connection");
    Edit undo =
        Edit::connect(composition_.pathOf(*output), to, composition_.connectionAfter(input));
    composition_.disconnect(to);
    undo_.push_back(std::move(undo));
  }

  void unpublish(const std::string& path) {
    const QCPort& port = composition_.port(path);
    if (!composition_.isPublished(port))
      throw CompositionError(inQuotes(path) + " is not published");
    Edit undo = Edit::publish(path, composition_.publishedAfter(port));
    composition_.unpublish(path);
    undo_.push_back(std::move(undo));
  }

  void set(const std::string& path, const Json& value) {
    QCPort& port = composition_.port(path);
    if (!port.isInput()) throw CompositionError(path + " is an output, not an input");
    PortValue parsed;
    if (port.kind() == PortKind::Structure && value.is_null()) {
      parsed = std::shared_ptr<QCStructure>();
    } else if (port.kind() == PortKind::String && !value.is_string()) {
      parsed = inputValue(port, Json(value.dump()), path);
    } else {
      parsed = inputValue(port, value, path);
    }
    if (std::optional<Json> previous = fileValue(port.genericValue())) {
      undo_.push_back(Edit::set(path, std::move(*previous)));
    } else if (port.kind() == PortKind::Structure) {
      undo_.push_back(Edit::set(path, nullptr));
    }
    composition_.setInputValue(port, parsed);
  }

  void move(const std::string& id, const std::optional<Composition::Position>& position) {
    std::optional<Composition::Position> previous;
    if (const Composition::Position* at = composition_.position(id)) previous = *at;
    composition_.setPosition(id, position);
    undo_.push_back(Edit::move(id, previous));
  }

  // The patch goes with its connections and published ports, each taken away in its place
  // before the patch is. Its undo, applied last first, adds the patch again, gives its inputs
  // their values (those of connected inputs from before they were connected), places it, and
  // then publishes and connects again what was.
  void remove(const std::string& id) {
    const Composition::Patch* entry = composition_.entry(id);
    if (!entry) throw CompositionError("unknown patch " + inQuotes(id));
    const QCPatch* removed = entry->instance.get();
    for (const QCPort* input : composition_.connectedInputs(*removed)) {
      disconnect(composition_.pathOf(*input));
    }
    for (const QCPort* port : removed->ports()) {
      if (composition_.isPublished(*port)) unpublish(composition_.pathOf(*port));
    }
    if (const Composition::Position* at = composition_.position(id)) {
      undo_.push_back(Edit::move(id, *at));
    }
    for (auto port = removed->ports().rbegin(); port != removed->ports().rend(); ++port) {
      if (!(*port)->isInput() || !settable((*port)->kind())) continue;
      if (std::optional<Json> value = fileValue((*port)->genericValue())) {
        undo_.push_back(Edit::set(composition_.pathOf(**port), std::move(*value)));
      }
    }
    undo_.push_back(Edit::add(id, entry->patchClass->name, composition_.patchAfter(id)));
    composition_.removePatch(id);
  }

  static bool settable(PortKind kind) {
    return kind != PortKind::Image && kind != PortKind::Object && kind != PortKind::Virtual;
  }

  Composition& composition_;
  const std::optional<std::filesystem::path>& file_;
  std::vector<Edit>& undo_;
};

}  // namespace

std::vector<CompositionEdit> applyEdits(Composition& composition,
                                        const std::vector<CompositionEdit>& edits,
                                        const std::string& name,
                                        const std::optional<std::filesystem::path>& file) {
  std::vector<Edit> undo;
  EditApplier applier(composition, file, undo);
  try {
    composition.changeAll([&] {
      for (const Edit& edit : edits) applier.apply(edit);
    });
  } catch (const CompositionError& error) {
    const std::string message = error.what();
    throw CompositionError(message.starts_with(name + ": ") ? message : name + ": " + message);
  }
  std::reverse(undo.begin(), undo.end());
  return undo;
}

}  // namespace cvcomp
