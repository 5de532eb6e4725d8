#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "Comparison.hpp"
#include "Frames.hpp"
#include "MemoryFrames.hpp"
#include "host/CompositionFile.hpp"
#include "host/Engine.hpp"
#include "host/JsonOutput.hpp"
#include "host/QCObjectPorts.hpp"
#include "host/patches/HostPatches.hpp"
#include "plugin/ImageBuffer.hpp"
#include "plugin/OpenCVPlugin.hpp"

namespace cvcomp::bench {

namespace {

constexpr double kFramesPerSecond = 30.0;

const QCNodeManager& manager() {
  static const QCNodeManager registry = [] {
    QCNodeManager m;
    registerHostPatches(m);
    OpenCVPlugin::registerNodesWithManager(m);
    m.registerNodeWithClass(PatchClass::of<MemoryFrames>("bench", "Gives frames held in memory"));
    return m;
  }();
  return registry;
}

// The case's composition with its source replaced by frames held in memory, in an engine.
std::unique_ptr<Engine> loadInMemory(const Case& c, const std::vector<Bitmap>& frames) {
  std::ifstream file(c.composition);
  if (!file) throw std::runtime_error(c.composition + ": cannot be read");
  nlohmann::ordered_json json = nlohmann::ordered_json::parse(file);
  for (auto& [id, patch] : json["patches"].items()) {
    if (patch["class"] == "ImageSource") patch = {{"class", "MemoryFrames"}};
  }
  std::unique_ptr<Composition> composition =
      loadCompositionText(json.dump(), c.composition, manager());
  for (const auto& [path, value] : c.settings) setInputFromText(*composition, path, value);
  for (const Composition::Patch& entry : composition->patches()) {
    if (auto* source = dynamic_cast<MemoryFrames*>(entry.instance.get())) source->setFrames(frames);
  }
  return std::make_unique<Engine>(std::move(composition), manager(), c.composition, std::nullopt);
}

// The members of the published structures, as the JSON line writes them.
std::size_t structureMembers(const std::vector<std::pair<std::string, const QCPort*>>& outputs) {
  std::size_t members = 0;
  for (const auto& [name, port] : outputs) {
    const auto* structure = dynamic_cast<const QCStructurePort*>(port);
    if (structure && structure->structureValue()) members += structure->structureValue()->count();
  }
  return members;
}

struct Round {
  double compositionMs = 0.0;  // per frame
  double handMs = 0.0;         // per frame
  std::size_t steadyAllocations = 0;
  double jsonMs = 0.0;
  std::size_t jsonPoints = 0;
};

// A fresh composition and a fresh hand loop over all frames, taking turns frame by frame (on
// even frames the composition goes first, on odd ones the hand loop), so that both meet the same
// load of the machine and neither always finds the frame just read by the other. Frame 0 is left
// out of the per-frame times: it loads cascades and allocates the buffers later frames reuse.
Round runRound(const Case& c, const std::vector<Bitmap>& frames) {
  const std::unique_ptr<Engine> engine = loadInMemory(c, frames);
  const std::unique_ptr<HandLoop> hand = c.handLoop();
  std::vector<std::pair<std::string, const QCPort*>> jsonOutputs;
  for (const QCPort* port : engine->composition().published()) {
    if (writesAsJson(port->kind())) {
      jsonOutputs.emplace_back(engine->composition().pathOf(*port), port);
    }
  }
  Round round;
  std::uint64_t allocationsAfterWarmUp = 0;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const double time = static_cast<double>(i) / kFramesPerSecond;
    const double counted = i > 0 ? 1.0 : 0.0;
    auto evaluate = [&] {
      const Clock::time_point start = Clock::now();
      engine->step();
      round.compositionMs += counted * millisecondsSince(start);
    };
    auto byHand = [&] {
      const Clock::time_point start = Clock::now();
      hand->process(frames[i], i);
      round.handMs += counted * millisecondsSince(start);
    };
    if (i % 2 == 0) {
      evaluate();
      byHand();
    } else {
      byHand();
      evaluate();
    }
    if (i == 1) allocationsAfterWarmUp = ImageBuffer::allocationCount();
    if (c.timesJson) {
      const Clock::time_point start = Clock::now();
      const std::string line = frameLine(i, time, jsonOutputs);
      round.jsonMs += counted * millisecondsSince(start);
      round.jsonPoints = structureMembers(jsonOutputs);
    }
  }
  round.steadyAllocations = ImageBuffer::allocationCount() - allocationsAfterWarmUp;
  const double timed = static_cast<double>(frames.size() - 1);
  round.compositionMs /= timed;
  round.handMs /= timed;
  round.jsonMs /= timed;
  return round;
}

}  // namespace

Measurement compareInMemory(const Case& c, int rounds) {
  const std::vector<Bitmap> frames = decodeFrames(c.input, c.frames);
  if (frames.size() < 2) throw std::runtime_error(c.input + ": fewer than two frames");
  Measurement m;
  m.frames = frames.size();
  std::vector<double> json;
  // A first round warms caches and OpenCV's lazily built tables; it is not counted.
  runRound(c, frames);
  for (int r = 0; r < rounds; ++r) {
    const Round round = runRound(c, frames);
    m.compositionRounds.push_back(round.compositionMs);
    m.handRounds.push_back(round.handMs);
    m.steadyAllocations = std::max(m.steadyAllocations, round.steadyAllocations);
    json.push_back(round.jsonMs);
    m.jsonPoints = round.jsonPoints;
  }
  m.compositionMs = median(m.compositionRounds);
  m.handMs = median(m.handRounds);
  m.jsonMs = median(json);
  return m;
}

}  // namespace cvcomp::bench
