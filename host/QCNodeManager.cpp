#include "QCNodeManager.hpp"

namespace cvcomp {

const std::string* PatchClass::portDescription(std::string_view port) const {
  for (const PortDescription& candidate : portDescriptions) {
    if (candidate.port == port) return &candidate.text;
  }
  return nullptr;
}

bool QCNodeManager::isNodeRegisteredWithName(std::string_view name) const {
  return nodeClass(name) != nullptr;
}

void QCNodeManager::registerNodeWithClass(PatchClass patchClass) {
  if (isNodeRegisteredWithName(patchClass.name)) return;
  classes_.push_back(std::move(patchClass));
}

const PatchClass* QCNodeManager::nodeClass(std::string_view name) const {
  for (const PatchClass& candidate : classes_) {
    if (candidate.name == name) return &candidate;
  }
  return nullptr;
}

}  // namespace cvcomp
