#pragma once

#include <filesystem>
#include <string>

#include "host/Composition.hpp"

namespace cvcomp {

// The file a Save As names: `requested`, relative to `folder` (the studio's working folder) or
// absolute, must name a .json file in the folder or below it, without "..", without a symbolic
// link that leads out of the folder, and not a file the composition reads (an input's path that
// resolves to it). Throws SaveError (refused) with the reason in one line.
std::filesystem::path saveAsTarget(const std::string& requested,
                                   const std::filesystem::path& folder,
                                   const Composition& composition);

}  // namespace cvcomp
