// Compositions run by the engine: dependency order, connection rules, edits between frames from
// any thread, observers; and composition files with every kind of mistake they can hold.

#include <random>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "TestSupport.hpp"
#include "host/Composition.hpp"
#include "host/CompositionFile.hpp"
#include "host/EditJson.hpp"
#include "host/Engine.hpp"
#include "host/patches/FramePictures.hpp"
#include "host/patches/HostPatches.hpp"
#include "plugin/OpenCVPlugin.hpp"

namespace cvcomp {
namespace {

std::vector<std::string> executionLog;

// Adds one to its input; logs its lifecycle in a running composition and every execution. Fails
// while its input is negative.
struct Step final : QCPatch {
  QC_PATCH_CLASS(Step)
  using QCPatch::QCPatch;
  ~Step() override {
    if (enabled) executionLog.push_back(identifier() + ":destroy");
  }
  void enable(QCContext&) override {
    enabled = true;
    executionLog.push_back(identifier() + ":enable");
  }
  void disable(QCContext&) override { executionLog.push_back(identifier() + ":disable"); }
  bool execute(QCContext&, double, const QCStructure&) override {
    executionLog.push_back(identifier());
    outputValue.setDoubleValue(inputValue.doubleValue() + 1.0);
    return inputValue.doubleValue() >= 0.0;
  }
  QC_PORT(QCNumberPort, inputValue);
  QC_PORT(QCIndexPort, inputIndex);
  QC_PORT(QCNumberPort, outputValue);
  bool enabled = false;
};

class EngineTest : public testing::Test {
 protected:
  void SetUp() override {
    executionLog.clear();
    registerHostPatches(manager);
    OpenCVPlugin::registerNodesWithManager(manager);
    manager.registerNodeWithClass(
        PatchClass::of<Step>("tests", "Adds one to its input and logs every execution"));
    engine = std::make_unique<Engine>(std::make_unique<Composition>(manager), manager, "live.json",
                                      std::nullopt);
  }
  Composition& composition() { return engine->composition(); }
  double number(const std::string& path) {
    return static_cast<QCNumberPort&>(composition().port(path)).doubleValue();
  }
  QCNodeManager manager;
  std::unique_ptr<Engine> engine;
};

using Edit = CompositionEdit;

TEST_F(EngineTest, RunsInDependencyOrderOnlyWhatChangedAndStopsInOrder) {
  engine->apply({Edit::add("c", "Step"), Edit::add("b", "Step"), Edit::add("a", "Step"),
                 Edit::set("c.inputValue", 7.5), Edit::connect("a.outputValue", "b.inputValue"),
                 Edit::connect("b.outputValue", "c.inputValue")});
  ASSERT_TRUE(engine->step().produced());
  EXPECT_EQ(executionLog,
            (std::vector<std::string>{"a:enable", "b:enable", "c:enable", "a", "b", "c"}));
  EXPECT_EQ(number("c.outputValue"), 3.0);

  // Nothing changed: nothing runs, outputs stay.
  executionLog.clear();
  EXPECT_EQ(engine->run(3).frames, 3u);
  EXPECT_TRUE(executionLog.empty());
  EXPECT_EQ(composition().executions("a"), 1u);

  // A new value upstream runs what depends on it, and only that.
  engine->apply({Edit::set("b.inputIndex", 4)});
  engine->step();
  EXPECT_EQ(executionLog, (std::vector<std::string>{"b", "c"}));

  // Disconnecting gives the input its own value back.
  EXPECT_EQ(number("c.inputValue"), 2.0);
  engine->apply({Edit::disconnect("c.inputValue")});
  EXPECT_EQ(number("c.inputValue"), 7.5);
  EXPECT_EQ(composition().connections().size(), 1u);

  // Stopping disables every patch in the dependency order of now (c stands alone), then destroys
  // them, last added first.
  executionLog.clear();
  engine.reset();
  EXPECT_EQ(executionLog, (std::vector<std::string>{"c:disable", "a:disable", "b:disable",
                                                    "a:destroy", "b:destroy", "c:destroy"}));
}

TEST_F(EngineTest, APatchThatReportsFailureRunsAgainOnTheNextFrame) {
  engine->apply({Edit::add("a", "Step"), Edit::set("a.inputValue", -1)});
  EXPECT_EQ(engine->run(3).frames, 3u);
  EXPECT_EQ(composition().executions("a"), 3u);
  EXPECT_TRUE(composition().patches()[0].failedLastFrame);
  engine->apply({Edit::set("a.inputValue", 1)});
  EXPECT_EQ(engine->run(3).frames, 3u);
  EXPECT_EQ(composition().executions("a"), 4u);
  EXPECT_FALSE(composition().patches()[0].failedLastFrame);
}

// An edit or a batch is applied whole or not at all: a refusal anywhere in it leaves the
// composition, its patches and their values exactly as they were, with the message checking the
// same file gives.
TEST_F(EngineTest, ARefusedEditOrBatchLeavesTheCompositionAsItWas) {
  engine->apply({Edit::add("a", "Step"), Edit::add("b", "Step"), Edit::add("p", "Pulse"),
                 Edit::add("toCV", "QCImageToOpenCVImage"),
                 Edit::connect("a.outputValue", "b.inputIndex"), Edit::publish("b.outputValue"),
                 Edit::set("a.inputValue", 2)});
  engine->step();
  const std::string before = compositionDocument(composition());
  const auto connect = [](const std::string& from, const std::string& to) {
    return std::vector<Edit>{Edit::connect(from, to)};
  };
  const std::vector<std::pair<std::vector<Edit>, std::string>> refused{
      {connect("a.outputValue", "b.inputIndex"),
       "\"b.inputIndex\" already has a connection, from \"a.outputValue\""},
      {connect("b.outputValue", "a.inputValue"),
       "connecting \"b.outputValue\" to \"a.inputValue\" would make a cycle"},
      {connect("a.outputValue", "a.inputValue"),
       "connecting \"a.outputValue\" to \"a.inputValue\" would make a cycle"},
      {connect("a.outputValue", "toCV.inputImage"),
       "cannot connect \"a.outputValue\" (number) to \"toCV.inputImage\" (host picture): "
       "incompatible ports"},
      {connect("a.inputValue", "b.inputValue"), "\"a.inputValue\" is an input, not an output"},
      {connect("a.outputValue", "b.outputValue"), "\"b.outputValue\" is an output, not an input"},
      {connect("a.outputNothing", "b.inputValue"),
       "patch \"a\" (Step) has no port \"outputNothing\""},
      {{Edit::add("a", "Step")}, "duplicate patch id \"a\""},
      {{Edit::remove("b"), Edit::add("c", "Nope")}, "patch \"c\": unknown class \"Nope\""},
      {{Edit::unpublish("b.outputValue"), Edit::unpublish("b.outputValue")},
       "\"b.outputValue\" is not published"},
      {{Edit::set("a.inputValue", 5), Edit::set("a.inputIndex", -3)},
       "a.inputIndex: an index port takes a whole number from 0 up, not -3"},
      {{Edit::disconnect("b.inputIndex"), Edit::disconnect("b.inputIndex")},
       "\"b.inputIndex\" has no connection"},
      {{Edit::add("c", "Step"), Edit::connect("b.outputValue", "c.inputValue"),
        Edit::connect("c.outputValue", "a.inputValue")},
       "connecting \"c.outputValue\" to \"a.inputValue\" would make a cycle"},
      {{Edit::remove("zz")}, "unknown patch \"zz\""},
      {{Edit::move("zz", 0, 0)}, "unknown patch \"zz\""}};
  executionLog.clear();
  for (const auto& [edits, message] : refused) {
    EXPECT_EQ(test::refusal([&] { engine->apply(edits); }), "live.json: " + message);
    EXPECT_EQ(compositionDocument(composition()), before);
  }
  // Nothing was enabled, disabled or destroyed on the running composition.
  EXPECT_TRUE(executionLog.empty());
  EXPECT_EQ(composition().executions("a"), 1u);
}

// Edits written as JSON, as a remote editor sends them (StudioApi checks the document each kind
// gives); the layout they give travels with the document and leaves with its patch.
TEST_F(EngineTest, EditsReadFromJsonAndTheLayoutTravelsWithTheDocument) {
  engine->apply(editsFromJson(R"([
    {"op": "add", "id": "a", "class": "Step", "inputs": {"inputValue": 2.5, "inputIndex": 3}},
    {"op": "add", "id": "b", "class": "Step"},
    {"op": "connect", "from": "a.outputValue", "to": "b.inputValue"},
    {"op": "publish", "port": "b.outputValue"}, {"op": "move", "id": "b", "x": 10, "y": -20.5},
    {"op": "move", "id": "a", "x": 1, "y": 2}, {"op": "set", "port": "b.inputIndex", "value": 4}])"));
  const std::string document = compositionDocument(composition());
  EXPECT_EQ(compositionDocument(*loadCompositionText(document, "again.json", manager)), document);
  engine->apply(editsFromJson(R"({"op": "remove", "id": "a"})"));
  EXPECT_EQ(composition().position("a"), nullptr);
  EXPECT_EQ(composition().position("b")->y, -20.5);

  // Invalid JSON and a missing key are refused as in a composition file (CompositionFileTest).
  const std::vector<std::pair<std::string, std::string>> refused{
      {R"([{"op": "remove", "id": "b"}, 7])", "edit 2 must be an object with an \"op\""},
      {R"([{"op": "set", "port": "b.inputValue", "valu": 1}])", "edit 1: unknown key \"valu\""},
      {R"({"op": "wiggle"})",
       "the edit: unknown op \"wiggle\" (add, remove, connect, "
       "disconnect, set, publish, unpublish, move)"}};
  for (const auto& [text, message] : refused)
    EXPECT_EQ(test::refusal([&] { editsFromJson(text); }), message);
}

TEST_F(EngineTest, AddedPatchesAreEnabledAndRemovedOnesDisabledWithTheirConnections) {
  engine->apply({Edit::add("a", "Step"), Edit::add("b", "Step"),
                 Edit::connect("a.outputValue", "b.inputValue"), Edit::publish("b.outputValue")});
  engine->step();
  executionLog.clear();
  engine->apply(
      {Edit::add("c", "Step"), Edit::connect("b.outputValue", "c.inputValue"), Edit::remove("a")});
  EXPECT_EQ(executionLog, (std::vector<std::string>{"c:enable", "a:disable", "a:destroy"}));
  EXPECT_EQ(composition().connections().size(), 1u);
  // b's input, connected to a, has its own value back.
  EXPECT_EQ(number("b.inputValue"), 0.0);
  executionLog.clear();
  engine->step();
  EXPECT_EQ(executionLog, (std::vector<std::string>{"b", "c"}));
  EXPECT_EQ(number("c.outputValue"), 2.0);
  engine->apply({Edit::remove("b")});
  EXPECT_TRUE(composition().published().empty());
}

TEST_F(EngineTest, EditsFromAnotherThreadTakeEffectBetweenFramesInOrder) {
  engine->apply({Edit::add("a", "Step"), Edit::publish("a.outputValue")});
  std::vector<double> seen;
  engine->addObserver([&](const FrameResult&) { seen.push_back(number("a.outputValue")); });
  std::vector<std::string> answers;
  std::thread editor([&] {
    const auto setting = [&](nlohmann::ordered_json value) {
      try {
        engine->call([&](Engine& running) { running.apply({Edit::set("a.inputValue", value)}); })
            .get();
        answers.emplace_back();
      } catch (const CompositionError& error) {
        answers.emplace_back(error.what());
      }
    };
    for (int value = 1; value <= 50; ++value) setting(value);
    setting("text");
    engine->requestStop();
  });
  engine->run();
  editor.join();
  std::vector<std::string> expected(50, "");
  expected.push_back("live.json: a.inputValue: a number port cannot take string \"text\"");
  EXPECT_EQ(answers, expected);
  // The values arrive in the order sent, each whole, and the last one stays.
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(seen.back(), 51.0);
}

// `prefix` and a number, appended (GCC 12 warns falsely about operator+ on a literal and a
// temporary string).
std::string numbered(std::string prefix, std::size_t number) {
  prefix += std::to_string(number);
  return prefix;
}

// A random-ish edit of what the composition holds now: each kind, often refused.
std::vector<Edit> randomBatch(const Composition& composition, std::mt19937& random,
                              std::size_t& added) {
  const auto pick = [&](std::size_t count) {
    return std::uniform_int_distribution<std::size_t>(0, count - 1)(random);
  };
  const auto& patches = composition.patches();
  const auto anyPatch = [&] { return patches.empty() ? "none" : patches[pick(patches.size())].id; };
  const auto anyPort = [&](const char* name) { return anyPatch() + "." + name; };
  std::vector<Edit> batch;
  for (std::size_t edits = 1 + pick(3); edits-- > 0;) {
    switch (pick(9)) {
      case 0:
        batch.push_back(Edit::add(numbered("n", added++), pick(3) ? "Step" : "Pulse",
                                  pick(2) ? anyPatch() : ""));
        break;
      case 1:
        batch.push_back(Edit::remove(anyPatch()));
        break;
      case 2:
      case 3: {
        const bool before = pick(2) && !composition.connections().empty();
        const auto& connections = composition.connections();
        batch.push_back(Edit::connect(
            anyPort("outputValue"), anyPort(pick(2) ? "inputValue" : "inputIndex"),
            before ? composition.pathOf(*connections[pick(connections.size())].to) : ""));
        break;
      }
      case 4:
        if (!composition.connections().empty()) {
          const auto& connections = composition.connections();
          batch.push_back(
              Edit::disconnect(composition.pathOf(*connections[pick(connections.size())].to)));
        }
        break;
      case 5:
        batch.push_back(pick(2)
                            ? Edit::set(anyPort("inputValue"), 0.25 * static_cast<double>(pick(9)))
                            : Edit::set(anyPort("inputFrames"), numbered("1,", pick(9))));
        break;
      case 6: {
        const auto& published = composition.published();
        batch.push_back(Edit::publish(
            anyPort(pick(2) ? "outputValue" : "outputSignal"),
            published.empty() || pick(2) ? ""
                                         : composition.pathOf(*published[pick(published.size())])));
        break;
      }
      case 7:
        if (!composition.published().empty()) {
          const auto& published = composition.published();
          batch.push_back(Edit::unpublish(composition.pathOf(*published[pick(published.size())])));
        }
        break;
      default:
        batch.push_back(pick(3) ? Edit::move(anyPatch(), static_cast<double>(pick(99)), -1.5)
                                : Edit::move(anyPatch(), std::nullopt));
    }
  }
  return batch;
}

// Every applied batch makes a revision and can be read back with its inverse, which, sent as JSON
// and applied last batch first, gives back each earlier composition byte for byte: its patches in
// their order with their values, its connections, published ports and positions.
TEST_F(EngineTest, InverseBatchesAppliedLastFirstGiveBackEveryRevisionByteForByte) {
  engine->apply({Edit::add("a", "Step"), Edit::add("b", "Step"), Edit::add("p", "Pulse"),
                 Edit::connect("a.outputValue", "b.inputValue"), Edit::publish("b.outputValue"),
                 Edit::move("b", 3, 4), Edit::set("a.inputIndex", 2)});
  std::vector<std::uint64_t> told;
  engine->addEditObserver([&](const AppliedBatch& batch) { told.push_back(batch.revision); });
  std::map<std::uint64_t, std::string> documents{
      {engine->revision(), compositionDocument(composition())}};
  std::mt19937 random(26);
  std::size_t added = 0;
  for (int attempt = 0; attempt < 400; ++attempt) {
    try {
      engine->apply(randomBatch(composition(), random, added));
      documents[engine->revision()] = compositionDocument(composition());
      if (attempt % 50 == 0) engine->step();
    } catch (const CompositionError&) {
      ASSERT_EQ(compositionDocument(composition()), documents.rbegin()->second);
    }
  }
  const std::uint64_t last = engine->revision();
  ASSERT_GT(last, 150u);
  EXPECT_EQ(told.size(), last - 1);
  for (std::uint64_t revision = last; revision > 1; --revision) {
    const AppliedBatch* batch = engine->appliedBatch(revision);
    ASSERT_NE(batch, nullptr);
    engine->apply(editsFromJson(editsJson(batch->inverse).dump()));
    ASSERT_EQ(compositionDocument(composition()), documents.at(revision - 1)) << revision;
  }
  EXPECT_EQ(engine->revision(), 2 * last - 1);
}

// A batch costs its own size: one of 100,000 removes (and its inverse, as many adds and connects)
// would take hours at the square of it.
TEST_F(EngineTest, ABatchOfAHundredThousandRemovesAndItsInverseCostTheirSize) {
  constexpr std::size_t kPatches = 100'000;
  std::vector<Edit> build, removes;
  for (std::size_t i = 0; i < kPatches; ++i) {
    const std::string id = numbered("s", i);
    build.push_back(Edit::add(id, "Step"));
    if (i > 0)
      build.push_back(Edit::connect(numbered("s", i - 1) + ".outputValue", id + ".inputValue"));
    if (i % 100 == 0) build.push_back(Edit::publish(id + ".outputValue"));
    removes.push_back(Edit::remove(id));
  }
  engine->apply(build);
  const std::string before = compositionDocument(composition());
  const AppliedBatch& removed = engine->apply(removes);
  EXPECT_TRUE(composition().patches().empty() && composition().published().empty());
  engine->apply(std::vector<Edit>(removed.inverse));
  EXPECT_EQ(compositionDocument(composition()), before);
}

TEST_F(EngineTest, ObserversShareOneJsonLineAndSeeEveryPatchExecutedOrSkipped) {
  engine->apply({Edit::add("a", "Step"), Edit::add("b", "Step"), Edit::publish("b.outputValue"),
                 Edit::connect("a.outputValue", "b.inputIndex")});
  std::vector<const std::string*> lines;
  std::vector<bool> executed;
  for (int observer = 0; observer < 2; ++observer) {
    engine->addObserver([&](const FrameResult& frame) {
      lines.push_back(&frame.jsonLine());
      for (const auto& entry : frame.composition.patches())
        executed.push_back(entry.executedLastFrame);
    });
  }
  engine->run(2);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], lines[1]);
  // Both patches run on the first frame and neither on the second, as each observer sees.
  EXPECT_EQ(executed, (std::vector<bool>{true, true, true, true, false, false, false, false}));
}

// A frame handed over in memory comes back upright from host and OpenCV image ports. That frames
// in memory, as BGR or BGRA, give the lines reading their file gives is held by the Python
// module's test_process_gives_what_run_gives_on_the_same_clip.
TEST_F(EngineTest, AFrameInMemoryComesBackUprightFromHostAndOpenCVImagePorts) {
  const cv::Mat bgr = test::samplePicture("messi5.jpg");
  cv::Mat bgra;
  cv::cvtColor(bgr, bgra, cv::COLOR_BGR2BGRA);
  EXPECT_THROW(engine->process(std::make_shared<QCImage>(bitmapFromFrame(bgr))), CompositionError);
  EXPECT_THROW(bitmapFromFrame(cv::Mat(4, 4, CV_32FC1)), std::invalid_argument);
  engine->apply({Edit::add("source", "ImageSource"), Edit::add("toCV", "QCImageToOpenCVImage"),
                 Edit::connect("source.outputImage", "toCV.inputImage")});
  engine->process(std::make_shared<QCImage>(bitmapFromFrame(bgr)));
  for (const std::string port : {"source.outputImage", "toCV.outputImage"}) {
    const auto picture = portPicture(composition().port(port));
    EXPECT_TRUE(picture && test::sameBytes(*picture, bgra)) << port;
  }
}

// The end of the input is known before an evaluation: the composition is not evaluated on nil, and
// its ports keep the last frame; an edit between frames leaves the input where it is.
TEST_F(EngineTest, TheEndOfTheInputIsKnownBeforeAnEvaluation) {
  const test::TempFolder folder;
  for (const std::string name : {"a.png", "b.png"}) {
    cv::imwrite((folder / name).string(), cv::Mat(8, 8, CV_8UC3, cv::Scalar(1, 2, 3)));
  }
  engine->apply({Edit::add("src", "ImageSource"), Edit::add("a", "Step")});
  engine->setInput(folder.path().string());
  engine->step();
  engine->apply({Edit::set("a.inputValue", 4)});
  const RunReport run = engine->run();
  EXPECT_EQ(run.frames, 1u);
  EXPECT_TRUE(run.failure.empty());
  EXPECT_EQ(composition().executions("src"), 2u);
  EXPECT_NE(static_cast<QCImagePort&>(composition().port("src.outputImage")).imageValue(), nullptr);
  EXPECT_TRUE(engine->step().ended);
  EXPECT_EQ(composition().executions("src"), 2u);
}

class CompositionFileTest : public EngineTest {};

constexpr const char* kChain = R"({
  "patches": {
    "src": {"class": "ImageSource", "inputs": {"inputPath": "pattern:64x48"}},
    "toCV": {"class": "QCImageToOpenCVImage", "inputs": {"inputFlip": 18446744073709551615}},
    "gray": {"class": "OpenCVBGR2Gray"},
    "draw": {"class": "Overlay", "inputs": {"inputStructure":
              {"B": {"X": 0.5, "Y": -0.25, "on": true}, "A": {"name": "x"}}}}
  },
  "connections": [
    {"from": "src.outputImage", "to": "toCV.inputImage"},
    {"from": "toCV.outputImage", "to": "gray.inputImage"},
    {"from": "src.outputImage", "to": "draw.inputImage"}
  ],
  "publish": ["gray.outputImage", "draw.outputImage"]
})";

TEST_F(CompositionFileTest, ReadsInitialValuesInFileOrderAndValuesFromTheCommandLine) {
  const auto composition = loadCompositionText(kChain, "/data/chain.json", manager);
  EXPECT_EQ(composition->pathOf(*composition->published()[1]), "draw.outputImage");
  EXPECT_EQ(composition->patch("gray")->options().compositionURL, "/data/chain.json");
  // Structures keep their members' order and types.
  EXPECT_EQ(nlohmann::ordered_json::parse(compositionDocument(*composition))["patches"]["draw"],
            nlohmann::ordered_json::parse(kChain)["patches"]["draw"]);
  // Their numbers are read in double precision.
  const auto& structure =
      static_cast<QCStructurePort&>(composition->port("draw.inputStructure")).structureValue();
  ASSERT_NE(structure, nullptr);
  EXPECT_EQ(*structure->structureForKey("B")->numberForKey("Y"), QCNumber::withDouble(-0.25));
  // The largest whole number is taken, held to the port's own maximum; values from the command
  // line come as text.
  auto& flip = static_cast<QCIndexPort&>(composition->port("toCV.inputFlip"));
  EXPECT_EQ(flip.indexValue(), 3u);
  setInputFromText(*composition, "toCV.inputFlip", "1");
  setInputFromText(*composition, "src.inputPath", "42");
  EXPECT_EQ(flip.indexValue(), 1u);
  EXPECT_EQ(static_cast<QCStringPort&>(composition->port("src.inputPath")).stringValue(), "42");
  EXPECT_THROW(setInputFromText(*composition, "toCV.inputFlip", "many"), CompositionError);
}

TEST_F(CompositionFileTest, RefusesBadFilesWithAMessageNamingTheProblem) {
  const std::string pulse = R"({"patches": {"a": {"class": "Pulse", "inputs": )";
  const std::vector<std::pair<std::string, std::string>> refused{
      {"{\n  \"patches\": {,}\n}",
       "invalid JSON: parse error at line 2, column 15: syntax error while parsing object key - "
       "unexpected ','; expected string literal"},
      {"[]", "the file must hold a JSON object"},
      {R"({"patches": []})", "\"patches\" must be an object of patches by id"},
      {R"({"patches": {}, "extra": 1})", "the composition: unknown key \"extra\""},
      {R"({"patches": {"a": {"class": "Gray"}}})", "patch \"a\": unknown class \"Gray\""},
      {R"({"patches": {"a": {}}})", "patch \"a\": \"class\" is missing"},
      {R"({"patches": {"a": {"class": "Pulse"}, "a": {"class": "Pulse"}}})",
       "the key \"a\" appears twice"},
      {pulse + R"({"inputNope": 1}}}})", "patch \"a\" (Pulse) has no port \"inputNope\""},
      {pulse + R"({"outputSignal": 1}}}})", "a.outputSignal is an output, not an input"},
      {pulse + R"({"inputFrames": 3}}}})", "a.inputFrames: a string port cannot take number 3"},
      {pulse + R"({"inputPeriod": 2.5}}}})",
       "a.inputPeriod: an index port takes a whole number from 0 up, not 2.5"},
      {pulse + R"({"inputPeriod": 1e999}}}})", "invalid JSON: number overflow parsing '1e999'"},
      {R"({"patches": {"a": {"class": "Overlay", "inputs": {"inputImage": 1}}}})",
       "a.inputImage: an image port takes no initial value"},
      {R"({"patches": {"a": {"class": "Pulse"}}, "connections": [{"from": "a.x"}]})",
       "connection {\"from\":\"a.x\"}: \"to\" is missing"},
      {R"({"patches": {"": {"class": "Pulse"}}})",
       "patch id \"\" must be non-empty and contain no '.'"},
      // JSON has no NaN; a number beyond 64 bits reads as a double, too large for an index.
      {R"({"patches": {"a": {"class": "Overlay", "inputs": {"inputStructure": {"X": NaN}}}}})",
       "invalid JSON: parse error at line 1, column 75: syntax error while parsing value - "
       "invalid literal; last read: '\"X\": N'"},
      {R"({"patches": {}, "layout": {"a": {"x": 0, "y": 0}}})", "\"layout\": unknown patch \"a\""},
      {R"({"patches": {"a": {"class": "Pulse"}}, "layout": {"a": {"x": 0, "y": true}}})",
       "the layout of \"a\": \"y\" must be a number"},
      {R"({"patches": {"a": {"class": "Pulse", "inputs": {"inputPeriod": 18446744073709551616}}}})",
       "a.inputPeriod: 1.8446744073709552e+19 is too large for an index"}};
  for (const auto& [text, message] : refused) {
    EXPECT_EQ(test::refusal([&] { loadCompositionText(text, "c.json", manager); }),
              "c.json: " + message);
  }

  const test::TempFolder folder;
  const std::filesystem::path empty = folder.write("empty.json", "  \n");
  for (const auto& [file, message] :
       {std::pair{empty, ": the file is empty"},
        {folder.path(), ": is a directory, not a composition file"},
        {folder / "missing.json", ": cannot be opened for reading"}}) {
    EXPECT_EQ(test::refusal([&] { loadCompositionFile(file, manager); }), file.string() + message);
  }
}

// Loading checks every connection for cycles; it costs about as much whatever the order of the
// list (a 5000-patch chain listed last to first took over a minute when each connection searched
// the ones before it).
TEST_F(CompositionFileTest, AChainLoadsAsFastInEitherOrderAndACycleIsNamed) {
  constexpr int kPatches = 5000;
  nlohmann::ordered_json forward, backward;
  for (int i = 0; i < kPatches; ++i) {
    forward["patches"][cv::format("p%d", i)] = {{"class", "Pulse"}};
    if (i == 0) continue;
    forward["connections"].push_back({{"from", cv::format("p%d.outputSignal", i - 1)},
                                      {"to", cv::format("p%d.inputPeriod", i)}});
  }
  backward = forward;
  std::reverse(backward["connections"].begin(), backward["connections"].end());
  for (const auto& document : {forward, backward}) {
    const auto start = std::chrono::steady_clock::now();
    const auto composition = loadCompositionText(document.dump(), "chain.json", manager);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(composition->connections().size(), kPatches - 1u);
  }
  backward["connections"].push_back({{"from", "p4999.outputSignal"}, {"to", "p0.inputPeriod"}});
  backward["connections"].push_back({{"from", "p1.outputSignal"}, {"to", "p2.inputFrames"}});
  EXPECT_EQ(test::refusal([&] { loadCompositionText(backward.dump(), "chain.json", manager); }),
            "chain.json: connecting \"p4999.outputSignal\" to \"p0.inputPeriod\" would make a "
            "cycle");
}

}  // namespace
}  // namespace cvcomp
