#pragma once

#include <string>

#include "JsonOutput.hpp"
#include "QCNodeManager.hpp"

namespace cvcomp {

// Every registered patch class with its category, one-line description, traits and ports (name,
// direction, kind and the name of what it carries, default value of value inputs, attributes such
// as bounds, and the line that says what it is when its class gives one), in registration order.
OrderedJson patchCatalog(const QCNodeManager& manager);

// The catalogue as indented JSON text: what `cvcomp patches --json` prints.
std::string patchCatalogJson(const QCNodeManager& manager);

}  // namespace cvcomp
