#include <gtest/gtest.h>

#include <stdexcept>

#include <opencv2/core.hpp>

#include "plugin/OpenCVGuard.hpp"

namespace cvcomp {
namespace {

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
