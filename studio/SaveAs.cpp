#include "SaveAs.hpp"

#include <algorithm>

#include "SaveFile.hpp"
#include "host/QCPatch.hpp"
#include "host/Quoted.hpp"

namespace cvcomp {

namespace {

bool inside(const std::filesystem::path& path, const std::filesystem::path& folder) {
  const auto [left, right] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
  return left == folder.end() && right != path.end();
}

bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}

// The patch input whose file `target` is, or nothing: every text input that names an existing
// file, resolved as the patch resolves it (next to its composition file, else in the folder).
std::string readerOf(const Composition& composition, const std::filesystem::path& target,
                     const std::filesystem::path& folder) {
  for (const Composition::Patch& entry : composition.patches()) {
    const auto& from = entry.instance->options().compositionURL;
    const std::filesystem::path base = from ? from->parent_path() : folder;
    for (const QCPort* port : entry.instance->ports()) {
      const PortValue value = port->genericValue();
      const auto* text = std::get_if<std::string>(&value);
      if (!port->isInput() || !text || text->empty()) continue;
      const std::filesystem::path named = *text;
      if (sameFile(named.is_absolute() ? named : base / named, target)) {
        return entry.id + "." + port->name();
      }
    }
  }
  return {};
}

}  // namespace

std::filesystem::path saveAsTarget(const std::string& requested,
                                   const std::filesystem::path& folder,
                                   const Composition& composition) {
  const auto refuse = [&](const std::string& why) {
    throw SaveError(inQuotes(requested) + ": " + why + "; not saved", true);
  };
  const std::filesystem::path given = requested;
  if (given.extension() != ".json" || given.stem().empty()) {
    refuse("a composition file's name ends in .json");
  }
  if (std::any_of(given.begin(), given.end(), [](const auto& part) { return part == ".."; })) {
    refuse("\"..\" may not appear; name a file in " + folder.string() + " or below it");
  }
  std::error_code error;
  const std::filesystem::path root = std::filesystem::weakly_canonical(folder, error);
  const std::filesystem::path whole = (folder / given).lexically_normal();
  if (error || !inside(whole, folder.lexically_normal())) {
    refuse("outside the studio's folder " + folder.string());
  }
  const std::filesystem::path real = std::filesystem::weakly_canonical(whole, error);
  if (error || !inside(real, root)) {
    refuse("a symbolic link leads out of the studio's folder " + folder.string());
  }
  if (const std::string reader = readerOf(composition, real, folder); !reader.empty()) {
    refuse("the composition reads this file (" + reader + ")");
  }
  return whole;
}

}  // namespace cvcomp
