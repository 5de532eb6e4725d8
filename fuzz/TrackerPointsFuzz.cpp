// Feeds the Lucas–Kanade tracker point lists built from arbitrary bytes (any numbers, NaN and
// infinities included, missing or mistyped members, foreign keys) over frames of any small size:
// it must publish a point list or nil, never crash.
//
// Bytes: width, height, window size, options, then per point one kind byte and two doubles.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <opencv2/core.hpp>

#include "features/OpenCVCalcOpticalFlowPyrLK.hpp"
#include "host/OpenCVObject.hpp"
#include "plugin/PointStructures.hpp"

namespace {

class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return size_ == 0; }
  template <class T>
  T take() {
    T value{};
    const std::size_t n = std::min(sizeof value, size_);
    std::memcpy(&value, data_, n);
    data_ += n;
    size_ -= n;
    return value;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

std::shared_ptr<cvcomp::QCStructure> pointList(Bytes& bytes) {
  auto list = std::make_shared<cvcomp::QCStructure>();
  for (std::size_t i = 0; !bytes.empty(); ++i) {
    const auto kind = bytes.take<std::uint8_t>();
    const auto x = bytes.take<double>();
    const auto y = bytes.take<double>();
    auto point = std::make_shared<cvcomp::QCStructure>();
    if (kind & 1) point->addMember(cvcomp::QCNumber::withDouble(x), "X");
    if (kind & 2) point->addMember(cvcomp::QCNumber::withDouble(y), "Y");
    if (kind & 4) point->addMember(std::string("text"), "X");
    if (kind & 8) point->addMember(true, "Y");
    const std::string key = cvcomp::numberedKey((kind & 16) ? "Line" : "Point", i);
    if (kind & 32) {
      list->addMember(cvcomp::QCNumber::withDouble(x), key);
    } else {
      list->addMember(std::move(point), key);
    }
  }
  return list;
}

cv::Mat frame(cv::Size size, int seed) {
  cv::Mat image(size, CV_8UC1);
  cv::RNG rng(static_cast<std::uint64_t>(seed));
  rng.fill(image, cv::RNG::UNIFORM, 0, 256);
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes bytes(data, size);
  const cv::Size frameSize(1 + bytes.take<std::uint8_t>() % 96,
                           1 + bytes.take<std::uint8_t>() % 96);
  const auto window = bytes.take<std::uint8_t>();
  const auto options = bytes.take<std::uint8_t>();

  cvcomp::OpenCVCalcOpticalFlowPyrLK tracker("tracker");
  tracker.inputWindowSize.setIndexValue(window);
  tracker.inputExcludeNaNs.setBooleanValue(options & 1);
  tracker.inputPoints.setStructureValue(pointList(bytes));
  cvcomp::QCContext context;
  const cvcomp::QCStructure arguments;
  cv::Mat images[] = {frame(frameSize, 1), frame(frameSize, 2), frame(frameSize, 3)};
  for (int i = 0; i < 3; ++i) {
    tracker.inputUseInputPointsSignal.setBooleanValue(i == 0);
    tracker.inputAddInputPointsSignal.setBooleanValue(i == 1 && (options & 2));
    tracker.inputImage.setCvObjectValue(std::make_shared<cvcomp::OpenCVObject>(&images[i]));
    if (!tracker.execute(context, 0.0, arguments)) std::abort();
    const auto& output = tracker.outputPoints.structureValue();
    // Once tracking, every published point is one of the loaded ones, at most all of them.
    if (output && output->count() > 2 * tracker.inputPoints.structureValue()->count()) std::abort();
  }
  return 0;
}
