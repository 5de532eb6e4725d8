#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Composition.hpp"

namespace cvcomp {

// One change to a composition's structure or values, as a running host applies it between frames.
struct CompositionEdit {
  enum class Kind { Add, Remove, Connect, Disconnect, Set, Publish, Unpublish, Move };
  Kind kind;
  std::string target;    // the patch id (add, remove, move), the output (connect) or the port
  std::string argument;  // the class (add), the input (connect)
  // Where an add, a connect or a publish goes: before this patch, the connection into this input
  // or this published port; at the end when empty.
  std::string before{};
  nlohmann::ordered_json value{};                   // the value (set)
  std::optional<Composition::Position> position{};  // where the patch goes (move); none: nowhere

  static CompositionEdit add(std::string id, std::string className, std::string before = {}) {
    return {Kind::Add, std::move(id), std::move(className), std::move(before)};
  }
  static CompositionEdit remove(std::string id) { return {Kind::Remove, std::move(id), {}}; }
  static CompositionEdit connect(std::string from, std::string to, std::string before = {}) {
    return {Kind::Connect, std::move(from), std::move(to), std::move(before)};
  }
  static CompositionEdit disconnect(std::string to) {
    return {Kind::Disconnect, std::move(to), {}};
  }
  // The value as a composition file gives it; a string port also takes any other JSON value, as
  // its text. Null takes a structure port's structure away.
  static CompositionEdit set(std::string port, nlohmann::ordered_json value) {
    return {Kind::Set, std::move(port), {}, {}, std::move(value)};
  }
  static CompositionEdit publish(std::string port, std::string before = {}) {
    return {Kind::Publish, std::move(port), {}, std::move(before)};
  }
  static CompositionEdit unpublish(std::string port) {
    return {Kind::Unpublish, std::move(port), {}};
  }
  // Where an editor shows the patch; no position takes it away.
  static CompositionEdit move(std::string id, std::optional<Composition::Position> position) {
    return {Kind::Move, std::move(id), {}, {}, {}, position};
  }
  static CompositionEdit move(std::string id, double x, double y) {
    return move(std::move(id), Composition::Position{x, y});
  }
};

// Applies the edits in order to the composition itself, all or none: a refusal throws
// CompositionError with the message that checking a file with the same content gives
// ("name: ..."), after undoing the edits before it, so that the composition is as it was. New
// patches get `file` as their composition file. Gives the inverse batch: the edits that, applied
// next, bring the composition back to what it was (its patches with their values, connections,
// published ports and positions, each in its place).
std::vector<CompositionEdit> applyEdits(Composition& composition,
                                        const std::vector<CompositionEdit>& edits,
                                        const std::string& name,
                                        const std::optional<std::filesystem::path>& file);

}  // namespace cvcomp
