#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace cvcomp::bench {

// What a whole run of a program cost, measured from outside it.
struct ProcessRun {
  double wallMs = 0.0;
  double cpuMs = 0.0;      // user and system time of all its threads
  long peakMemoryKiB = 0;  // largest resident set; never below what its parent held at the start
};

// Runs `arguments` (the program first) as a process of its own with its standard output into the
// file `output` and this process's environment followed by `setting` ("NAME=value", which take
// precedence), and waits for it. Throws std::runtime_error when it cannot start or does not end
// with status 0.
ProcessRun runProcess(const std::vector<std::string>& arguments, const std::string& output,
                      const std::vector<std::string>& setting = {});

// A folder of its own in the system's temporary folder, removed with what it holds.
class TemporaryFolder {
 public:
  TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  ~TemporaryFolder();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// This process's own largest resident set so far, in KiB.
long ownPeakMemoryKiB();

}  // namespace cvcomp::bench
