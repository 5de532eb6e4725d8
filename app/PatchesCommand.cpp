#include <iostream>

#include "Commands.hpp"
#include "host/PatchCatalog.hpp"

namespace cvcomp {

namespace {

void printText(const OrderedJson& patchClass) {
  std::cout << patchClass["class"].get<std::string>() << "\n";
  for (const OrderedJson& port : patchClass["ports"]) {
    std::cout << "  " << port["direction"].get<std::string>() << " "
              << port["name"].get<std::string>() << " (" << port["kind"].get<std::string>();
    for (const auto& [key, value] : port.items()) {
      if (key != "name" && key != "direction" && key != "kind" && key != "description") {
        std::cout << ", " << key << " " << value.dump();
      }
    }
    std::cout << ")";
    if (port.contains("description")) std::cout << ": " << port["description"].get<std::string>();
    std::cout << "\n";
  }
}

}  // namespace

int patchesCommand(bool json, const QCNodeManager& manager) {
  if (json) {
    std::cout << patchCatalogJson(manager) << "\n";
  } else {
    for (const OrderedJson& patchClass : patchCatalog(manager)) printText(patchClass);
  }
  return kExitOk;
}

}  // namespace cvcomp
