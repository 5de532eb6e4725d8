#pragma once

#include <filesystem>
#include <optional>
#include <string>

struct mg_connection;

namespace cvcomp {

// The largest upload the studio takes.
inline constexpr long long kMaxUpload = 512LL << 20;

// What came of an upload: the file it made, or the status and message of its refusal.
struct Upload {
  std::optional<std::filesystem::path> file;
  int status = 200;
  std::string message;
};

// Streams the request's body to a file of the uploads folder, under a safe form of `name` that
// no file there has yet: it is written under a temporary name of its own and only then linked
// under its name, so that no half upload is ever found there. Refuses a body without its length
// or larger than kMaxUpload (413) before reading it, and one that takes longer than the upload
// time to arrive.
Upload receiveUpload(mg_connection* connection, const std::string& name);

}  // namespace cvcomp
