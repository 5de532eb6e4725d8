#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/QCNodeManager.hpp"

namespace cvcomp {

// Exit statuses of the cvcomp command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitInputError = 1;  // an input or output cannot be opened, read or written
inline constexpr int kExitUsageError = 2;  // bad arguments or a refused composition

struct RunOptions {
  std::string composition;
  std::optional<std::string> input;  // "@LIST": the line of LIST that `index` picks
  std::optional<std::uint64_t> index;
  std::optional<std::uint64_t> frames;
  std::vector<std::string> settings;  // "id.port=value"
  std::optional<std::string> json;    // file, or "-" for standard output
  std::optional<std::string> video;
  bool quiet = false;
};

struct StudioCommandOptions {
  std::optional<std::string> composition;
  std::optional<std::string> input;
  std::string host = "127.0.0.1";
  int port = 8765;
  std::optional<std::string> token;
  bool noOpen = false;
};

int runCommand(RunOptions options, const QCNodeManager& manager);
// Serves the studio until a stop signal, then ends the process with 128 + the signal.
int studioCommand(const StudioCommandOptions& options, const QCNodeManager& manager);
int checkCommand(const std::string& composition, const QCNodeManager& manager);
int patchesCommand(bool json, const QCNodeManager& manager);

}  // namespace cvcomp
