
#include "TestSupport.hpp"
#include "host/CompositionFile.hpp"
#include "host/patches/HostPatches.hpp"
#include "plugin/OpenCVPlugin.hpp"

namespace cvcomp {
namespace {

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
    "toCV": {"class": "QCImageToOpenCVImage", "inputs": {"inputFlip": 3}},
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

TEST_F(CompositionFileTest, BuildsPatchesValuesConnectionsAndPublishedOutputs) {
  const auto composition = loadCompositionText(kChain, "/data/chain.json", manager);
  ASSERT_EQ(composition->patches().size(), 4u);
  EXPECT_EQ(composition->patches()[1].id, "toCV");
  EXPECT_EQ(composition->connections().size(), 3u);
  ASSERT_EQ(composition->published().size(), 2u);
  EXPECT_EQ(composition->pathOf(*composition->published()[1]), "draw.outputImage");
  EXPECT_EQ(static_cast<QCIndexPort&>(composition->port("toCV.inputFlip")).indexValue(), 3u);
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

  // Values from the command line, as text.
  setInputFromText(*composition, "toCV.inputFlip", "1");
  setInputFromText(*composition, "src.inputPath", "42");
  EXPECT_EQ(static_cast<QCIndexPort&>(composition->port("toCV.inputFlip")).indexValue(), 1u);
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
      {R"({"patches": {"a": {"class": "Pulse"}, "b": {"class": "Overlay"}},
           "connections": [{"from": "a.outputSignal", "to": "b.inputImage"}]})",
       "cannot connect \"a.outputSignal\" (boolean) to \"b.inputImage\" (image): incompatible "
       "ports"},
      {R"({"patches": {"a": {"class": "Pulse"}}, "connections": [{"from": "a.x"}]})",
       "connection {\"from\":\"a.x\"}: \"to\" is missing"}};
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

TEST_F(CompositionFileTest, RefusesMistypedSectionsAndNumbersJsonCannotHold) {
  const std::vector<std::pair<std::string, std::string>> refused{
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
  // The largest whole number is taken, and the port holds it to its own maximum.
  const auto composition = loadCompositionText(
      R"({"patches": {"a": {"class": "QCImageToOpenCVImage",
                            "inputs": {"inputFlip": 18446744073709551615}}}})",
      "c.json", manager);
  EXPECT_EQ(static_cast<QCIndexPort&>(composition->port("a.inputFlip")).indexValue(), 3u);
}

}  // namespace
}  // namespace cvcomp
