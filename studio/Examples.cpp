#include "Examples.hpp"

#include <algorithm>
#include <fstream>
#include <vector>

#include "host/InstallLayout.hpp"
#include "host/TextValues.hpp"

namespace cvcomp {

namespace {

std::vector<std::filesystem::path> exampleFiles(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (entry.path().extension() == ".json" && entry.is_regular_file(error)) {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The inputPath of the file's first ImageSource, absolute; null when it has none or cannot be
// read.
nlohmann::ordered_json exampleInput(const std::filesystem::path& file) {
  std::ifstream in(file);
  const auto document = nlohmann::ordered_json::parse(in, nullptr, false);
  if (!document.is_object() || !document.contains("patches")) return nullptr;
  for (const auto& [id, patch] : document["patches"].items()) {
    if (!patch.is_object() || patch.value("class", "") != "ImageSource") continue;
    const std::string input = patch.value("inputs", nlohmann::ordered_json::object())
                                  .value("inputPath", std::string("pattern:640x480"));
    const bool named = input.starts_with("pattern:") || input.starts_with("camera:");
    return named ? input : resolvedPath(input, file.parent_path()).lexically_normal().string();
  }
  return nullptr;
}

}  // namespace

std::filesystem::path examplesFolder() {
  const std::filesystem::path sourceTree = CVCOMP_STUDIO_SOURCE_EXAMPLES;
  std::error_code error;
  if (std::filesystem::is_directory(sourceTree, error)) return sourceTree;
  return hostLibraryFolder().parent_path() / "share" / "cvcomp" / "examples";
}

nlohmann::ordered_json exampleList(const std::filesystem::path& folder) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const std::filesystem::path& file : exampleFiles(folder)) {
    list.push_back({{"name", file.filename().string()}, {"input", exampleInput(file)}});
  }
  return list;
}

std::optional<std::filesystem::path> exampleFile(const std::filesystem::path& folder,
                                                 const std::string& name) {
  for (const std::filesystem::path& file : exampleFiles(folder)) {
    if (file.filename() == name) return file;
  }
  return std::nullopt;
}

}  // namespace cvcomp
