// Feeds arbitrary text to the edit reader, as the studio receives batches of edits, and applies
// what it reads to a small composition: the text must be refused with a CompositionError or
// applied, and never crash, hang or raise anything else.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "AllPatches.hpp"
#include "host/CompositionFile.hpp"
#include "host/EditJson.hpp"
#include "host/Engine.hpp"

namespace {

// A source, a conversion, a filter and an overlay, with connections and a published output for
// the edits to change.
constexpr std::string_view kComposition = R"({
  "patches": {
    "src": {"class": "ImageSource", "inputs": {"inputPath": "pattern:64x48"}},
    "toCV": {"class": "QCImageToOpenCVImage"},
    "gray": {"class": "OpenCVBGR2Gray"},
    "toHost": {"class": "OpenCVImageToQCImage"}
  },
  "connections": [
    {"from": "src.outputImage", "to": "toCV.inputImage"},
    {"from": "toCV.outputImage", "to": "gray.inputImage"},
    {"from": "gray.outputImage", "to": "toHost.inputImage"}
  ],
  "publish": ["toHost.outputImage"]
})";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const std::vector<cvcomp::CompositionEdit> edits = cvcomp::editsFromJson(text);
    cvcomp::Engine engine(
        cvcomp::loadCompositionText(kComposition, "/fuzz/edits.json", cvcomp::fuzz::allPatches()),
        cvcomp::fuzz::allPatches(), "/fuzz/edits.json", std::nullopt);
    engine.apply(edits);
  } catch (const cvcomp::CompositionError&) {
  }
  return 0;
}
