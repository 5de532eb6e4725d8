#include "SaveFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace cvcomp {

namespace {

std::string failure(const std::filesystem::path& file, int error) {
  return file.string() + ": " + std::strerror(error);
}

// Writes all of `text` to `descriptor` and makes it durable before the rename shows it.
bool writeAll(int descriptor, const std::string& text) {
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t step = ::write(descriptor, text.data() + written, text.size() - written);
    if (step < 0 && errno == EINTR) continue;
    if (step <= 0) return false;
    written += static_cast<std::size_t>(step);
  }
  return ::fsync(descriptor) == 0;
}

}  // namespace

void saveWhole(const std::filesystem::path& target, const std::string& text) {
  std::error_code error;
  // A link is followed to the file it names, which the save replaces; the link stays.
  const std::filesystem::path real = std::filesystem::weakly_canonical(target, error);
  if (error) throw SaveError(target.string() + ": " + error.message(), false);
  struct stat existing {};
  const bool exists = ::stat(real.c_str(), &existing) == 0;
  if (!exists && errno != ENOENT) throw SaveError(failure(real, errno), false);
  if (exists && !S_ISREG(existing.st_mode)) {
    throw SaveError(real.string() + ": not a regular file; not saved", true);
  }
  // Without any write permission the file is read-only, even to a user the system lets write it.
  if (exists && ((existing.st_mode & 0222) == 0 || ::access(real.c_str(), W_OK) != 0)) {
    throw SaveError(real.string() + ": the file is read-only; not saved", true);
  }
  std::string hidden = ".";
  hidden += real.filename().string();
  hidden += ".XXXXXX";
  const std::string pattern = (real.parent_path() / hidden).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  // mkstemp creates the file with O_EXCL under a name no other file has, never through a link.
  const int descriptor = ::mkostemp(name.data(), O_CLOEXEC);
  if (descriptor < 0) throw SaveError(failure(real.parent_path(), errno), false);
  const std::string temporary(name.data());
  // A file that is gone since the studio started comes back readable by all, as it was made.
  const mode_t mode = exists ? existing.st_mode & 07777 : 0644;
  const bool written = ::fchmod(descriptor, mode) == 0 && writeAll(descriptor, text);
  const int writeError = errno;
  if (::close(descriptor) != 0 || !written) {
    ::unlink(temporary.c_str());
    throw SaveError(failure(real, written ? errno : writeError), false);
  }
  if (::rename(temporary.c_str(), real.c_str()) != 0) {
    const int renameError = errno;
    ::unlink(temporary.c_str());
    throw SaveError(failure(real, renameError), false);
  }
}

}  // namespace cvcomp
