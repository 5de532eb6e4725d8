// Feeds arbitrary text to the composition loader: it must build a composition or refuse the text
// with a CompositionError, and never crash, hang or raise anything else.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "AllPatches.hpp"
#include "host/CompositionFile.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const auto composition =
        cvcomp::loadCompositionText(text, "/fuzz/composition.json", cvcomp::fuzz::allPatches());
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
