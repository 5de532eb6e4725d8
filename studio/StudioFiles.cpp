#include "StudioFiles.hpp"

#include "host/TextValues.hpp"

namespace cvcomp {

namespace {

constexpr std::size_t kMaxNameBytes = 200;

bool isContinuationByte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

std::filesystem::path uploadsFolder() {
  return std::filesystem::current_path() / "cvcomp-uploads";
}

std::filesystem::path recordingsFolder() {
  return std::filesystem::current_path() / "cvcomp-recordings";
}

std::optional<std::string> safeFileName(std::string_view given) {
  if (const std::size_t slash = given.find_last_of("/\\"); slash != std::string_view::npos) {
    given.remove_prefix(slash + 1);
  }
  std::string name;
  for (const char c : given) {
    const auto byte = static_cast<unsigned char>(c);
    name += byte < 0x20 || byte == 0x7F || c == ':' || c == '"' ? '_' : c;
  }
  // Every byte of a broken sequence, and on, becomes "_" until the rest is UTF-8.
  while (const std::optional<std::size_t> at = invalidUtf8At(name)) name[*at] = '_';
  const std::size_t first = name.find_first_not_of(". ");
  if (first == std::string::npos) return std::nullopt;
  name.erase(0, first);
  name.erase(name.find_last_not_of(' ') + 1);
  if (name.size() > kMaxNameBytes) {
    const std::size_t dot = name.rfind('.');
    const std::string extension =
        dot != std::string::npos && name.size() - dot <= 16 ? name.substr(dot) : "";
    std::size_t keep = kMaxNameBytes - extension.size();
    while (keep > 0 && isContinuationByte(name[keep])) --keep;
    name = name.substr(0, keep) + extension;
  }
  return name;
}

std::string freeName(const std::string& name,
                     const std::function<bool(const std::string&)>& taken) {
  const std::filesystem::path path(name);
  const std::string stem = path.stem().string();
  const std::string extension = path.extension().string();
  std::string candidate = name;
  for (int number = 2; taken(candidate); ++number) {
    candidate = stem + "-" + std::to_string(number) + extension;
  }
  return candidate;
}

}  // namespace cvcomp
