// cvcomp_micro: Google Benchmark micro-benchmarks of the host's own costs.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/Composition.hpp"
#include "host/CompositionFile.hpp"
#include "host/Engine.hpp"
#include "host/JsonOutput.hpp"
#include "host/QCObjectPorts.hpp"
#include "host/QCPatch.hpp"
#include "host/QCValuePorts.hpp"
#include "host/patches/HostPatches.hpp"
#include "plugin/OpenCVPlugin.hpp"
#include "plugin/PointStructures.hpp"

namespace cvcomp {

namespace {

// The cheapest possible processor: its output is its input plus one.
class Increment final : public QCPatch {
 public:
  QC_PATCH_CLASS(Increment)
  explicit Increment(std::string identifier) : QCPatch(std::move(identifier)) {}
  bool execute(QCContext& /*context*/, double /*time*/, const QCStructure& /*arguments*/) override {
    outputNumber.setDoubleValue(inputNumber.doubleValue() + 1.0);
    return true;
  }
  QC_PORT(QCNumberPort, inputNumber);
  QC_PORT(QCNumberPort, outputNumber);
};

// A patch that only publishes point lists.
class Publisher final : public QCPatch {
 public:
  QC_PATCH_CLASS(Publisher)
  explicit Publisher(std::string identifier) : QCPatch(std::move(identifier)) {}
  bool execute(QCContext& /*context*/, double /*time*/, const QCStructure& /*arguments*/) override {
    return true;
  }
  QC_PORT(QCStructurePort, outputPoints);
};

const QCNodeManager& manager() {
  static const QCNodeManager registry = [] {
    QCNodeManager m;
    m.registerNodeWithClass(PatchClass::of<Increment>("bench", "Adds one to its input"));
    registerHostPatches(m);
    OpenCVPlugin::registerNodesWithManager(m);
    return m;
  }();
  return registry;
}

// Patch "p<index>" and its ports "p<index>.<port>", appended piece by piece: GCC 12 at -O3
// warns falsely (-Wrestrict) about operator+ on a literal and a temporary string.
std::string idOf(int index) {
  std::string id = "p";
  id += std::to_string(index);
  return id;
}
std::string pathOf(int index, const char* port) {
  std::string path = idOf(index);
  path += '.';
  path += port;
  return path;
}

// `count` Increment patches "p0", "p1", ... each connected to the one before, run by an engine.
struct Chain {
  explicit Chain(int count) {
    auto composition = std::make_unique<Composition>(manager());
    for (int i = 0; i < count; ++i) {
      composition->addPatch(idOf(i), "Increment");
      if (i > 0) composition->connect(pathOf(i - 1, "outputNumber"), pathOf(i, "inputNumber"));
    }
    engine = std::make_unique<Engine>(std::move(composition), manager(), "chain", std::nullopt);
    render();  // the first frame executes every patch
  }
  void render() { engine->step(); }
  QCNumberPort& input() {
    return static_cast<QCNumberPort&>(engine->composition().port(pathOf(0, "inputNumber")));
  }

  std::unique_ptr<Engine> engine;
};

// A point list as the tracker publishes it: "Point0000"... with X, Y, pX, pY in single precision.
std::shared_ptr<QCStructure> pointList(std::size_t count) {
  auto list = std::make_shared<QCStructure>();
  for (std::size_t i = 0; i < count; ++i) {
    const auto f = static_cast<float>(i) / static_cast<float>(count);
    auto point = std::make_shared<QCStructure>();
    point->addMember(QCNumber::withFloat(f), "X");
    point->addMember(QCNumber::withFloat(-f), "Y");
    point->addMember(QCNumber::withFloat(f * 0.5f), "pX");
    point->addMember(QCNumber::withFloat(-f * 0.5f), "pY");
    list->addMember(std::move(point), numberedKey("Point", i));
  }
  return list;
}

// A patch with unchanged inputs: the evaluator checks it and skips its execution.
void SkippedExecution(benchmark::State& state) {
  Chain chain(1);
  for (auto _ : state) chain.render();
}
BENCHMARK(SkippedExecution);

// A patch whose input changed: it executes.
void ChangedExecution(benchmark::State& state) {
  Chain chain(1);
  double value = 0.0;
  for (auto _ : state) {
    chain.input().setDoubleValue(++value);
    chain.render();
  }
}
BENCHMARK(ChangedExecution);

// Two patches: the first one's new output travels along the connection into the second, which
// executes as well.
void PropagationAlongAConnection(benchmark::State& state) {
  Chain chain(2);
  double value = 0.0;
  for (auto _ : state) {
    chain.input().setDoubleValue(++value);
    chain.render();
  }
}
BENCHMARK(PropagationAlongAConnection);

// Building a 1000-point list and publishing it on a structure port.
void Publish1000PointStructure(benchmark::State& state) {
  Publisher publisher("tracker");
  for (auto _ : state) publisher.outputPoints.setStructureValue(pointList(1000));
}
BENCHMARK(Publish1000PointStructure)->Unit(benchmark::kMicrosecond);

// One frame's JSON line with a 1000-point list.
void JsonLine1000Points(benchmark::State& state) {
  Publisher publisher("tracker");
  publisher.outputPoints.setStructureValue(pointList(1000));
  const std::vector<std::pair<std::string, const QCPort*>> outputs{
      {"tracker.outputPoints", &publisher.outputPoints}};
  std::uint64_t frame = 0;
  for (auto _ : state) benchmark::DoNotOptimize(frameLine(frame++, 0.0, outputs));
}
BENCHMARK(JsonLine1000Points)->Unit(benchmark::kMicrosecond);

// The engines a value edit is measured on: the face example and a chain of 300 patches, and the
// port the edit sets on each.
struct Edited {
  std::unique_ptr<Engine> engine;
  std::string port;
};
Edited edited(bool face) {
  if (face) {
    return {Engine::fromFile(CVCOMP_SOURCE_DIR "/examples/face-detect.json", manager()),
            "faces.inputScaleFactor"};
  }
  return {std::move(Chain(300).engine), pathOf(0, "inputNumber")};
}

// A value edit applied in place, as the engine applies it now.
void ValueEdit(benchmark::State& state) {
  Edited target = edited(state.range(0) == 0);
  double value = 1.1;
  for (auto _ : state) {
    value = value == 1.1 ? 1.2 : 1.1;
    target.engine->apply({CompositionEdit::set(target.port, value)});
  }
  state.SetLabel(std::to_string(target.engine->composition().patches().size()) + " patches");
}
BENCHMARK(ValueEdit)->Arg(0)->Arg(1);

// The same edit as the engine applied it before: the composition written as a document and loaded
// back as a trial, the value, given as text, set there and then on the composition itself.
void ValueEditByDocumentRoundTrip(benchmark::State& state) {
  Edited target = edited(state.range(0) == 0);
  Composition& composition = target.engine->composition();
  double value = 1.1;
  for (auto _ : state) {
    value = value == 1.1 ? 1.2 : 1.1;
    const std::string text = std::to_string(value);
    const std::unique_ptr<Composition> trial =
        loadCompositionText(compositionDocument(composition), "trial", std::nullopt, manager());
    setInputFromText(*trial, target.port, text);
    setInputFromText(composition, target.port, text);
  }
  state.SetLabel(std::to_string(composition.patches().size()) + " patches");
}
BENCHMARK(ValueEditByDocumentRoundTrip)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// One batch removing every patch of a chain of n, with its connections.
void RemoveBatch(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  std::vector<CompositionEdit> removes;
  for (int i = 0; i < count; ++i) removes.push_back(CompositionEdit::remove(idOf(i)));
  for (auto _ : state) {
    state.PauseTiming();
    Chain chain(count);
    state.ResumeTiming();
    chain.engine->apply(removes);
    state.PauseTiming();
    chain.engine.reset();
    state.ResumeTiming();
  }
  state.SetComplexityN(count);
}
BENCHMARK(RemoveBatch)
    ->RangeMultiplier(4)
    ->Range(1250, 20000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace cvcomp

BENCHMARK_MAIN();
