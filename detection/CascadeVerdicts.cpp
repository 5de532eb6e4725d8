#include "CascadeVerdicts.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/core/version.hpp>

namespace cvcomp {

namespace {

// When an entry is added to a folder holding more than this many, the entries of files that no
// longer exist (cascades written to temporary folders) are removed.
constexpr std::size_t kPruneAbove = 64;

std::optional<std::filesystem::path> cacheFolder() {
  std::filesystem::path base;
  if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache == '/') {
    base = cache;
  } else if (const char* home = std::getenv("HOME"); home && *home == '/') {
    base = std::filesystem::path(home) / ".cache";
  } else {
    return std::nullopt;
  }
  return base / "cvcomp" / "cascades";
}

std::filesystem::path absolutePath(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return error ? path : absolute;
}

// An entry is named by a hash of the file's absolute path.
std::filesystem::path entryPath(const std::filesystem::path& folder,
                                const std::filesystem::path& file) {
  char name[17];
  std::snprintf(name, sizeof name, "%016zx", std::hash<std::string>{}(file.native()));
  return folder / name;
}

// What the entry holds for this content: OpenCV's version, the size, the content's hash and the
// file's absolute path, on one line.
std::string entryText(const std::filesystem::path& file, std::string_view content) {
  return std::string(CV_VERSION) + ' ' + std::to_string(content.size()) + ' ' +
         std::to_string(std::hash<std::string_view>{}(content)) + ' ' + file.native() + '\n';
}

std::string readText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The cascade file an entry was written for: what follows the third space, without the newline.
std::filesystem::path fileOfEntry(const std::string& text) {
  std::size_t start = 0;
  for (int field = 0; field < 3; ++field) {
    const std::size_t space = text.find(' ', start);
    if (space == std::string::npos) return {};
    start = space + 1;
  }
  if (text.size() <= start || text.back() != '\n') return {};
  return text.substr(start, text.size() - start - 1);
}

void pruneEntriesOfMissingFiles(const std::filesystem::path& folder) {
  std::error_code error;
  std::vector<std::filesystem::path> entries;
  for (auto it = std::filesystem::directory_iterator(folder, error);
       !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    entries.push_back(it->path());
  }
  if (error || entries.size() <= kPruneAbove) return;
  for (const std::filesystem::path& entry : entries) {
    const std::filesystem::path file = fileOfEntry(readText(entry));
    if (file.empty() || !std::filesystem::exists(file, error)) {
      std::filesystem::remove(entry, error);
    }
  }
}

}  // namespace

bool knownToLoad(const std::filesystem::path& path, std::string_view content) {
  const std::optional<std::filesystem::path> folder = cacheFolder();
  if (!folder) return false;
  const std::filesystem::path file = absolutePath(path);
  return readText(entryPath(*folder, file)) == entryText(file, content);
}

// Written whole under a name of its own, then renamed: processes loading the same cascade at
// once never read half an entry.
void rememberLoads(const std::filesystem::path& path, std::string_view content) {
  const std::optional<std::filesystem::path> folder = cacheFolder();
  if (!folder) return;
  std::error_code error;
  std::filesystem::create_directories(*folder, error);
  if (error) return;
  pruneEntriesOfMissingFiles(*folder);
  const std::filesystem::path file = absolutePath(path);
  const std::filesystem::path entry = entryPath(*folder, file);
  const std::filesystem::path written = entry.native() + '.' + std::to_string(getpid());
  {
    std::ofstream out(written, std::ios::binary | std::ios::trunc);
    out << entryText(file, content);
    if (!out.flush()) {
      std::filesystem::remove(written, error);
      return;
    }
  }
  std::filesystem::rename(written, entry, error);
  if (error) std::filesystem::remove(written, error);
}

}  // namespace cvcomp
