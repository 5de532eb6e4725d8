
#include <pwd.h>

#include <cstdlib>

#include "DetectionSupport.hpp"
#include "TestSupport.hpp"
#include "detection/OpenCVLoad.hpp"

namespace cvcomp {
namespace {

// What the output carries: nil, a box holding null, or a box holding a usable cascade.
enum class Output { Nil, Null, Cascade };

Output runWith(OpenCVLoad& load, const std::string& text) {
  load.inputPath.setStringValue(text);
  EXPECT_TRUE(test::execute(load));
  const auto box = load.outputData.cvObjectValue();
  if (!box) return Output::Nil;
  const auto* cascade = static_cast<cv::CascadeClassifier*>(box->value());
  return cascade && !cascade->empty() ? Output::Cascade : Output::Null;
}

// Watches the cascade a loader holds now, to tell later whether it has been freed.
std::weak_ptr<cv::BaseCascadeClassifier> watch(const OpenCVLoad& load) {
  const cv::CascadeClassifier* cascade = cascadeValue(load.outputData);
  EXPECT_NE(cascade, nullptr);
  return cascade ? cascade->cc : nullptr;
}

TEST(OpenCVLoad, ResolvesThePathAsTyped) {
  const PatchOptions none, doc{"/A/B/doc"};
  const std::string home = std::getenv("HOME");
  for (const auto& [text, options, resolved] :
       std::initializer_list<std::tuple<std::string, PatchOptions, std::optional<std::string>>>{
           {"", doc, std::nullopt},
           {"~/c.xml", none, home + "/c.xml"},
           {"~", none, home},
           {"~root/c.xml", none, std::string(getpwnam("root")->pw_dir) + "/c.xml"},
           {"~nosuchuser-cvcomp/c.xml", none, "~nosuchuser-cvcomp/c.xml"},
           {"/tmp/c.xml", doc, "/tmp/c.xml"},
           {"c.xml", doc, "/A/B/c.xml"},
           {"x/c.xml", doc, "/A/B/x/c.xml"},
           {"../c.xml", doc, "/A/B/../c.xml"},
           {"c.xml", {"doc"}, "c.xml"},
           {"c.xml", none, std::nullopt}}) {
    const auto path = OpenCVLoad::resolvePath(text, options);
    EXPECT_EQ(path ? std::optional<std::string>(path->string()) : std::nullopt, resolved) << text;
  }
}

TEST(OpenCVLoad, LoadsBothFormatsFromEachKindOfPath) {
  const test::TempFolder folder;
  const std::string cascade = test::contents(test::frontalFace());
  const std::filesystem::path absolute = folder.write("abs/face.xml", cascade);
  folder.write("docs/cascades/face.xml", cascade);
  folder.write("home/face.xml", cascade);
  OpenCVLoad load("load");
  EXPECT_EQ(runWith(load, absolute.string()), Output::Cascade);
  // A cascade of the classic format, as opencv-data ships one.
  EXPECT_EQ(runWith(load, std::string(CVCOMP_CASCADE_DATA) +
                              "/haarcascades/haarcascade_licence_plate_rus_16stages.xml"),
            Output::Cascade);
  load.setOptions({folder / "docs" / "faces.json"});
  EXPECT_EQ(runWith(load, "cascades/face.xml"), Output::Cascade);
  const std::string home = std::getenv("HOME");
  setenv("HOME", (folder / "home").c_str(), 1);
  EXPECT_EQ(runWith(load, "~/face.xml"), Output::Cascade);
  setenv("HOME", home.c_str(), 1);
  // Paths are UTF-8: an accented folder name loads like any other.
  const std::filesystem::path accented = folder.write("Visages détectés/façade.xml", cascade);
  EXPECT_EQ(runWith(load, accented.string()), Output::Cascade);
  load.setOptions({folder / "Visages détectés" / "doc.json"});
  EXPECT_EQ(runWith(load, "façade.xml"), Output::Cascade);
}

TEST(OpenCVLoad, GoesThroughItsFourStatesAndFreesEachCascadeOnce) {
  const std::string face = test::frontalFace().string();
  auto load = std::make_unique<OpenCVLoad>("load");
  EXPECT_EQ(load->outputData.type(), kOpenCVTypeCascade);
  // Never set: the first execution clears the output.
  EXPECT_TRUE(test::execute(*load));
  EXPECT_EQ(load->outputData.cvObjectValue(), nullptr);
  // The same path again reads the file again: a new cascade replaces the first. A failed load
  // frees the cascade and publishes a box holding null; no path, or a relative path without a
  // composition file, gives nil.
  for (const auto& [text, output] : {std::pair{face, Output::Cascade},
                                     {"/nonexistent/cvcomp/face.xml", Output::Null},
                                     {"", Output::Nil},
                                     {"face.xml", Output::Nil}}) {
    EXPECT_EQ(runWith(*load, face), Output::Cascade);
    const auto held = watch(*load);
    EXPECT_EQ(held.use_count(), 1);
    test::stderrOf([&] { EXPECT_EQ(runWith(*load, text), output) << text; });
    EXPECT_TRUE(held.expired()) << text;
  }
  // Destruction frees the last cascade, once.
  EXPECT_EQ(runWith(*load, face), Output::Cascade);
  const auto held = watch(*load);
  load.reset();
  EXPECT_TRUE(held.expired());
}

TEST(OpenCVLoad, FilesWithoutACascadeFailToLoadAndSayWhy) {
  const test::TempFolder folder;
  const std::string cascade = test::contents(test::frontalFace());
  const std::filesystem::path good = folder.write("good.xml", cascade);
  const std::filesystem::path dangling = folder / "dangling.xml";
  std::filesystem::create_symlink(folder / "gone.xml", dangling);
  struct Case {
    std::filesystem::path file;
    std::string reason;
  };
  OpenCVLoad load("load");
  for (const Case& c : std::vector<Case>{
           {folder / "missing.xml", "no such file"},
           {dangling, "no such file"},
           {folder.path(), "a folder, not a cascade file"},
           {folder.write("empty.xml", ""), "not an XML cascade file"},
           {folder.write("text.xml", "not a file storage\n"), "not an XML cascade file"},
           // A valid file storage whose first object is a camera calibration, not a cascade.
           {test::sample("calibration.yml"), "not an XML cascade file"},
           {folder.write("truncated.xml", cascade.substr(0, cascade.size() / 2)),
            "holds no cascade that OpenCV can use"},
           {folder.write("other.xml",
                         "<?xml version=\"1.0\"?>\n<opencv_storage>\n"
                         "<camera>1</camera>\n</opencv_storage>\n"),
            "holds no cascade that OpenCV can use"},
           // OpenCV's own reader dereferences null on this one.
           {folder.write("crash.xml", "<?xml n ="), "OpenCV's cascade reader crashes on this file"},
       }) {
    EXPECT_EQ(runWith(load, good.string()), Output::Cascade);
    const auto held = watch(load);
    const std::string err =
        test::stderrOf([&] { EXPECT_EQ(runWith(load, c.file.string()), Output::Null) << c.file; });
    EXPECT_EQ(err, "OpenCVLoad: " + c.file.string() + ": " + c.reason + "\n");
    EXPECT_TRUE(held.expired()) << c.file;
  }
}

}  // namespace
}  // namespace cvcomp
