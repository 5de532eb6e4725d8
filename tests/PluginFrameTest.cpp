// The plug-in's frame: registration, the module's exported symbol, port connection rules,
// point structures and their centred units, and the reports of OpenCV's errors.

#include <algorithm>
#include <cfloat>
#include <stdexcept>

#include "TestSupport.hpp"
#include "host/PluginModule.hpp"
#include "plugin/OpenCVGuard.hpp"
#include "plugin/OpenCVPlugin.hpp"

namespace cvcomp {
namespace {

std::vector<std::string> namesOf(const QCNodeManager& manager) {
  std::vector<std::string> names;
  for (const PatchClass& patchClass : manager.nodeClasses()) names.push_back(patchClass.name);
  return names;
}

const std::vector<std::string> kOrder{
    "OpenCVBGR2Gray",      "OpenCVGoodFeaturesToTrack",   "OpenCVCalcOpticalFlowPyrLK",
    "OpenCVCanny",         "OpenCVEqualizeHist",          "OpenCVResize",
    "OpenCVLoad",          "OpenCVHaarDetectObjects",     "OpenCVHoughLines2",
    "OpenCVLogPolar",      "OpenCVFindChessboardCorners", "OpenCVImageToQCImage",
    "QCImageToOpenCVImage"};

TEST(Registration, RegistersAllClassesInOrderWithTheirTraits) {
  QCNodeManager manager;
  OpenCVPlugin::registerNodesWithManager(manager);
  EXPECT_EQ(namesOf(manager), kOrder);
  for (const PatchClass& patchClass : manager.nodeClasses()) {
    // The cascade loader reads files and keeps the host's default safety trait.
    EXPECT_EQ(patchClass.traits.isSafe, patchClass.name != "OpenCVLoad") << patchClass.name;
    EXPECT_EQ(patchClass.traits.executionMode, 0) << patchClass.name;
    EXPECT_FALSE(patchClass.traits.allowsSubpatches) << patchClass.name;
    EXPECT_EQ(patchClass.traits.timeMode, 0) << patchClass.name;
  }
}

TEST(Registration, SkipsNamesAlreadyRegistered) {
  // Another class already holds the name of the second table entry.
  QCNodeManager manager;
  manager.registerNodeWithClass(
      {kOrder[1], {false, 0, false, 0}, [](const std::string&) -> std::unique_ptr<QCPatch> {
         return nullptr;
       }});
  OpenCVPlugin::registerNodesWithManager(manager);
  std::vector<std::string> expected{kOrder[1], kOrder[0]};
  expected.insert(expected.end(), kOrder.begin() + 2, kOrder.end());
  EXPECT_EQ(namesOf(manager), expected);
  EXPECT_EQ(manager.nodeClass(kOrder[1])->create("x"), nullptr) << "the earlier class stays";
  EXPECT_NE(manager.nodeClass(kOrder[0])->create("x"), nullptr);
  EXPECT_EQ(manager.nodeClass(kOrder[0])->create(""), nullptr) << "empty identifiers are refused";
}

TEST(PluginModule, LoadsAndExportsOnlyItsEntryPoint) {
  QCNodeManager manager;
  loadPluginModule(CVCOMP_PLUGIN_MODULE, manager);
  EXPECT_EQ(namesOf(manager), kOrder);
  EXPECT_EQ(manager.nodeClass("OpenCVBGR2Gray")->create("gray")->className(), "OpenCVBGR2Gray");
  EXPECT_THROW(loadPluginModule("/nonexistent/module.so", manager), std::runtime_error);

  std::unique_ptr<FILE, int (*)(FILE*)> nm(popen("nm -D --defined-only " CVCOMP_PLUGIN_MODULE, "r"),
                                           pclose);
  ASSERT_NE(nm, nullptr);
  std::vector<std::string> exported;
  char line[512];
  while (fgets(line, sizeof line, nm.get())) {
    std::string text(line);
    text.erase(text.find_last_not_of("\r\n") + 1);
    exported.push_back(text.substr(text.rfind(' ') + 1));
  }
  EXPECT_EQ(exported, std::vector<std::string>{kPluginEntryPoint});
}

struct PortBench final : QCPatch {
  QC_PATCH_CLASS(PortBench)
  using QCPatch::QCPatch;
  bool execute(QCContext&, double, const QCStructure&) override { return true; }
};

struct DerivedVirtualPort final : QCVirtualPort {
  using QCVirtualPort::QCVirtualPort;
};

TEST(OpenCVTypePort, ConnectsOnlyEqualNonZeroCodesAndThePlainVirtualPort) {
  PortBench patch("p");
  OpenCVImagePort image1(patch, "outputA"), image2(patch, "inputB");
  OpenCVCascadePort cascade(patch, "inputC");
  OpenCVTypePort untyped(patch, "inputD"), untyped2(patch, "inputE");
  QCVirtualPort sink(patch, "inputSink");
  DerivedVirtualPort derived(patch, "inputDerived");
  QCObjectPort object(patch, "inputObject");
  QCImagePort hostImage(patch, "inputImage");

  EXPECT_TRUE(image1.canConnectToPort(image2));
  EXPECT_TRUE(image2.canConnectToPort(image1));
  EXPECT_FALSE(image1.canConnectToPort(cascade));
  EXPECT_FALSE(cascade.canConnectToPort(image1));
  EXPECT_FALSE(untyped.canConnectToPort(untyped2));
  EXPECT_FALSE(untyped.canConnectToPort(image1));
  EXPECT_FALSE(image1.canConnectToPort(untyped));
  for (OpenCVTypePort* port : std::initializer_list<OpenCVTypePort*>{&image1, &cascade, &untyped}) {
    EXPECT_TRUE(port->canConnectToPort(sink));
    EXPECT_FALSE(port->canConnectToPort(derived));
    EXPECT_FALSE(port->canConnectToPort(object));
    EXPECT_FALSE(port->canConnectToPort(hostImage));
  }
}

TEST(PointStructures, NumberedKeys) {
  EXPECT_EQ(numberedKey("Point", 0), "Point0000");
  EXPECT_EQ(numberedKey("Object", 9999), "Object9999");
  EXPECT_EQ(numberedKey("Corner", 10000), "Corner10000");
}

TEST(CentredUnit, ExactAtTheCornersAndTheCentreInBothDirections) {
  // One unit is half the width on both axes; Y grows with the row.
  const cv::Size size(320, 240);
  struct Case {
    cv::Point2f pixel, unit;
  };
  for (const auto& [pixel, unit] : {Case{{0, 0}, {-1.0f, -0.75f}},
                                    {{320, 0}, {1.0f, -0.75f}},
                                    {{320, 240}, {1.0f, 0.75f}},
                                    {{160, 120}, {0.0f, 0.0f}},
                                    {{0, 120}, {-1.0f, 0.0f}}}) {
    EXPECT_EQ(centredUnit(pixel, size), unit) << pixel;
    EXPECT_EQ(centredUnitByAspect(pixel, size), unit) << pixel;
    EXPECT_EQ(pixelOfCentredUnit(unit, size), pixel) << unit;
    EXPECT_EQ(pixelOfCentredUnitPrecise(unit, size), cv::Point2d(pixel)) << unit;
  }
  // Sizes: W in half widths, H in half heights.
  EXPECT_EQ(centredExtent({80, 60}, size), cv::Point2d(0.5, 0.5));
  EXPECT_EQ(pixelHalfExtent({0.5, 0.5}, size), cv::Point2d(40.0, 30.0));
}

TEST(CentredUnit, EveryPixelRoundTripsWithinSinglePrecision) {
  for (const cv::Size size : {cv::Size(333, 247), cv::Size(17, 4001), cv::Size(4001, 17)}) {
    double worst = 0.0;
    for (int y = 0; y <= size.height; ++y) {
      for (int x = 0; x <= size.width; ++x) {
        const cv::Point2d pixel(x, y);
        for (const cv::Point2f unit :
             {centredUnit(pixel, size), centredUnitByAspect(pixel, size)}) {
          for (const cv::Point2d back : {cv::Point2d(pixelOfCentredUnit(unit, size)),
                                         pixelOfCentredUnitPrecise(unit, size)}) {
            worst = std::max(worst, cv::norm(back - pixel));
          }
        }
      }
    }
    EXPECT_LE(worst, std::max(size.width, size.height) * FLT_EPSILON) << size;
  }
}

cv::Exception failure(const std::string& what) {
  return cv::Exception(cv::Error::StsBadArg, what, "call", "file.cpp", 7);
}

// OpenCV's report as one line.
std::string line(const cv::Exception& error) {
  const std::string text = error.what();
  return text.ends_with('\n') ? text : text + '\n';
}

TEST(OpenCVErrorReports, ARepeatedReportIsPrintedOnceAndCountedUntilFlushed) {
  const cv::Exception bad = failure("bad size");
  const cv::Exception other = failure("bad type");
  const std::string badText = line(bad);
  testing::internal::CaptureStderr();
  for (int frame = 0; frame < 1000; ++frame) reportOpenCVError("OpenCVCanny", bad);
  // The first report is printed at once.
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "OpenCVCanny: " + badText);

  testing::internal::CaptureStderr();
  reportOpenCVError("OpenCVResize", bad);  // the same message from another patch
  reportOpenCVError("OpenCVCanny", other);
  reportOpenCVError("OpenCVResize", bad);
  reportOpenCVError("OpenCVCanny", bad);
  const std::string fresh = testing::internal::GetCapturedStderr();
  EXPECT_EQ(fresh, "OpenCVResize: " + badText + "OpenCVCanny: " + line(other));

  testing::internal::CaptureStderr();
  flushOpenCVErrorReports();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "OpenCVCanny: repeated 1000 more times: " + badText +
                "OpenCVResize: repeated 1 more time: " + badText);

  // After a flush, the next report is printed at once again; nothing is left to flush.
  testing::internal::CaptureStderr();
  reportOpenCVError("OpenCVCanny", bad);
  flushOpenCVErrorReports();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "OpenCVCanny: " + badText);
}

TEST(OpenCVErrorReports, StandardExceptionsFromOpenCVAreErrorsOfTheCall) {
  testing::internal::CaptureStderr();
  EXPECT_FALSE(
      guardOpenCV("OpenCVLoad", [] { throw std::length_error("basic_string::_M_create"); }));
  EXPECT_TRUE(guardOpenCV("OpenCVLoad", [] {}));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "OpenCVLoad: basic_string::_M_create\n");
}

}  // namespace
}  // namespace cvcomp
