#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Composition.hpp"

namespace cvcomp {

// One change to a composition's structure or values, as a running host applies it between frames.
struct CompositionEdit {
  enum class Kind { Add, Remove, Connect, Disconnect, Set, Publish, Unpublish, Move };
  Kind kind;
  std::string target;    // the patch id (add, remove, move), the output (connect) or the port
  std::string argument;  // the class (add), the input (connect), the value as text (set)
  Composition::Position position{};  // where the patch goes (move)

  static CompositionEdit add(std::string id, std::string className) {
    return {Kind::Add, std::move(id), std::move(className), {}};
  }
  static CompositionEdit remove(std::string id) { return {Kind::Remove, std::move(id), {}, {}}; }
  static CompositionEdit connect(std::string from, std::string to) {
    return {Kind::Connect, std::move(from), std::move(to), {}};
  }
  static CompositionEdit disconnect(std::string to) {
    return {Kind::Disconnect, std::move(to), {}, {}};
  }
  // The value as a composition file or --set gives it: JSON, or else the text as a string.
  static CompositionEdit set(std::string port, std::string value) {
    return {Kind::Set, std::move(port), std::move(value), {}};
  }
  static CompositionEdit publish(std::string port) {
    return {Kind::Publish, std::move(port), {}, {}};
  }
  static CompositionEdit unpublish(std::string port) {
    return {Kind::Unpublish, std::move(port), {}, {}};
  }
  // Where an editor shows the patch.
  static CompositionEdit move(std::string id, double x, double y) {
    return {Kind::Move, std::move(id), {}, {x, y}};
  }
};

// Applies the edits in order, all or none: they are tried first on a copy of the composition's
// structure, and a refusal throws CompositionError with the message that checking a file with
// the same content gives ("name: ..."), leaving `composition` as it was. New patches get `file`
// as their composition file.
void applyEdits(Composition& composition, const std::vector<CompositionEdit>& edits,
                const QCNodeManager& manager, const std::string& name,
                const std::optional<std::filesystem::path>& file);

}  // namespace cvcomp
