#include "PerInput.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace cvcomp {

namespace {

RunRefusal usage(std::string message) {
  return {kExitUsageError, std::move(message)};
}

std::optional<std::vector<std::string>> readLines(const std::string& file, std::string& problem) {
  std::ifstream in(file);
  if (!in) {
    problem = file + ": " + (errno == ENOENT ? "no such file" : std::strerror(errno));
    return std::nullopt;
  }
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (line.ends_with('\r')) line.pop_back();
    lines.push_back(std::move(line));
  }
  if (in.bad()) {
    problem = file + ": the list cannot be read";
    return std::nullopt;
  }
  return lines;
}

std::optional<RunRefusal> pickFromList(RunOptions& options) {
  const std::string list = options.input->substr(1);
  if (!options.index) return usage("--input @" + list + ": --index picks the line to run");
  std::string problem;
  const auto lines = readLines(list, problem);
  if (!lines) return RunRefusal{kExitInputError, problem};
  if (*options.index >= lines->size()) {
    return usage("--index " + std::to_string(*options.index) + ": " + list + " holds " +
                 std::to_string(lines->size()) + " lines, numbered from 0");
  }
  const std::string& entry = (*lines)[*options.index];
  if (entry.empty()) {
    return usage(list + ": line " + std::to_string(*options.index) + " is empty");
  }
  options.input = entry;
  return std::nullopt;
}

// The name the input goes by in output names: its last path element without the extension.
std::string stemOf(std::string input) {
  while (input.size() > 1 && input.ends_with('/')) input.pop_back();
  return std::filesystem::path(input).stem().string();
}

// Replaces the placeholders of `name`; refuses unknown ones and those the run cannot fill.
std::optional<RunRefusal> expand(std::string& name, const RunOptions& options) {
  std::string expanded;
  bool named = false;
  for (std::size_t at = 0; at < name.size(); ++at) {
    if (name[at] != '{') {
      expanded += name[at];
      continue;
    }
    const std::size_t close = name.find('}', at);
    const std::string placeholder =
        name.substr(at, close == std::string::npos ? close : close - at + 1);
    if (placeholder == "{stem}" && options.input) {
      expanded += stemOf(*options.input);
    } else if (placeholder == "{index}" && options.index) {
      expanded += std::to_string(*options.index);
    } else if (placeholder == "{stem}") {
      return usage(name + ": {stem} names the input, and the run is given none with --input");
    } else if (placeholder == "{index}") {
      return usage(name + ": {index} names the --index, and the run is given none");
    } else {
      return usage(name + ": \"" + placeholder + "\" is not {stem} or {index}");
    }
    named = true;
    at = close;
  }
  if (options.index && !named) {
    return usage(name + ": every run with --index would write this same file; name it with " +
                 "{stem} or {index}");
  }
  name = std::move(expanded);
  return std::nullopt;
}

}  // namespace

std::optional<RunRefusal> resolvePerInput(RunOptions& options) {
  if (options.input && options.input->starts_with('@')) {
    if (auto refusal = pickFromList(options)) return refusal;
  } else if (options.index) {
    return usage("--index: picks a line of an input list, given as --input @LIST");
  }
  if (options.json && *options.json != "-") {
    if (auto refusal = expand(*options.json, options)) return refusal;
  }
  if (options.video) {
    if (auto refusal = expand(*options.video, options)) return refusal;
  }
  return std::nullopt;
}

}  // namespace cvcomp
