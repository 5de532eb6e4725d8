#pragma once

// One input of many: the entry of an input list that an array index picks, and output names
// made from the input, so that runs over different inputs never write the same file.

#include <optional>
#include <string>

#include "Commands.hpp"

namespace cvcomp {

// Why a run's per-input options cannot be resolved: a one-line message and the exit status.
struct RunRefusal {
  int status;
  std::string message;
};

// Resolves `options` in place. `--input @LIST` with `--index K` becomes line K (from 0) of the
// file LIST, which holds one input per line; then {stem} (the input's file or folder name
// without its extension) and {index} (K) in the --json and --video names are replaced. With
// --index, every output file must be named by one of them.
std::optional<RunRefusal> resolvePerInput(RunOptions& options);

}  // namespace cvcomp
