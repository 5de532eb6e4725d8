#include "RunChecks.hpp"

#include "host/QCValuePorts.hpp"
#include "host/TextValues.hpp"
#include "host/output/FrameWriter.hpp"

namespace cvcomp {

namespace {

namespace fs = std::filesystem;

bool pathExists(const fs::path& path) {
  std::error_code error;
  return fs::exists(path, error);
}

bool isFolder(const fs::path& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

fs::path folderOf(const fs::path& file) {
  return file.has_parent_path() ? file.parent_path() : fs::path(".");
}

// Whether two paths name the same file or folder: by identity when both exist, by their
// canonical form (symbolic links and ".." resolved) when neither does.
bool sameFile(const fs::path& a, const fs::path& b) {
  std::error_code error;
  if (pathExists(a) != pathExists(b)) return false;
  if (pathExists(a)) return fs::equivalent(a, b, error);
  const fs::path canonicalA = fs::weakly_canonical(fs::absolute(a, error), error);
  if (error) return false;
  const fs::path canonicalB = fs::weakly_canonical(fs::absolute(b, error), error);
  return !error && canonicalA == canonicalB;
}

// An output as the run writes it: one file, or the numbered pictures of a video name.
struct Output {
  std::string name;
  bool numbered;

  // Whether writing this output replaces the file `file`.
  bool replaces(const fs::path& file) const {
    if (!numbered) return sameFile(name, file);
    return sameFile(folderOf(name), folderOf(file)) &&
           isNumberedFrameName(name, file.filename().string());
  }
};

}  // namespace

std::vector<fs::path> inputFilesOf(const Composition& composition,
                                   const fs::path& compositionFile) {
  std::vector<fs::path> inputs{compositionFile};
  for (const Composition::Patch& entry : composition.patches()) {
    const std::optional<fs::path>& file = entry.instance->options().compositionURL;
    const fs::path base = file ? file->parent_path() : fs::path();
    for (const QCPort* port : entry.instance->ports()) {
      if (!port->isInput() || port->kind() != PortKind::String) continue;
      const std::string& text = static_cast<const QCStringPort*>(port)->stringValue();
      if (text.empty()) continue;
      const fs::path path = resolvedPath(text, base);
      if (pathExists(path)) inputs.push_back(path);
    }
  }
  return inputs;
}

std::optional<std::string> outputClash(const RunOptions& options,
                                       const std::vector<fs::path>& inputs) {
  std::vector<Output> outputs;
  if (options.json && *options.json != "-") outputs.push_back({*options.json, false});
  if (options.video)
    outputs.push_back({*options.video, options.video->find('%') != std::string::npos});
  for (const Output& output : outputs) {
    for (const fs::path& input : inputs) {
      if (isFolder(input) && sameFile(folderOf(output.name), input)) {
        return output.name + ": would be written into " + input.string() +
               ", a folder that is read";
      }
      if (output.replaces(input)) {
        return output.name + ": would overwrite " + input.string() + ", which the run reads";
      }
    }
  }
  if (outputs.size() == 2 && outputs[1].replaces(outputs[0].name)) {
    return outputs[0].name + ": named for both the JSON lines and the video";
  }
  return std::nullopt;
}

}  // namespace cvcomp
