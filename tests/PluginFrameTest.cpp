// The plug-in's frame: registration, the module's exported symbol, port connection rules,
// point structures and their centred units, and the reports of OpenCV's errors.

#include <stdexcept>

#include "TestSupport.hpp"
#include "host/PluginModule.hpp"
#include "host/patches/Pulse.hpp"
#include "plugin/OpenCVGuard.hpp"

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
