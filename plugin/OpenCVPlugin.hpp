#pragma once

#include <vector>

#include "host/QCNodeManager.hpp"

namespace cvcomp {

// The plug-in's principal class: it is never instantiated, the host calls its one operation.
class OpenCVPlugin {
 public:
  OpenCVPlugin() = delete;

  // Makes OpenCV errors return to the failing call's caller, then registers the patch classes in
  // table order, skipping every class whose name the manager already knows.
  static void registerNodesWithManager(QCNodeManager& manager);

  // The registration table.
  static std::vector<PatchClass> patchClasses();
};

}  // namespace cvcomp
