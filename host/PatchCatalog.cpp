#include "PatchCatalog.hpp"

namespace cvcomp {

namespace {

OrderedJson describePort(const QCPort& port, const std::string* text) {
  OrderedJson description = OrderedJson::object();
  description["name"] = port.name();
  description["direction"] = port.isInput() ? "input" : "output";
  description["kind"] = std::string(portKindName(port.kind()));
  description["kindName"] = std::string(port.kindName());
  if (port.isInput() && writesAsJson(port.kind()))
    description["default"] = jsonValue(port.genericValue());
  for (const auto& [name, value] : port.attributes()) description[name] = jsonValue(value);
  if (text) description["description"] = *text;
  return description;
}

OrderedJson describeClass(const PatchClass& patchClass) {
  OrderedJson description = OrderedJson::object();
  description["class"] = patchClass.name;
  description["category"] = patchClass.category;
  description["description"] = patchClass.description;
  description["isSafe"] = patchClass.traits.isSafe;
  description["executionMode"] = patchClass.traits.executionMode;
  description["allowsSubpatches"] = patchClass.traits.allowsSubpatches;
  description["timeMode"] = patchClass.traits.timeMode;
  OrderedJson ports = OrderedJson::array();
  if (const std::unique_ptr<QCPatch> sample = patchClass.create("sample")) {
    for (const QCPort* port : sample->ports())
      ports.push_back(describePort(*port, patchClass.portDescription(port->name())));
  }
  description["ports"] = std::move(ports);
  return description;
}

}  // namespace

OrderedJson patchCatalog(const QCNodeManager& manager) {
  OrderedJson classes = OrderedJson::array();
  for (const PatchClass& patchClass : manager.nodeClasses()) {
    classes.push_back(describeClass(patchClass));
  }
  return classes;
}

std::string patchCatalogJson(const QCNodeManager& manager) {
  return patchCatalog(manager).dump(2);
}

}  // namespace cvcomp
