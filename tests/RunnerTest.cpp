
#include <opencv2/imgcodecs.hpp>

#include "TestSupport.hpp"
#include "plugin/OpenCVPlugin.hpp"

namespace cvcomp {
namespace {

namespace fs = std::filesystem;

using test::cvcomp;
using test::example;
using test::jsonLines;
using test::Outcome;

TEST(Runner, GrayExampleWritesAnUprightGrayPicture) {
  const test::TempFolder folder;
  const Outcome outcome =
      cvcomp("run " + example("gray.json") + " --input " + test::sample("baboon.jpg").string() +
             " --video " + (folder / "gray.png").string() + " --json -");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const auto frames = jsonLines(outcome.out);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0]["frame"], 0);
  EXPECT_TRUE(test::sameBytes(cv::imread((folder / "gray.png").string(), cv::IMREAD_GRAYSCALE),
                              test::grayPicture("baboon.jpg")));
}

TEST(Runner, WritesOneJsonLinePerFrameOfAClipAndNumberedPictures) {
  const test::TempFolder folder;
  const Outcome outcome =
      cvcomp("run " + example("gray.json") + " --input " + test::sample("Megamind.avi").string() +
             " --frames 12 --video " + (folder / "f%03d.png").string() + " --json -");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const auto frames = jsonLines(outcome.out);
  ASSERT_EQ(frames.size(), 12u);
  EXPECT_EQ(frames[11]["frame"], 11);
  EXPECT_NEAR(frames[11]["time"].get<double>(), 11 / 23.976, 1e-3);
  EXPECT_TRUE(fs::exists(folder / "f000.png"));
  EXPECT_TRUE(fs::exists(folder / "f011.png"));
  EXPECT_FALSE(fs::exists(folder / "f012.png"));
}

TEST(Runner, ExitStatusesAndMessages) {
  const test::TempFolder folder;
  const fs::path bad = folder.write("bad.json", R"({"patches": {"g": {"class": "OpenCVGray"}}})");
  Outcome outcome = cvcomp("run " + bad.string());
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.err,
            "cvcomp: " + bad.string() + ": patch \"g\": unknown class \"OpenCVGray\"\n");
  EXPECT_EQ(cvcomp("check " + bad.string()).status, 2);

  outcome = cvcomp("run " + example("gray.json") + " --input /nonexistent/clip.avi");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("no such file or folder"), std::string::npos) << outcome.err;

  outcome = cvcomp("run " + example("gray.json") + " --set toCV.inputFlip=sideways");
  EXPECT_EQ(outcome.status, 2);
  EXPECT_NE(outcome.err.find("toCV.inputFlip"), std::string::npos) << outcome.err;

  EXPECT_EQ(cvcomp("run").status, 2);
  EXPECT_EQ(cvcomp("frobnicate").status, 2);
  EXPECT_EQ(cvcomp("--help").status, 0);

  outcome = cvcomp("check " + example("gray.json"));
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("4 patches, 3 connections"), std::string::npos) << outcome.out;
}

TEST(Runner, ListsEveryRegisteredClassWithItsPorts) {
  const Outcome outcome = cvcomp("patches --json");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const nlohmann::json classes = nlohmann::json::parse(outcome.out);
  std::vector<std::string> names, plugin;
  for (const auto& patchClass : classes) names.push_back(patchClass["class"]);
  for (const PatchClass& patchClass : OpenCVPlugin::patchClasses())
    plugin.push_back(patchClass.name);
  // The host's own patches, then the plug-in's thirteen classes in their registration order.
  EXPECT_EQ(names.front(), "ImageSource");
  ASSERT_GE(names.size(), 13u);
  EXPECT_EQ(std::vector<std::string>(names.end() - 13, names.end()), plugin);
  const auto& bridge = classes.back();
  EXPECT_EQ(bridge["ports"][1]["name"], "inputFlip");
  EXPECT_EQ(bridge["ports"][1]["max"], 3);
  EXPECT_EQ(bridge["ports"][2]["type"], 1);
}

}  // namespace
}  // namespace cvcomp
