#include <unistd.h>

#include <chrono>
#include <csignal>
#include <iostream>
#include <memory>
#include <optional>

#include "Commands.hpp"
#include "FrameWriter.hpp"
#include "JsonOutput.hpp"
#include "OutputFile.hpp"
#include "RunChecks.hpp"
#include "host/CompositionFile.hpp"
#include "host/QCObjectPorts.hpp"
#include "host/QCValuePorts.hpp"
#include "host/patches/ImageSource.hpp"

namespace cvcomp {

namespace {

volatile std::sig_atomic_t stopRequested = 0;
extern "C" void requestStop(int) {
  stopRequested = 1;
}

// Frames and frames per second on a terminal, refreshed twice a second.
class Progress {
 public:
  explicit Progress(bool shown) : shown_(shown) {}
  void frameDone(std::uint64_t frames) {
    if (!shown_) return;
    const auto now = Clock::now();
    if (now - lastShown_ < std::chrono::milliseconds(500)) return;
    lastShown_ = now;
    std::cerr << "\rcvcomp: " << frames << " frames, " << static_cast<int>(rate(frames))
              << " fps   " << std::flush;
  }
  void finish(std::uint64_t frames) {
    if (shown_) std::cerr << "\rcvcomp: " << frames << " frames, " << rate(frames) << " fps\n";
  }

 private:
  using Clock = std::chrono::steady_clock;
  double rate(std::uint64_t frames) const {
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    return seconds > 0.0 ? static_cast<double>(frames) / seconds : 0.0;
  }
  bool shown_;
  Clock::time_point start_ = Clock::now();
  Clock::time_point lastShown_ = start_;
};

int fail(int status, const std::string& message) {
  std::cerr << "cvcomp: " << message << "\n";
  return status;
}

std::vector<ImageSource*> sourcesOf(const Composition& composition) {
  std::vector<ImageSource*> sources;
  for (const Composition::Patch& entry : composition.patches()) {
    if (auto* source = dynamic_cast<ImageSource*>(entry.instance.get())) sources.push_back(source);
  }
  return sources;
}

// Applies --input and --set; returns an error message, empty when all went well.
std::string configure(Composition& composition, const RunOptions& options) {
  try {
    if (options.input) {
      const std::vector<ImageSource*> sources = sourcesOf(composition);
      if (sources.empty()) return "--input: the composition has no ImageSource";
      const std::string& input = *options.input;
      // Named sources and an empty text (which the source refuses) are passed on as they are.
      const bool named =
          input.empty() || input.starts_with("pattern:") || input.starts_with("camera:");
      const std::string location = named ? input : std::filesystem::absolute(input).string();
      for (ImageSource* source : sources) source->inputPath.setStringValue(location);
    }
    for (const std::string& setting : options.settings) {
      const std::size_t equals = setting.find('=');
      if (equals == std::string::npos) return "--set " + setting + ": expected ID.PORT=VALUE";
      const std::string path = setting.substr(0, equals);
      setInputFromText(composition, path, setting.substr(equals + 1));
      const QCPort& port = composition.port(path);
      if (port.kind() == PortKind::String &&
          static_cast<const QCStringPort&>(port).stringValue().find('\0') != std::string::npos) {
        return "--set " + setting + ": the text holds a NUL character";
      }
    }
  } catch (const CompositionError& error) {
    return error.what();
  }
  return {};
}

}  // namespace

int runCommand(const RunOptions& options, const QCNodeManager& manager) {
  std::unique_ptr<Composition> composition;
  try {
    composition = loadCompositionFile(options.composition, manager);
  } catch (const CompositionError& error) {
    return fail(kExitUsageError, error.what());
  }
  if (const std::string problem = configure(*composition, options); !problem.empty()) {
    return fail(kExitUsageError, problem);
  }

  std::vector<std::pair<std::string, const QCPort*>> jsonOutputs;
  const QCPort* videoOutput = nullptr;
  for (const QCPort* port : composition->published()) {
    if (writesAsJson(port->kind())) jsonOutputs.emplace_back(composition->pathOf(*port), port);
    if (port->kind() == PortKind::Image && !videoOutput) videoOutput = port;
  }
  if (options.video && !videoOutput) {
    return fail(kExitUsageError, "--video: the composition publishes no image output");
  }
  if (options.video) {
    if (const auto problem = videoNameProblem(*options.video)) {
      return fail(kExitUsageError, *options.video + ": " + *problem);
    }
  }
  if (const auto clash = outputClash(options, inputFilesOf(*composition, options.composition))) {
    return fail(kExitUsageError, *clash);
  }

  const std::vector<ImageSource*> sources = sourcesOf(*composition);
  for (ImageSource* source : sources) {
    if (!source->open()) return fail(kExitInputError, source->failure());
  }
  const double fps = sources.empty() ? 30.0 : sources.front()->framesPerSecond();

  std::optional<OutputFile> json;
  std::optional<FrameWriter> video;
  try {
    if (options.json) json.emplace(*options.json);
    if (options.video) video.emplace(*options.video, fps);
  } catch (const OutputError& error) {
    return fail(kExitInputError, error.what());
  }

  std::signal(SIGINT, requestStop);
  std::signal(SIGTERM, requestStop);
  QCContext context;
  Progress progress(!options.quiet && isatty(STDERR_FILENO));
  composition->start(context);
  int status = kExitOk;
  std::uint64_t frame = 0;
  while (!stopRequested && (!options.frames || frame < *options.frames)) {
    const double time = static_cast<double>(frame) / fps;
    composition->renderFrame(context, frame, time);
    bool ended = false;
    for (ImageSource* source : sources) {
      if (!source->failure().empty()) {
        status = fail(kExitInputError, source->failure());
        ended = true;
      } else if (source->finished()) {
        ended = true;
      }
    }
    if (ended) break;
    try {
      if (json) json->append(frameLine(frame, time, jsonOutputs) + '\n');
      if (video) {
        if (const auto& image = static_cast<const QCImagePort*>(videoOutput)->imageValue()) {
          video->write(*image, context.imageManager(), frame);
        }
      }
    } catch (const OutputError& error) {
      status = fail(kExitInputError, error.what());
      break;
    }
    ++frame;
    progress.frameDone(frame);
  }
  composition->stop(context);
  progress.finish(frame);
  try {
    if (video) video->close();
    if (json) json->close();
  } catch (const OutputError& error) {
    if (status == kExitOk) status = fail(kExitInputError, error.what());
  }
  return status;
}

int checkCommand(const std::string& file, const QCNodeManager& manager) {
  try {
    const auto composition = loadCompositionFile(file, manager);
    std::cout << file << ": " << composition->patches().size() << " patches, "
              << composition->connections().size() << " connections, "
              << composition->published().size() << " published outputs\n";
    return kExitOk;
  } catch (const CompositionError& error) {
    return fail(kExitUsageError, error.what());
  }
}

}  // namespace cvcomp
