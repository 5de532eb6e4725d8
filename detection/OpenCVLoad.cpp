#include "OpenCVLoad.hpp"

#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include <pwd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "CascadeProbe.hpp"
#include "CascadeVerdicts.hpp"
#include "host/Log.hpp"
#include "host/Quoted.hpp"
#include "host/TextValues.hpp"

namespace cvcomp {

namespace {

// The home folder of `user`, or of the current user when `user` is empty; none when unknown.
std::optional<std::string> homeFolder(const std::string& user) {
  if (user.empty()) {
    if (const char* home = std::getenv("HOME")) return home;
  }
  const passwd* entry = user.empty() ? getpwuid(getuid()) : getpwnam(user.c_str());
  if (!entry || !entry->pw_dir) return std::nullopt;
  return entry->pw_dir;
}

// Replaces a leading "~" or "~user" by that user's home folder; an unknown user leaves the text
// as it is.
std::string expandTilde(const std::string& text) {
  const std::size_t slash = text.find('/');
  const std::string user = text.substr(1, slash == std::string::npos ? slash : slash - 1);
  const std::optional<std::string> home = homeFolder(user);
  if (!home) return text;
  return *home + (slash == std::string::npos ? std::string() : text.substr(slash));
}

}  // namespace

std::optional<std::filesystem::path> OpenCVLoad::resolvePath(const std::string& text,
                                                             const PatchOptions& options) {
  if (text.empty()) return std::nullopt;
  std::filesystem::path path;
  if (text.front() == '~') {
    path = expandTilde(text);
  } else if (text.front() == '/') {
    path = text;
  } else if (options.compositionURL) {
    path = resolvedPath(text, options.compositionURL->parent_path());
  }
  if (path.empty()) return std::nullopt;
  return path;
}

namespace {

// Beyond this, reading a cascade file is taken to hang; the largest shipped cascades read in well
// under a second.
constexpr unsigned kReadTimeLimitSeconds = 10;

// Cascade files are XML documents. OpenCV's file storage also reads YAML and JSON, but its YAML
// reader can loop for ever on a damaged file, so what is not XML is not handed to it.
bool looksLikeXml(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  return first != std::string_view::npos && text[first] == '<';
}

// Larger files are not read whole to look up their verdict: they are probed every time.
constexpr std::uintmax_t kLargestRemembered = 64 << 20;

// Why the file at `path` is not handed to OpenCV's reader in this process, or nothing when it
// may be.
std::optional<std::string> refusal(const std::filesystem::path& path) {
  // The system's calls would take the NUL for the end of the path and open another file.
  if (path.native().find('\0') != std::string::npos) return "a path holds a NUL character";
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  // A path that cannot be resolved: a loop of links, a folder on the way that cannot be searched.
  if (status.type() == std::filesystem::file_type::none) return error.message();
  if (!std::filesystem::exists(status)) return "no such file";
  if (std::filesystem::is_directory(status)) return "a folder, not a cascade file";
  if (!std::filesystem::is_regular_file(status)) return "not a regular file";
  std::ifstream in(path, std::ios::binary);
  if (!in) return "cannot be read";
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  std::string content(error || size > kLargestRemembered ? 64 : size, '\0');
  in.read(content.data(), static_cast<std::streamsize>(content.size()));
  content.resize(static_cast<std::size_t>(in.gcount()));
  if (!looksLikeXml(content)) return "not an XML cascade file";
  const bool whole = content.size() == size && in.peek() == std::char_traits<char>::eof();
  if (whole && knownToLoad(path, content)) return std::nullopt;
  switch (probeCascade(path, kReadTimeLimitSeconds)) {
    case CascadeProbe::Loads:
      if (whole) rememberLoads(path, content);
      return std::nullopt;
    case CascadeProbe::HoldsNone:
      return "holds no cascade that OpenCV can use";
    case CascadeProbe::Crashed:
      return "OpenCV's cascade reader crashes on this file";
    case CascadeProbe::TimedOut:
      return "OpenCV's cascade reader did not finish this file within " +
             std::to_string(kReadTimeLimitSeconds) + " s";
    case CascadeProbe::NotChecked:
      break;
  }
  return "cannot be checked: no process could be started to read it";
}

}  // namespace

std::unique_ptr<cv::CascadeClassifier> OpenCVLoad::load(const std::filesystem::path& path) const {
  if (const std::optional<std::string> reason = refusal(path)) {
    logMessage(LogLevel::Warning, std::string(className()),
               withNulShown(path.string()) + ": " + *reason);
    return nullptr;
  }
  auto loaded = std::make_unique<cv::CascadeClassifier>();
  // OpenCV answers false for some unusable files and raises an error for others (empty,
  // truncated or not a file storage at all): both are a failed load.
  bool ok = false;
  guarded([&] { ok = loaded->load(path.string()); });
  if (!ok || loaded->empty()) return nullptr;
  return loaded;
}

bool OpenCVLoad::execute(QCContext& /*context*/, double /*time*/,
                         const QCStructure& /*arguments*/) {
  const std::optional<std::filesystem::path> path = resolvePath(inputPath.stringValue(), options());
  // The cascade held is freed first, so a failed load never leaves it on the output.
  cascade.reset();
  if (!path) {
    outputData.setCvObjectValue(nullptr);
    return true;
  }
  cascade = load(*path);
  outputData.setCvObjectValue(std::make_shared<OpenCVObject>(cascade.get()));
  return true;
}

cv::CascadeClassifier* cascadeValue(const OpenCVCascadePort& port) {
  const std::shared_ptr<OpenCVObject> box = port.cvObjectValue();
  return box ? static_cast<cv::CascadeClassifier*>(box->value()) : nullptr;
}

}  // namespace cvcomp
