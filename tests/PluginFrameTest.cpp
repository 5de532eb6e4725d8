// The plug-in's frame: registration, the module's exported symbol, port connection rules,
// point structures and their centred units, published structures that never change, and the
// reports of OpenCV's errors.

#include <set>
#include <stdexcept>

#include <opencv2/objdetect.hpp>

#include "TestSupport.hpp"
#include "detection/OpenCVHaarDetectObjects.hpp"
#include "features/OpenCVCalcOpticalFlowPyrLK.hpp"
#include "features/OpenCVFindChessboardCorners.hpp"
#include "features/OpenCVGoodFeaturesToTrack.hpp"
#include "features/OpenCVHoughLines2.hpp"
#include "host/JsonOutput.hpp"
#include "host/PluginModule.hpp"
#include "host/patches/Pulse.hpp"
#include "plugin/OpenCVGuard.hpp"
#include "plugin/OpenCVPlugin.hpp"

namespace cvcomp {
namespace {

// Runner.ListsEveryRegisteredClassWithItsPorts holds the classes the module registers, in order.
TEST(PluginModule, RegistersItsClassesWithTheirTraitsAndExportsOnlyItsEntryPoint) {
  QCNodeManager manager;
  loadPluginModule(CVCOMP_PLUGIN_MODULE, manager);
  for (const PatchClass& patchClass : manager.nodeClasses()) {
    // The cascade loader reads files and keeps the host's default safety trait.
    EXPECT_EQ(patchClass.traits.isSafe, patchClass.name != "OpenCVLoad") << patchClass.name;
  }
  const PatchClass* gray = manager.nodeClass("OpenCVBGR2Gray");
  ASSERT_NE(gray, nullptr);
  EXPECT_EQ(gray->create("gray")->className(), "OpenCVBGR2Gray");
  EXPECT_EQ(gray->create(""), nullptr) << "an empty identifier";
  EXPECT_THROW(loadPluginModule("/nonexistent/module.so", manager), std::runtime_error);
  const test::Outcome nm =
      test::shell("nm -D --defined-only " CVCOMP_PLUGIN_MODULE " | awk '{print $NF}'");
  EXPECT_EQ(nm.status, 0) << nm.err;
  EXPECT_EQ(nm.out, std::string(kPluginEntryPoint) + "\n");
}

struct DerivedVirtualPort final : QCVirtualPort {
  using QCVirtualPort::QCVirtualPort;
};

TEST(OpenCVTypePort, ConnectsOnlyEqualCodesAndThePlainVirtualPort) {
  Pulse patch("p");  // any patch can hold the ports
  OpenCVImagePort image1(patch, "outputA"), image2(patch, "inputB");
  OpenCVCascadePort cascade(patch, "inputC");
  QCVirtualPort sink(patch, "inputSink");
  DerivedVirtualPort derived(patch, "inputDerived");
  QCObjectPort object(patch, "inputObject");
  QCImagePort hostImage(patch, "inputImage");

  // Equal type codes connect; so does a plain virtual port, and nothing else.
  EXPECT_TRUE(image1.canConnectToPort(image2) && image2.canConnectToPort(image1));
  EXPECT_FALSE(image1.canConnectToPort(cascade) || cascade.canConnectToPort(image1));
  for (OpenCVTypePort* port : std::initializer_list<OpenCVTypePort*>{&image1, &cascade}) {
    EXPECT_TRUE(port->canConnectToPort(sink)) << port->name();
    EXPECT_FALSE(port->canConnectToPort(derived) || port->canConnectToPort(object) ||
                 port->canConnectToPort(hostImage))
        << port->name();
  }
  // The host reads each port's code, and no code from other ports.
  EXPECT_EQ(openCVTypeOf(image1), kOpenCVTypeImage);
  EXPECT_EQ(openCVTypeOf(cascade), kOpenCVTypeCascade);
  EXPECT_EQ(openCVTypeOf(object), 0);
  EXPECT_EQ(openCVTypeOf(hostImage), 0);
}

TEST(PointStructures, CentredUnitsAreExactAtTheCornersAndTheCentreInBothDirections) {
  // One unit is half the width on both axes; Y grows with the row.
  const cv::Size size(320, 240);
  for (const auto& [pixel, unit] :
       std::initializer_list<std::pair<cv::Point2f, cv::Point2f>>{{{0, 0}, {-1, -0.75}},
                                                                  {{320, 0}, {1, -0.75}},
                                                                  {{320, 240}, {1, 0.75}},
                                                                  {{160, 120}, {0, 0}},
                                                                  {{0, 120}, {-1, 0}}}) {
    EXPECT_EQ(centredUnit(pixel, size), unit) << pixel;
    EXPECT_EQ(centredUnitByAspect(pixel, size), unit) << pixel;
    EXPECT_EQ(pixelOfCentredUnit(unit, size), pixel) << unit;
    EXPECT_EQ(pixelOfCentredUnitPrecise(unit, size), cv::Point2d(pixel)) << unit;
  }
  // Keys: four digits at least.
  EXPECT_EQ(numberedKey("Point", 0), "Point0000");
  EXPECT_EQ(numberedKey("Corner", 10000), "Corner10000");
  // Sizes: W in half widths, H in half heights.
  EXPECT_EQ(centredExtent({80, 60}, size), cv::Point2d(0.5, 0.5));
  EXPECT_EQ(pixelHalfExtent({0.5, 0.5}, size), cv::Point2d(40.0, 30.0));
}

// A patch that publishes a structure, and a run of either of two frames that give it two
// different results.
struct Publishing {
  std::shared_ptr<QCPatch> patch;
  const QCStructurePort* output;
  std::function<void(int frame)> run;
};

struct Publisher {
  std::string name;
  std::function<Publishing()> make;
  friend void PrintTo(const Publisher& publisher, std::ostream* out) { *out << publisher.name; }
};

// Two gray pictures of 320 × 240 (a building, a baboon) and what a patch needs of them.
cv::Mat& gray(int frame) {
  static cv::Mat pictures[] = {test::grayPicture("building.jpg", {320, 240}),
                               test::grayPicture("baboon.jpg", {320, 240})};
  return pictures[frame];
}

std::vector<Publisher> publishers() {
  return {
      {"OpenCVGoodFeaturesToTrack",
       [] {
         auto patch = std::make_shared<OpenCVGoodFeaturesToTrack>("features");
         return Publishing{patch, &patch->outputPoints, [patch](int frame) {
                             test::feed(patch->inputImage, &gray(frame));
                             // The find signal rises on each frame.
                             patch->inputFindSignal.setBooleanValue(false);
                             test::execute(*patch);
                             patch->inputFindSignal.setBooleanValue(true);
                             test::execute(*patch);
                           }};
       }},
      {"OpenCVCalcOpticalFlowPyrLK",
       [] {
         // The baboon's corners, loaded on the baboon, are tracked into it moved 1 or 3 pixels.
         static cv::Mat moved[2];
         for (int frame : {0, 1}) {
           cv::warpAffine(gray(1), moved[frame], cv::Matx23d(1, 0, 1 + 2 * frame, 0, 1, 0),
                          gray(1).size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
         }
         OpenCVGoodFeaturesToTrack features("features");
         test::feed(features.inputImage, &gray(1));
         features.inputFindSignal.setBooleanValue(true);
         test::execute(features);
         auto patch = std::make_shared<OpenCVCalcOpticalFlowPyrLK>("tracker");
         patch->inputPoints.setStructureValue(features.outputPoints.structureValue());
         patch->inputUseInputPointsSignal.setBooleanValue(true);
         test::feed(patch->inputImage, &gray(1));
         test::execute(*patch);
         return Publishing{patch, &patch->outputPoints, [patch](int frame) {
                             test::feed(patch->inputImage, &moved[frame]);
                             test::execute(*patch);
                           }};
       }},
      {"OpenCVFindChessboardCorners",
       [] {
         static cv::Mat boards[] = {test::samplePicture("left01.jpg"),
                                    test::samplePicture("left02.jpg")};
         auto patch = std::make_shared<OpenCVFindChessboardCorners>("board");
         patch->inputInnerRows.setIndexValue(9);
         patch->inputInnerColumns.setIndexValue(6);
         patch->inputFind.setBooleanValue(true);
         return Publishing{patch, &patch->outputCorners, [patch](int frame) {
                             test::feed(patch->inputImage, &boards[frame]);
                             test::execute(*patch);
                           }};
       }},
      {"OpenCVHoughLines2",
       [] {
         static cv::Mat edges[2];
         for (int frame : {0, 1}) cv::Canny(gray(frame), edges[frame], 50, 200);
         auto patch = std::make_shared<OpenCVHoughLines2>("hough");
         return Publishing{patch, &patch->outputLines, [patch](int frame) {
                             test::feed(patch->inputImage, &edges[frame]);
                             test::execute(*patch);
                           }};
       }},
      {"OpenCVHaarDetectObjects",
       [] {
         // A face, and the same face mirrored, with their first rows at the bottom as OpenCV
         // images have them.
         static cv::Mat faces[2];
         cv::flip(test::samplePicture("messi5.jpg"), faces[0], 0);
         cv::flip(faces[0], faces[1], 1);
         static cv::CascadeClassifier cascade(test::frontalFace().string());
         auto patch = std::make_shared<OpenCVHaarDetectObjects>("faces");
         // The face is small: it is searched at full size.
         patch->inputImageScale.setDoubleValue(1.0);
         patch->inputCascade.setCvObjectValue(std::make_shared<OpenCVObject>(&cascade));
         return Publishing{patch, &patch->outputRects, [patch](int frame) {
                             test::feed(patch->inputImage, &faces[frame]);
                             test::execute(*patch);
                           }};
       }},
  };
}

// A structure as the JSON lines write it.
std::string written(const std::shared_ptr<QCStructure>& structure) {
  std::string text;
  appendJsonValue(text, structure);
  return text;
}

class PublishedStructures : public testing::TestWithParam<Publisher> {};

// What a consumer keeps of one frame's result stays as it was through the next frame, which
// publishes another result.
TEST_P(PublishedStructures, NeverChangeOnceKept) {
  const Publishing publishing = GetParam().make();
  publishing.run(0);
  const std::shared_ptr<QCStructure> kept = publishing.output->structureValue();
  ASSERT_NE(kept, nullptr);
  ASSERT_GT(kept->count(), 0u);
  const std::string first = written(kept);
  publishing.run(1);
  ASSERT_NE(publishing.output->structureValue(), nullptr);
  ASSERT_NE(written(publishing.output->structureValue()), first) << "the frames' results differ";
  EXPECT_EQ(written(kept), first);
}

INSTANTIATE_TEST_SUITE_P(Publishers, PublishedStructures, testing::ValuesIn(publishers()),
                         [](const auto& test) { return test.param.name; });

// The publishers above are every class of the plug-in with a structure output.
TEST(PublishedStructures, AreThoseOfEveryPatchWithAStructureOutput) {
  std::set<std::string> publishing, tested;
  for (const PatchClass& patchClass : OpenCVPlugin::patchClasses()) {
    const std::unique_ptr<QCPatch> patch = patchClass.create("p");
    for (const QCPort* port : patch->ports()) {
      if (!port->isInput() && port->kind() == PortKind::Structure)
        publishing.insert(patchClass.name);
    }
  }
  for (const Publisher& publisher : publishers()) tested.insert(publisher.name);
  EXPECT_EQ(publishing, tested);
}

// OpenCV's report as one line.
std::string line(const cv::Exception& error) {
  const std::string text = error.what();
  return text.ends_with('\n') ? text : text + '\n';
}

TEST(OpenCVErrorReports, RepeatsArePrintedOnceAndCountedUntilFlushedStandardExceptionsAreErrors) {
  const cv::Exception bad(cv::Error::StsBadArg, "bad size", "call", "file.cpp", 7);
  const cv::Exception other(cv::Error::StsBadArg, "bad type", "call", "file.cpp", 7);
  // The first report is printed at once.
  EXPECT_EQ(test::stderrOf([&] {
              for (int frame = 0; frame < 1000; ++frame) reportOpenCVError("OpenCVCanny", bad);
            }),
            "OpenCVCanny: " + line(bad));
  EXPECT_EQ(test::stderrOf([&] {
              reportOpenCVError("OpenCVResize", bad);  // the same message from another patch
              reportOpenCVError("OpenCVCanny", other);
              reportOpenCVError("OpenCVResize", bad);
              reportOpenCVError("OpenCVCanny", bad);
            }),
            "OpenCVResize: " + line(bad) + "OpenCVCanny: " + line(other));
  EXPECT_EQ(test::stderrOf(flushOpenCVErrorReports),
            "OpenCVCanny: repeated 1000 more times: " + line(bad) +
                "OpenCVResize: repeated 1 more time: " + line(bad));
  // After a flush, the next report is printed at once again; nothing is left to flush.
  EXPECT_EQ(test::stderrOf([&] {
              reportOpenCVError("OpenCVCanny", bad);
              flushOpenCVErrorReports();
            }),
            "OpenCVCanny: " + line(bad));
  // Standard exceptions from OpenCV are errors of the call.
  EXPECT_EQ(test::stderrOf([] {
              EXPECT_FALSE(guardOpenCV("OpenCVLoad",
                                       [] { throw std::length_error("basic_string::_M_create"); }));
              EXPECT_TRUE(guardOpenCV("OpenCVLoad", [] {}));
            }),
            "OpenCVLoad: basic_string::_M_create\n");
}

}  // namespace
}  // namespace cvcomp
