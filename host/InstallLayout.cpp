#include "InstallLayout.hpp"

#include <dlfcn.h>

#include <cstdlib>
#include <string>

namespace cvcomp {

std::filesystem::path hostLibraryFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&hostLibraryFolder), &info) == 0 || !info.dli_fname) {
    return {};
  }
  std::error_code error;
  const std::filesystem::path library =
      std::filesystem::canonical(std::filesystem::path(info.dli_fname), error);
  return error ? std::filesystem::path(info.dli_fname).parent_path() : library.parent_path();
}

std::filesystem::path pluginModulePath() {
  if (const char* path = std::getenv("CVCOMP_PLUGIN"); path && *path) return path;
  return hostLibraryFolder() / "cvcomp_opencv.so";
}

std::filesystem::path helperProgramPath(const std::string& name) {
  return hostLibraryFolder().parent_path() / "bin" / name;
}

}  // namespace cvcomp
