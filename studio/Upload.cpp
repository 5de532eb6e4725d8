#include "Upload.hpp"

#include <civetweb.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "StudioFiles.hpp"

namespace cvcomp {

namespace {

// Long enough for the largest upload over a slow network (0.9 MB/s), and still a bound.
constexpr std::chrono::minutes kUploadTime{10};

std::string systemError(int number) {
  std::string text = std::strerror(number);
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

// Writes all of `size` bytes; false, with errno, when the system does not.
bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

// The request's body into the open file `fd`: its refusal, or nothing.
std::optional<Upload> copyBody(mg_connection* connection, int fd, long long length,
                               const std::string& temporary) {
  const auto end = std::chrono::steady_clock::now() + kUploadTime;
  // On the heap: civetweb's threads have small stacks.
  std::vector<char> chunk(1 << 20);
  long long received = 0;
  int read = 0;
  while (received < length && (read = mg_read(connection, chunk.data(), chunk.size())) > 0) {
    if (!writeAll(fd, chunk.data(), static_cast<std::size_t>(read))) {
      return Upload{{},
                    errno == ENOSPC || errno == EDQUOT ? 507 : 500,
                    temporary + ": " + systemError(errno)};
    }
    received += read;
    if (std::chrono::steady_clock::now() > end) {
      return Upload{{}, 408, "the upload took longer than 10 minutes to arrive"};
    }
  }
  if (received < length) {
    return Upload{{},
                  400,
                  "the upload ended after " + std::to_string(received) + " of its " +
                      std::to_string(length) + " bytes"};
  }
  return std::nullopt;
}

}  // namespace

Upload receiveUpload(mg_connection* connection, const std::string& given) {
  const std::optional<std::string> name = safeFileName(given);
  if (!name) return {{}, 400, "the upload needs a file name: /api/upload?name=FILE"};
  const long long length = mg_get_request_info(connection)->content_length;
  if (length < 0) return {{}, 411, "the upload must say its length (Content-Length)"};
  if (length > kMaxUpload) {
    return {{},
            413,
            "the upload is larger than the " + std::to_string(kMaxUpload >> 20) +
                " MiB the studio takes"};
  }
  const std::filesystem::path folder = uploadsFolder();
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) return {{}, 500, folder.string() + ": " + error.message()};
  // A leading dot, which no safe name has.
  std::string temporary = (folder / ".upload-XXXXXX").string();
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return {{}, 500, temporary + ": " + systemError(errno)};
  // Readable as any other file the studio writes (mkstemp makes it the owner's only).
  ::fchmod(fd, 0644);
  std::optional<Upload> refusal = copyBody(connection, fd, length, temporary);
  if (::close(fd) != 0 && !refusal)
    refusal = Upload{{}, 500, temporary + ": " + systemError(errno)};
  if (refusal) {
    ::unlink(temporary.c_str());
    return *refusal;
  }
  // A link never replaces a file: an upload of the same name at the same time takes the next.
  int failure = 0;
  const std::string placed = freeName(*name, [&](const std::string& candidate) {
    if (::link(temporary.c_str(), (folder / candidate).c_str()) == 0) return false;
    failure = errno == EEXIST ? 0 : errno;
    return failure == 0;
  });
  ::unlink(temporary.c_str());
  if (failure != 0) return {{}, 500, (folder / placed).string() + ": " + systemError(failure)};
  return {folder / placed, 200, {}};
}

}  // namespace cvcomp
