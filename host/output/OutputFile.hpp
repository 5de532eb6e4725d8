#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace cvcomp {

// An output that cannot be written: the file and why, as "out.avi: no space left on device".
class OutputError : public std::runtime_error {
 public:
  OutputError(std::string file, std::string reason)
      : std::runtime_error(file + ": " + reason),
        file_(std::move(file)),
        reason_(std::move(reason)) {}
  // The error for the system error `number`, in lower case as messages are written.
  static OutputError fromErrno(std::string file, int number);

  const std::string& file() const { return file_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string file_;
  std::string reason_;
};

// A file written with write(2), every write checked, so that a full disk or a failing device
// shows at the write that meets it rather than when the file is closed (a buffered stream would
// show it at its next flush, which for standard output may be the end of an endless run).
class OutputFile {
 public:
  // Creates or empties the file; "-" is standard output. Throws OutputError.
  explicit OutputFile(std::string name);
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  // Appends all of `bytes`, or throws OutputError. A file of our own is then cut back to what
  // it held before, so that it never ends in half a line or half a picture.
  void append(std::string_view bytes);
  // Closes the file; throws OutputError when the system reports a failed write only now.
  void close();
  // The name given, or "standard output".
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  int fd_ = -1;
  bool ownFile_ = false;
  bool regular_ = false;
  long long size_ = 0;
};

}  // namespace cvcomp
