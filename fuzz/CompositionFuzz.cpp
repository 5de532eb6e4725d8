// Feeds arbitrary text to the composition loader: it must build a composition or refuse the text
// with a CompositionError, and never crash, hang or raise anything else.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "host/CompositionFile.hpp"
#include "host/patches/HostPatches.hpp"
#include "plugin/OpenCVPlugin.hpp"

namespace {

const cvcomp::QCNodeManager& manager() {
  static const cvcomp::QCNodeManager registered = [] {
    cvcomp::QCNodeManager all;
    cvcomp::registerHostPatches(all);
    cvcomp::OpenCVPlugin::registerNodesWithManager(all);
    return all;
  }();
  return registered;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const auto composition = cvcomp::loadCompositionText(text, "/fuzz/composition.json", manager());
    // What a command line could add to an accepted composition: the text as one input's value.
    if (!composition->patches().empty()) {
      const auto& first = composition->patches().front();
      const auto* port = first.instance->ports().empty() ? nullptr : first.instance->ports()[0];
      if (port) cvcomp::setInputFromText(*composition, first.id + "." + port->name(), text);
    }
  } catch (const cvcomp::CompositionError&) {
  }
  return 0;
}
