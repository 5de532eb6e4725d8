// The cvcomp command end to end: its outputs, exit statuses and listing, and the JSON lines.

#include <map>
#include <set>

#include <opencv2/imgcodecs.hpp>

#include "TestSupport.hpp"
#include "host/Engine.hpp"
#include "host/JsonOutput.hpp"
#include "host/PatchCatalog.hpp"
#include "host/patches/FramePictures.hpp"
#include "host/patches/HostPatches.hpp"
#include "host/patches/Overlay.hpp"
#include "plugin/OpenCVPlugin.hpp"

namespace cvcomp {
namespace {

namespace fs = std::filesystem;

using test::cvcomp;
using test::example;
using test::jsonLines;
using test::Outcome;

TEST(Runner, WritesItsOutputsNamedAfterItsInputAndRefusesWhatItCannotRun) {
  const test::TempFolder folder;
  // A clip: each line carries its frame number and time; the pictures are numbered.
  const std::string gray = "run " + example("gray.json");
  Outcome outcome = cvcomp(gray + " --input " + test::sample("Megamind.avi").string() +
                           " --frames 12 --video " + (folder / "f%03d.png").string() + " --json -");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const auto frames = jsonLines(outcome.out);
  ASSERT_EQ(frames.size(), 12u);
  EXPECT_EQ(frames[11]["frame"], 11);
  EXPECT_NEAR(frames[11]["time"].get<double>(), 11 / 23.976, 1e-3);
  EXPECT_TRUE(fs::exists(folder / "f000.png") && fs::exists(folder / "f011.png") &&
              !fs::exists(folder / "f012.png"));

  // A line of an input list, and outputs named after it.
  const std::string baboon = test::sample("baboon.jpg"), fruits = test::sample("fruits.jpg");
  const std::string list = folder.write("inputs.txt", baboon + "\n" + fruits + "\r\n\n");
  outcome = cvcomp(gray + " --input @" + list + " --index 1 --json " +
                   (folder / "{index}-{stem}.jsonl").string() + " --video " +
                   (folder / "{stem}.png").string());
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(test::lineCount(test::contents(folder / "1-fruits.jsonl")), 1u);
  EXPECT_TRUE(test::sameBytes(cv::imread((folder / "fruits.png").string(), cv::IMREAD_GRAYSCALE),
                              test::grayPicture("fruits.jpg")));

  const std::string missing = (folder / "none.txt").string();
  const std::string named = " --json " + (folder / "{stem}.jsonl").string();
  // The exit status and standard error's one line after "cvcomp: "; none for the command line's
  // own reports.
  for (const auto& [arguments, status, message] :
       std::initializer_list<std::tuple<std::string, int, std::string>>{
           {gray + " --set toCV.inputFlip=sideways", 2,
            "toCV.inputFlip: an index port takes a whole number from 0 up, not \"sideways\""},
           {"run", 2, ""},
           {"frobnicate", 2, ""},
           {"--help", 0, ""},
           {gray + " --input @" + missing + " --index 0", 1, missing + ": no such file"},
           {gray + " --input @" + list + " --index 3" + named, 2,
            "--index 3: " + list + " holds 3 lines, numbered from 0"},
           {gray + " --input @" + list + " --index 2" + named, 2, list + ": line 2 is empty"},
           {gray + " --input @" + list, 2, "--input @" + list + ": --index picks the line to run"},
           {gray + " --index 0", 2,
            "--index: picks a line of an input list, given as --input @LIST"},
           {gray + " --json out/{stem}.jsonl", 2,
            "out/{stem}.jsonl: {stem} names the input, and the run is given none with --input"},
           {gray + " --json out/{index}.jsonl --input x.png", 2,
            "out/{index}.jsonl: {index} names the --index, and the run is given none"},
           {gray + " --json out/{name}.jsonl", 2,
            "out/{name}.jsonl: \"{name}\" is not {stem} or {index}"},
           {gray + " --input @" + list + " --index 0 --json out.jsonl", 2,
            "out.jsonl: every run with --index would write this same file; name it with {stem} "
            "or {index}"}}) {
    outcome = cvcomp(arguments);
    EXPECT_EQ(outcome.status, status) << arguments;
    EXPECT_TRUE(message.empty() || outcome.err == "cvcomp: " + message + "\n") << outcome.err;
  }
  outcome = cvcomp("check " + example("gray.json"));
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("4 patches, 3 connections"), std::string::npos) << outcome.out;
}

// The video is the composition's published picture, which every face shows: the first published
// output that carries pictures, here an OpenCV image (mirrored by the bridge) ahead of the host
// picture it was made from.
TEST(Runner, TheVideoIsThePublishedPictureAnOpenCVImageAsWellAsAHostPicture) {
  const test::TempFolder folder;
  const fs::path composition = folder.write("mirror.json", R"({
    "patches": {
      "src": {"class": "ImageSource", "inputs": {"inputPath": "pattern:64x48"}},
      "toCV": {"class": "QCImageToOpenCVImage", "inputs": {"inputFlip": 1}},
      "gray": {"class": "OpenCVBGR2Gray"}
    },
    "connections": [{"from": "src.outputImage", "to": "toCV.inputImage"},
                    {"from": "toCV.outputImage", "to": "gray.inputImage"}],
    "publish": ["gray.outputImage", "src.outputImage"]
  })");
  const fs::path video = folder / "last.png";
  const Outcome outcome =
      cvcomp("run " + composition.string() + " --frames 1 --video " + video.string());
  ASSERT_EQ(outcome.status, 0) << outcome.err;

  QCNodeManager manager;
  registerHostPatches(manager);
  OpenCVPlugin::registerNodesWithManager(manager);
  const auto engine = Engine::fromFile(composition, manager);
  ASSERT_EQ(engine->run(1).frames, 1u);
  const QCPort* published = publishedPicture(engine->composition());
  ASSERT_NE(published, nullptr);
  EXPECT_EQ(engine->composition().pathOf(*published), "gray.outputImage");
  const std::optional<cv::Mat> mirrored = portPicture(*published);
  ASSERT_TRUE(mirrored);
  EXPECT_TRUE(test::sameBytes(cv::imread(video.string(), cv::IMREAD_GRAYSCALE), *mirrored));
  // The source's own picture is another one.
  cv::Mat source;
  cv::cvtColor(*portPicture(engine->composition().port("src.outputImage")), source,
               cv::COLOR_BGRA2GRAY);
  EXPECT_FALSE(test::sameBytes(source, *mirrored));
}

TEST(Runner, ListsEveryRegisteredClassWithItsPorts) {
  const Outcome outcome = cvcomp("patches --json");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const nlohmann::json classes = nlohmann::json::parse(outcome.out);
  const std::vector<PatchClass> plugin = OpenCVPlugin::patchClasses();
  // The host's own patches, then the plug-in's classes in their registration order.
  EXPECT_EQ(classes.front()["class"], "ImageSource");
  ASSERT_GT(classes.size(), plugin.size());
  for (std::size_t i = 0; i < plugin.size(); ++i)
    EXPECT_EQ(classes[classes.size() - plugin.size() + i]["class"], plugin[i].name);
  // Each with its ports in declaration order.
  EXPECT_EQ(classes.back()["ports"][1]["name"], "inputFlip");
  // Each in a palette group with a line saying what it does, each port naming what it carries.
  std::map<std::string, std::set<std::string>> kindNames;
  for (const auto& patchClass : classes) {
    EXPECT_TRUE(
        std::set<std::string>({"bridges", "filters", "features", "detection", "host patches"})
            .contains(patchClass["category"]))
        << patchClass["class"];
    EXPECT_FALSE(patchClass["description"].get<std::string>().empty()) << patchClass["class"];
    for (const auto& port : patchClass["ports"]) kindNames[port["kind"]].insert(port["kindName"]);
  }
  EXPECT_EQ(kindNames["object"], std::set<std::string>({"opencv image", "cascade"}));
  EXPECT_EQ(kindNames["image"], std::set<std::string>({"host picture"}));
  EXPECT_EQ(kindNames["number"], std::set<std::string>({"number"}));
}

// Every port of every class of the host and the plug-in has a line saying what it is, in port
// order, which the catalogue shows with the port; no line names a port its class does not have.
TEST(Runner, ListsALineForEveryPortOfEveryClass) {
  QCNodeManager manager;
  registerHostPatches(manager);
  OpenCVPlugin::registerNodesWithManager(manager);
  const OrderedJson catalogue = patchCatalog(manager);
  ASSERT_EQ(catalogue.size(), 16u);  // the host's 3 and the plug-in's 13
  for (std::size_t i = 0; i < catalogue.size(); ++i) {
    const PatchClass& patchClass = manager.nodeClasses()[i];
    std::vector<std::string> names, described;
    for (const auto& port : catalogue[i]["ports"]) {
      names.push_back(port["name"]);
      EXPECT_FALSE(port.value("description", std::string()).empty())
          << patchClass.name << "." << names.back();
    }
    for (const PortDescription& line : patchClass.portDescriptions) described.push_back(line.port);
    EXPECT_EQ(described, names) << patchClass.name;
  }
}

// Numbers in the shortest form of their own precision, structures in member order, nil as null.
TEST(JsonOutput, FrameLinesWriteNumbersInTheirOwnPrecisionAndKeepMemberOrder) {
  auto points = std::make_shared<QCStructure>(), point = std::make_shared<QCStructure>();
  point->addMember(QCNumber::withFloat(0.1f), "X");
  point->addMember(QCNumber::withDouble(0.1f), "Y");
  point->addMember(QCNumber::withFloat(3.0f), "W");
  point->addMember(QCNumber::withFloat(-0.0f), "Z");
  point->addMember(QCNumber::withFloat(1e-7f), "E");
  point->addMember(QCNumber::withDouble(std::nan("")), "N");
  points->addMember(point, "Point0001");
  points->addMember(std::shared_ptr<QCStructure>(), "Point0000");
  points->addMember(std::string("text"), "label");
  points->addMember(std::string("tab\t\"quoted\" \xff"), "k\xc3\xa9y");
  points->addMember(false, "flag");

  Overlay filled("s"), empty("t");
  filled.inputStructure.setStructureValue(points);
  EXPECT_EQ(frameLine(7, 0.25,
                      {{"s.points", &filled.inputStructure}, {"s.nothing", &empty.inputStructure}}),
            R"({"frame":7,"time":0.25,"s.points":{"Point0001":{"X":0.1,"Y":0.10000000149011612,)"
            R"("W":3.0,"Z":-0.0,"E":1e-07,"N":null},)"
            R"("Point0000":null,"label":"text",)"
            // Escaped as JSON requires; invalid UTF-8 becomes U+FFFD.
            "\"k\xc3\xa9y\":\"tab\\t\\\"quoted\\\" \xef\xbf\xbd\","
            R"("flag":false},)"
            R"("s.nothing":null})");
}

}  // namespace
}  // namespace cvcomp
