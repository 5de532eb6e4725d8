#include "OutputFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

namespace cvcomp {

OutputError OutputError::fromErrno(std::string file, int number) {
  std::string reason = std::strerror(number);
  if (!reason.empty()) {
    reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
  }
  return OutputError(std::move(file), std::move(reason));
}

OutputFile::OutputFile(std::string name) : name_(std::move(name)) {
  if (name_ == "-") {
    name_ = "standard output";
    fd_ = STDOUT_FILENO;
  } else {
    fd_ = ::open(name_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) throw OutputError::fromErrno(name_, errno);
    ownFile_ = true;
  }
  struct stat status {};
  regular_ = ::fstat(fd_, &status) == 0 && S_ISREG(status.st_mode);
}

OutputFile::~OutputFile() {
  if (ownFile_ && fd_ >= 0) ::close(fd_);
}

void OutputFile::append(std::string_view bytes) {
  const long long before = size_;
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      const int number = written < 0 ? errno : ENOSPC;
      if (ownFile_ && regular_ && ::ftruncate(fd_, before) == 0) {
        ::lseek(fd_, before, SEEK_SET);
        size_ = before;
      }
      throw OutputError::fromErrno(name_, number);
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
    size_ += written;
  }
}

void OutputFile::close() {
  if (!ownFile_ || fd_ < 0) return;
  const int result = ::close(fd_);
  fd_ = -1;
  if (result != 0 && errno != EINTR) throw OutputError::fromErrno(name_, errno);
}

}  // namespace cvcomp
