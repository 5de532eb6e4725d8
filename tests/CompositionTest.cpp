// Compositions: running in dependency order, connection rules, and composition files with every
// kind of mistake they can hold.

#include "TestSupport.hpp"
#include "host/Composition.hpp"
#include "host/CompositionFile.hpp"
#include "host/patches/HostPatches.hpp"
#include "plugin/OpenCVPlugin.hpp"

namespace cvcomp {
namespace {

std::vector<std::string> executionLog;

// Adds one to its input; logs its lifecycle and every execution.
struct Step final : QCPatch {
  QC_PATCH_CLASS(Step)
  using QCPatch::QCPatch;
  ~Step() override { executionLog.push_back(identifier() + ":destroy"); }
  void enable(QCContext&) override { executionLog.push_back(identifier() + ":enable"); }
  void disable(QCContext&) override { executionLog.push_back(identifier() + ":disable"); }
  bool execute(QCContext&, double, const QCStructure&) override {
    executionLog.push_back(identifier());
    outputValue.setDoubleValue(inputValue.doubleValue() + 1.0);
    return true;
  }
  QC_PORT(QCNumberPort, inputValue);
  QC_PORT(QCIndexPort, inputIndex);
  QC_PORT(QCNumberPort, outputValue);
};

class CompositionTest : public testing::Test {
 protected:
  void SetUp() override {
    executionLog.clear();
    OpenCVPlugin::registerNodesWithManager(manager);
    manager.registerNodeWithClass(PatchClass::of<Step>());
  }
  void frames(int count) {
    for (int i = 0; i < count; ++i, ++frame) {
      composition.renderFrame(test::context(), static_cast<std::uint64_t>(frame), frame / 30.0);
    }
  }
  double number(const std::string& path) {
    return static_cast<QCNumberPort&>(composition.port(path)).doubleValue();
  }
  QCNodeManager manager;
  Composition composition{manager};
  int frame = 0;
};

TEST_F(CompositionTest, RunsInDependencyOrderAndOnlyWhatChanged) {
  for (const char* id : {"c", "b", "a"}) composition.addPatch(id, "Step");
  static_cast<QCNumberPort&>(composition.port("c.inputValue")).setDoubleValue(7.5);
  composition.connect("a.outputValue", "b.inputValue");
  composition.connect("b.outputValue", "c.inputValue");
  composition.start(test::context());
  executionLog.clear();
  frames(1);
  EXPECT_EQ(executionLog, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(number("c.outputValue"), 3.0);

  // Nothing changed: nothing runs, outputs stay.
  executionLog.clear();
  frames(3);
  EXPECT_TRUE(executionLog.empty());
  EXPECT_EQ(composition.executions("a"), 1u);

  // A new value upstream runs what depends on it, and only that.
  static_cast<QCIndexPort&>(composition.port("b.inputIndex")).setIndexValue(4);
  frames(1);
  EXPECT_EQ(executionLog, (std::vector<std::string>{"b", "c"}));

  // Disconnecting gives the input its own value back.
  EXPECT_EQ(number("c.inputValue"), 2.0);
  composition.disconnect("c.inputValue");
  EXPECT_EQ(number("c.inputValue"), 7.5);
  EXPECT_EQ(composition.connections().size(), 1u);
}

TEST_F(CompositionTest, RefusesWhatCannotBeConnected) {
  composition.addPatch("a", "Step");
  composition.addPatch("b", "Step");
  composition.addPatch("toCV", "QCImageToOpenCVImage");
  composition.connect("a.outputValue", "b.inputIndex");
  const std::vector<std::array<std::string, 3>> refused{
      {"a.outputValue", "b.inputIndex",
       "\"b.inputIndex\" already has a connection, from \"a.outputValue\""},
      {"b.outputValue", "a.inputValue",
       "connecting \"b.outputValue\" to \"a.inputValue\" would make a cycle"},
      {"a.outputValue", "a.inputValue",
       "connecting \"a.outputValue\" to \"a.inputValue\" would make a cycle"},
      {"a.outputValue", "toCV.inputImage",
       "cannot connect \"a.outputValue\" (number) to \"toCV.inputImage\" (image): incompatible "
       "ports"},
      {"a.inputValue", "b.inputValue", "\"a.inputValue\" is an input, not an output"},
      {"a.outputValue", "b.outputValue", "\"b.outputValue\" is an output, not an input"},
      {"x.outputValue", "b.inputValue", "unknown patch \"x\" in \"x.outputValue\""},
      {"a.outputNothing", "b.inputValue", "patch \"a\" (Step) has no port \"outputNothing\""}};
  for (const auto& [from, to, message] : refused) {
    try {
      composition.connect(from, to);
      ADD_FAILURE() << from << " -> " << to << " accepted";
    } catch (const CompositionError& error) {
      EXPECT_EQ(error.what(), message);
    }
  }
  EXPECT_THROW(composition.addPatch("a", "Step"), CompositionError);
}

TEST_F(CompositionTest, DestroysItsPatchesAfterStopping) {
  {
    Composition own(manager);
    own.addPatch("one", "Step");
    own.addPatch("two", "Step");
    own.start(test::context());
    own.stop(test::context());
  }
  EXPECT_EQ(executionLog, (std::vector<std::string>{"one:enable", "two:enable", "one:disable",
                                                    "two:disable", "two:destroy", "one:destroy"}));
}

class CompositionFileTest : public testing::Test {
 protected:
  void SetUp() override {
    registerHostPatches(manager);
    OpenCVPlugin::registerNodesWithManager(manager);
  }
  // The message a refused composition gives.
  template <typename Load>
  std::string refusal(Load&& load) {
    try {
      load();
    } catch (const CompositionError& error) {
      return error.what();
    }
    return "accepted";
  }
  QCNodeManager manager;
};

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
  const auto& structure =
      static_cast<QCStructurePort&>(composition->port("draw.inputStructure")).structureValue();
  ASSERT_NE(structure, nullptr);
  ASSERT_EQ(structure->count(), 2u);
  EXPECT_EQ(structure->members()[0].first, "B");
  const QCStructure* b = structure->structureForKey("B");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(*b->numberForKey("Y"), QCNumber::withDouble(-0.25));
  EXPECT_EQ(std::get<bool>(*b->memberForKey("on")), true);
  EXPECT_EQ(std::get<std::string>(*structure->structureForKey("A")->memberForKey("name")), "x");

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
      {pulse + R"({"inputPeriod": -2}}}})",
       "a.inputPeriod: an index port takes a whole number from 0 up, not -2"},
      {pulse + R"({"inputPeriod": 2.5}}}})",
       "a.inputPeriod: an index port takes a whole number from 0 up, not 2.5"},
      {pulse + R"({"inputPeriod": 1e30}}}})", "a.inputPeriod: 1e+30 is too large for an index"},
      {pulse + R"({"inputPeriod": 1e999}}}})", "invalid JSON: number overflow parsing '1e999'"},
      {R"({"patches": {"a": {"class": "Overlay", "inputs": {"inputImage": 1}}}})",
       "a.inputImage: a image port takes no initial value"},
      {R"({"patches": {"a": {"class": "Pulse"}}, "publish": ["a.outputNope"]})",
       "patch \"a\" (Pulse) has no port \"outputNope\""},
      {R"({"patches": {"a": {"class": "Pulse"}}, "connections": [{"from": "a.x"}]})",
       "connection {\"from\":\"a.x\"}: \"to\" is missing"},
      {R"({"patches": {"a": "Pulse"}})", "patch \"a\" must be an object"},
      {R"({"patches": {"a": {"class": 7}}})", "patch \"a\": \"class\" must be a string"},
      {R"({"patches": {"a": {"class": "Pulse", "inputs": [1]}}})",
       "patch \"a\": \"inputs\" must be an object"},
      {R"({"patches": {}, "connections": {}})", "\"connections\" must be an array"},
      {R"({"patches": {}, "connections": ["a.x"]})",
       "a connection must be an object with \"from\" and \"to\""},
      {R"({"patches": {}, "publish": "a.x"})", "\"publish\" must be an array of ports"},
      {R"({"patches": {}, "publish": [1]})", "\"publish\" holds 1"},
      {R"({"patches": {"": {"class": "Pulse"}}})",
       "patch id \"\" must be non-empty and contain no '.'"},
      // JSON has no NaN; a number beyond 64 bits reads as a double, too large for an index.
      {R"({"patches": {"a": {"class": "Overlay", "inputs": {"inputStructure": {"X": NaN}}}}})",
       "invalid JSON: parse error at line 1, column 75: syntax error while parsing value - "
       "invalid literal; last read: '\"X\": N'"},
      {R"({"patches": {"a": {"class": "Pulse", "inputs": {"inputPeriod": 18446744073709551616}}}})",
       "a.inputPeriod: 1.8446744073709552e+19 is too large for an index"}};
  for (const auto& [text, message] : refused) {
    EXPECT_EQ(refusal([&] { loadCompositionText(text, "c.json", manager); }), "c.json: " + message);
  }

  const test::TempFolder folder;
  const std::filesystem::path empty = folder.write("empty.json", "  \n");
  for (const auto& [file, message] :
       {std::pair{empty, ": the file is empty"},
        {folder.path(), ": is a directory, not a composition file"},
        {folder / "missing.json", ": cannot be opened for reading"}}) {
    EXPECT_EQ(refusal([&] { loadCompositionFile(file, manager); }), file.string() + message);
  }
}

}  // namespace
}  // namespace cvcomp
