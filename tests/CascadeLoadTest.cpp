#include <gtest/gtest.h>

#include <pwd.h>

#include <cstdlib>
#include <memory>

#include "DetectionSupport.hpp"
#include "TestSupport.hpp"
#include "detection/OpenCVLoad.hpp"

namespace cvcomp {
namespace {

using test::execute;

const std::string kFrontalFace = "haarcascades/haarcascade_frontalface_default.xml";

PatchOptions inComposition(const std::filesystem::path& file) {
  return {file};
}

// What the output carries: nil, a box holding null, or a box holding a usable cascade.
enum class Output { Nil, Null, Cascade };
Output outputOf(const OpenCVLoad& load) {
  const auto box = load.outputData.cvObjectValue();
  if (!box) return Output::Nil;
  if (!box->value()) return Output::Null;
  return static_cast<cv::CascadeClassifier*>(box->value())->empty() ? Output::Null
                                                                    : Output::Cascade;
}

// Watches the cascade a loader holds now, to tell later whether it has been freed.
std::weak_ptr<cv::BaseCascadeClassifier> watch(const OpenCVLoad& load) {
  const cv::CascadeClassifier* cascade = cascadeValue(load.outputData);
  EXPECT_NE(cascade, nullptr);
  return cascade ? std::weak_ptr<cv::BaseCascadeClassifier>(cascade->cc)
                 : std::weak_ptr<cv::BaseCascadeClassifier>();
}

Output runWith(OpenCVLoad& load, const std::string& text) {
  load.inputPath.setStringValue(text);
  EXPECT_TRUE(execute(load));
  return outputOf(load);
}

TEST(OpenCVLoad, ResolvesThePathAsTyped) {
  const PatchOptions none;
  const PatchOptions doc = inComposition("/A/B/doc");
  const std::string home = std::getenv("HOME");
  const std::string rootHome = getpwnam("root")->pw_dir;

  EXPECT_EQ(OpenCVLoad::resolvePath("", doc), std::nullopt);
  EXPECT_EQ(OpenCVLoad::resolvePath("~/c.xml", none), home + "/c.xml");
  EXPECT_EQ(OpenCVLoad::resolvePath("~", none), home);
  EXPECT_EQ(OpenCVLoad::resolvePath("~root/c.xml", none), rootHome + "/c.xml");
  EXPECT_EQ(OpenCVLoad::resolvePath("~nosuchuser-cvcomp/c.xml", none), "~nosuchuser-cvcomp/c.xml");
  EXPECT_EQ(OpenCVLoad::resolvePath("/tmp/c.xml", doc), "/tmp/c.xml");
  EXPECT_EQ(OpenCVLoad::resolvePath("c.xml", doc), "/A/B/c.xml");
  EXPECT_EQ(OpenCVLoad::resolvePath("x/c.xml", doc), "/A/B/x/c.xml");
  EXPECT_EQ(OpenCVLoad::resolvePath("../c.xml", doc), "/A/B/../c.xml");
  EXPECT_EQ(OpenCVLoad::resolvePath("c.xml", inComposition("doc")), "c.xml");
  EXPECT_EQ(OpenCVLoad::resolvePath("c.xml", none), std::nullopt);
}

TEST(OpenCVLoad, LoadsFromEachKindOfPath) {
  const test::TempFolder folder;
  const std::string cascade = test::contents(test::cascadeFile(kFrontalFace));
  const std::filesystem::path absolute = folder.write("abs/face.xml", cascade);
  folder.write("docs/cascades/face.xml", cascade);
  folder.write("home/face.xml", cascade);

  OpenCVLoad load("load");
  EXPECT_EQ(runWith(load, absolute.string()), Output::Cascade);

  load.setOptions(inComposition(folder.path() / "docs" / "faces.json"));
  EXPECT_EQ(runWith(load, "cascades/face.xml"), Output::Cascade);

  const std::string home = std::getenv("HOME");
  setenv("HOME", (folder.path() / "home").c_str(), 1);
  EXPECT_EQ(runWith(load, "~/face.xml"), Output::Cascade);
  setenv("HOME", home.c_str(), 1);

  // Paths are UTF-8: an accented folder name loads like any other.
  const std::filesystem::path accented = folder.write("Visages détectés/façade.xml", cascade);
  EXPECT_EQ(runWith(load, accented.string()), Output::Cascade);
  load.setOptions(inComposition(folder.path() / "Visages détectés" / "doc.json"));
  EXPECT_EQ(runWith(load, "façade.xml"), Output::Cascade);
}

TEST(OpenCVLoad, GoesThroughItsFourStates) {
  const std::filesystem::path face = test::cascadeFile(kFrontalFace);
  OpenCVLoad load("load");
  EXPECT_EQ(load.outputData.type(), kOpenCVTypeCascade);

  // Never set: the first execution clears the output.
  EXPECT_TRUE(execute(load));
  EXPECT_EQ(outputOf(load), Output::Nil);

  EXPECT_EQ(runWith(load, face.string()), Output::Cascade);
  const auto first = watch(load);

  // The same path again reads the file again: a new cascade replaces the first.
  EXPECT_EQ(runWith(load, face.string()), Output::Cascade);
  const auto second = watch(load);
  EXPECT_TRUE(first.expired());
  EXPECT_EQ(second.use_count(), 1);

  // A failed load frees the cascade and publishes a box holding null.
  EXPECT_EQ(runWith(load, "/nonexistent/cvcomp/face.xml"), Output::Null);
  EXPECT_TRUE(second.expired());
  EXPECT_EQ(cascadeValue(load.outputData), nullptr);

  EXPECT_EQ(runWith(load, face.string()), Output::Cascade);
  const auto third = watch(load);
  EXPECT_EQ(runWith(load, ""), Output::Nil);
  EXPECT_TRUE(third.expired());

  // A relative path without a composition file is no path either.
  EXPECT_EQ(runWith(load, face.string()), Output::Cascade);
  const auto fourth = watch(load);
  EXPECT_EQ(runWith(load, "face.xml"), Output::Nil);
  EXPECT_TRUE(fourth.expired());
}

TEST(OpenCVLoad, FreesItsCascadeOnceWhenDestroyed) {
  auto load = std::make_unique<OpenCVLoad>("load");
  EXPECT_EQ(runWith(*load, test::cascadeFile(kFrontalFace).string()), Output::Cascade);
  const auto held = watch(*load);
  EXPECT_EQ(held.use_count(), 1);
  load.reset();
  EXPECT_TRUE(held.expired());
}

TEST(OpenCVLoad, FilesWithoutACascadeFailToLoad) {
  const test::TempFolder folder;
  const std::string cascade = test::contents(test::cascadeFile(kFrontalFace));
  const std::filesystem::path good = folder.write("good.xml", cascade);
  const std::vector<std::filesystem::path> bad{
      folder.path() / "missing.xml",
      folder.write("empty.xml", ""),
      folder.write("truncated.xml", cascade.substr(0, cascade.size() / 2)),
      folder.write("text.xml", "not a file storage\n"),
      // A valid file storage whose first object is a camera calibration, not a cascade.
      test::sample("calibration.yml"),
      folder.path(),
  };
  OpenCVLoad load("load");
  for (const std::filesystem::path& file : bad) {
    EXPECT_EQ(runWith(load, good.string()), Output::Cascade);
    const auto held = watch(load);
    testing::internal::CaptureStderr();
    EXPECT_EQ(runWith(load, file.string()), Output::Null) << file;
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(held.expired()) << file;
  }
}

}  // namespace
}  // namespace cvcomp
