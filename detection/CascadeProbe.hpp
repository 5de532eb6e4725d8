#pragma once

#include <filesystem>

namespace cvcomp {

// What reading a cascade file in a separate process came to.
enum class CascadeProbe {
  Loads,       // OpenCV reads a usable cascade from it
  HoldsNone,   // OpenCV reads it and finds no usable cascade, or refuses it
  Crashed,     // OpenCV's reader ended the process on it
  TimedOut,    // reading it took longer than the limit
  NotChecked,  // no process could be started to read it
};

// OpenCV's file reader is not hardened against damaged files: some make it crash or run for
// ever. A file is therefore read once by the probe program (cvcomp_cascade_probe), which may die
// without harm, before it is read in this process. The probe prints nothing.
CascadeProbe probeCascade(const std::filesystem::path& path, unsigned timeLimitSeconds);

}  // namespace cvcomp
