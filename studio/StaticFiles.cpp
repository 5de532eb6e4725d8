#include "StaticFiles.hpp"

#include <cstdlib>
#include <map>

#include "host/InstallLayout.hpp"

namespace cvcomp {

std::filesystem::path studioWebFolder() {
  if (const char* folder = std::getenv("CVCOMP_STUDIO_WEB"); folder && *folder) return folder;
  const std::filesystem::path sourceTree = CVCOMP_STUDIO_SOURCE_WEB;
  std::error_code error;
  if (std::filesystem::is_directory(sourceTree, error)) return sourceTree;
  return hostLibraryFolder().parent_path() / "share" / "cvcomp" / "studio" / "web";
}

std::optional<std::filesystem::path> staticFile(const std::filesystem::path& root,
                                                std::string_view requestPath) {
  if (requestPath.find('\0') != std::string_view::npos || !requestPath.starts_with('/')) {
    return std::nullopt;
  }
  const std::filesystem::path relative =
      requestPath == "/" ? std::filesystem::path("index.html")
                         : std::filesystem::path(requestPath.substr(1)).lexically_normal();
  if (relative.empty() || relative.is_absolute() || *relative.begin() == "..") return std::nullopt;
  std::error_code error;
  const std::filesystem::path file = std::filesystem::canonical(root / relative, error);
  const std::filesystem::path folder = std::filesystem::canonical(root, error);
  if (error || !std::filesystem::is_regular_file(file, error)) return std::nullopt;
  // Symbolic links may lead out of the folder: the file itself must lie within it.
  const auto [rootEnd, fileAt] =
      std::mismatch(folder.begin(), folder.end(), file.begin(), file.end());
  if (rootEnd != folder.end()) return std::nullopt;
  return file;
}

std::string contentType(const std::filesystem::path& file) {
  static const std::map<std::string, std::string> types{{".html", "text/html; charset=utf-8"},
                                                        {".js", "text/javascript; charset=utf-8"},
                                                        {".mjs", "text/javascript; charset=utf-8"},
                                                        {".css", "text/css; charset=utf-8"},
                                                        {".json", "application/json"},
                                                        {".map", "application/json"},
                                                        {".svg", "image/svg+xml"},
                                                        {".png", "image/png"},
                                                        {".jpg", "image/jpeg"},
                                                        {".ico", "image/x-icon"},
                                                        {".woff2", "font/woff2"},
                                                        {".txt", "text/plain; charset=utf-8"}};
  const auto found = types.find(file.extension().string());
  return found == types.end() ? "application/octet-stream" : found->second;
}

}  // namespace cvcomp
