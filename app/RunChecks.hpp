#pragma once

// Checks of a run's command line, made before anything is opened for writing.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Commands.hpp"
#include "host/Composition.hpp"

namespace cvcomp {

// The files and folders a run reads: the composition file, and every text input of its patches
// that names an existing file or folder, absolute or relative to the composition file (the
// sources' frames, a detector's cascade). Called once --input and --set have been applied.
std::vector<std::filesystem::path> inputFilesOf(const Composition& composition,
                                                const std::filesystem::path& compositionFile);

// Why the run's --json and --video outputs cannot be written as named, as a one-line message
// naming the output; nullopt when they can. An output may not be one of `inputs`, nor lie in a
// folder among them, and the two outputs may not be the same file. Files are compared by
// identity (device and inode) when they exist and by their canonical paths when they do not; a
// numbered video name stands for every picture it would write.
std::optional<std::string> outputClash(const RunOptions& options,
                                       const std::vector<std::filesystem::path>& inputs);

}  // namespace cvcomp
