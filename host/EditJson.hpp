#pragma once

#include <string_view>
#include <vector>

#include "CompositionEdit.hpp"

namespace cvcomp {

// Reads a batch of edits written as JSON, an array of edit objects (or one object alone):
//   {"op": "add", "id": "blur", "class": "OpenCVResize", "inputs": {"inputWidth": 320}}
//   {"op": "remove", "id": "blur"}
//   {"op": "connect", "from": "a.outputImage", "to": "b.inputImage"}
//   {"op": "disconnect", "to": "b.inputImage"}
//   {"op": "set", "port": "b.inputWidth", "value": 320}
//   {"op": "publish", "port": "b.outputImage"}, {"op": "unpublish", "port": "b.outputImage"}
//   {"op": "move", "id": "b", "x": 240, "y": 80}
// An add, a connect and a publish may say where they go ("before": the patch id, the input whose
// connection, the published port they go before), and a move without x and y places the patch
// nowhere. An add's inputs become set edits after it, and values are taken as a composition file
// gives them. Throws CompositionError naming the edit by its place in the batch ("edit 2: ...").
std::vector<CompositionEdit> editsFromJson(std::string_view text);

// The edits as editsFromJson reads them, an array of edit objects.
nlohmann::ordered_json editsJson(const std::vector<CompositionEdit>& edits);

}  // namespace cvcomp
