#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace cvcomp {

// A save that did not happen; the message names the file. `refused` when the file may not be
// written (read-only, not a regular file), as against a failing write.
class SaveError : public std::runtime_error {
 public:
  SaveError(const std::string& message, bool isRefusal)
      : std::runtime_error(message), refused(isRefusal) {}
  bool refused;
};

// Replaces the file at `target` by `text` whole or not at all: the text goes to a fresh file of
// a unique name created next to the real file (a symbolic link's target), which is then renamed
// over it, with the mode the file had. A read-only file is refused. Saves running at once each
// write a file of their own, and the last renamed stands. Throws SaveError.
void saveWhole(const std::filesystem::path& target, const std::string& text);

}  // namespace cvcomp
