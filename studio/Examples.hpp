#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace cvcomp {

// The folder of example compositions: the source tree's examples/ when it is there, otherwise
// share/cvcomp/examples of the installed tree.
std::filesystem::path examplesFolder();

// Every composition in the folder, by name, with the frames its ImageSource reads (a relative
// path made absolute next to the file; null without one):
// [{"name": "face-detect.json", "input": "/usr/share/.../Megamind.avi"}, ...].
nlohmann::ordered_json exampleList(const std::filesystem::path& folder);

// The example of that name in the folder; nothing for a name that is not in the list.
std::optional<std::filesystem::path> exampleFile(const std::filesystem::path& folder,
                                                 const std::string& name);

}  // namespace cvcomp
