#pragma once

#include <filesystem>
#include <string>

namespace cvcomp {

// Where the parts of cvcomp are, found from the host library's own file so that every program
// and module that links it (the cvcomp command, a Python module, a GStreamer plug-in) finds them
// alike, in the build tree and in an installed tree: the libraries in lib/, programs in bin/.
std::filesystem::path hostLibraryFolder();

// The OpenCV plug-in module: $CVCOMP_PLUGIN when set, otherwise lib/cvcomp_opencv.so.
std::filesystem::path pluginModulePath();

// A helper program of cvcomp's, in bin/.
std::filesystem::path helperProgramPath(const std::string& name);

}  // namespace cvcomp
