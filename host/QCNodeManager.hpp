#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "QCPatch.hpp"

namespace cvcomp {

struct PatchTraits {
  bool isSafe;
  int executionMode;
  bool allowsSubpatches;
  int timeMode;
};

// What one port of a patch class is and does, in one line.
struct PortDescription {
  std::string port;  // the port's name
  std::string text;
};

// A registered patch class: its name, its class traits and how to create an instance.
struct PatchClass {
  std::string name;
  PatchTraits traits;
  // Yields nullptr when the new patch cannot be created for this identifier.
  std::unique_ptr<QCPatch> (*create)(const std::string& identifier);
  std::string category;     // the group it is shown in: "bridges", "filters", ...
  std::string description;  // what it does, in one line
  // One line for each of its ports, in port order; a class registered without them has none.
  std::vector<PortDescription> portDescriptions;

  // The line that describes port `port`, or nullptr when the class gives none.
  const std::string* portDescription(std::string_view port) const;

  template <class T>
  static PatchClass of(std::string category, std::string description,
                       std::vector<PortDescription> portDescriptions = {}) {
    return {std::string(T::kClassName),
            {T::isSafe, T::executionMode, T::allowsSubpatches, T::timeMode},
            [](const std::string& identifier) -> std::unique_ptr<QCPatch> {
              if (!QCPatch::acceptsIdentifier(identifier)) return nullptr;
              return std::make_unique<T>(identifier);
            },
            std::move(category),
            std::move(description),
            std::move(portDescriptions)};
  }
};

// The host's registry of patch classes, in registration order.
class QCNodeManager {
 public:
  bool isNodeRegisteredWithName(std::string_view name) const;
  // A second class under a name already registered is ignored.
  void registerNodeWithClass(PatchClass patchClass);

  const PatchClass* nodeClass(std::string_view name) const;
  const std::vector<PatchClass>& nodeClasses() const { return classes_; }

 private:
  std::vector<PatchClass> classes_;
};

}  // namespace cvcomp
