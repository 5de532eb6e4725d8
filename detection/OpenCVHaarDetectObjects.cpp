#include "OpenCVHaarDetectObjects.hpp"

#include <algorithm>
#include <climits>
#include <tuple>
#include <vector>

#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include "OpenCVLoad.hpp"
#include "plugin/ImageOutput.hpp"
#include "plugin/PointStructures.hpp"

namespace cvcomp {

namespace {

int asInt(std::size_t index) {
  return static_cast<int>(std::min<std::size_t>(index, INT_MAX));
}

int reducedSide(int side, float scale) {
  const float quotient = static_cast<float>(side) / scale;
  // Below one pixel (also for an infinite scale) nothing is left to search.
  return quotient >= 1.0f ? static_cast<int>(quotient) : 0;
}

// The size the detector searches: each side of `input` divided by `scale` in single precision
// and truncated toward zero.
cv::Size reducedSize(cv::Size input, float scale) {
  return {reducedSide(input.width, scale), reducedSide(input.height, scale)};
}

// A detected rectangle as it is published.
struct Rectangle {
  float x, y, w, h;

  // Top to bottom, then left to right, then smaller first.
  friend bool operator<(const Rectangle& a, const Rectangle& b) {
    return std::tie(a.y, a.x, a.w, a.h) < std::tie(b.y, b.x, b.w, b.h);
  }
};

// The published values of a rectangle in pixels of the flipped reduced image of size `searched`.
Rectangle published(const cv::Rect& rect, cv::Size searched) {
  const float cx = static_cast<float>(rect.x + 0.5 * rect.width);
  const float cy = static_cast<float>(rect.y + 0.5 * rect.height);
  const cv::Point2f centre = centredUnitByAspect({cx, cy}, searched);
  const cv::Point2d extent = centredExtent(rect.size(), searched);
  // The detector saw the image flipped top to bottom: mirrored about the centre, its Y turns
  // sign.
  return {centre.x, -centre.y, static_cast<float>(extent.x), static_cast<float>(extent.y)};
}

}  // namespace

OpenCVHaarDetectObjects::OpenCVHaarDetectObjects(std::string identifier)
    : OpenCVPatch(std::move(identifier)) {
  inputImageScale.setDoubleValue(2.1);
  inputImageScale.setMinDoubleValue(1.0);
  inputScaleFactor.setMinDoubleValue(1.05);
  inputScaleFactor.setMaxDoubleValue(6.0);
  inputScaleFactor.setDoubleValue(1.3);
  inputMinNeighbors.setIndexValue(1);
  inputMinSize.setIndexValue(20);
  inputCannyPruning.setBooleanValue(true);
}

void OpenCVHaarDetectObjects::detect(const cv::Mat& input, cv::Size size,
                                     cv::CascadeClassifier& cascade) {
  const cv::Mat* source = &input;
  if (input.channels() != 1) {
    const cv::Mat& g = gray.prepare(input.size(), CV_8UC1);
    cv::cvtColor(input, g, input.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
    source = &g;
  }
  const cv::Mat& s = reduced.prepare(size, CV_8UC1);
  cv::resize(*source, s, size, 0, 0, cv::INTER_LINEAR);
  const cv::Mat& f = flipped.prepare(size, CV_8UC1);
  cv::flip(s, f, 0);
  cv::equalizeHist(f, f);

  const int minSize = asInt(inputMinSize.indexValue());
  const int flags = inputCannyPruning.booleanValue() ? cv::CASCADE_DO_CANNY_PRUNING : 0;
  const int minNeighbors = asInt(inputMinNeighbors.indexValue());
  const float scaleFactor = static_cast<float>(inputScaleFactor.doubleValue());
  cascade.detectMultiScale(f, rectSeq, scaleFactor, minNeighbors, flags,
                           cv::Size(minSize, minSize));
}

bool OpenCVHaarDetectObjects::execute(QCContext& /*context*/, double /*time*/,
                                      const QCStructure& /*arguments*/) {
  const cv::Mat* input = imageValue(inputImage);
  cv::CascadeClassifier* cascade = cascadeValue(inputCascade);
  if (!input || !cascade) {
    outputRects.setStructureValue(nullptr);
    return true;
  }

  const cv::Size size =
      reducedSize(input->size(), static_cast<float>(inputImageScale.doubleValue()));
  const int channels = input->channels();
  rectSeq.clear();
  if (!size.empty() && (channels == 1 || channels == 3 || channels == 4)) {
    // A refused preparation or detection reports its error and finds nothing.
    if (!guarded([&] { detect(*input, size, *cascade); })) rectSeq.clear();
  }

  std::vector<Rectangle> found;
  found.reserve(rectSeq.size());
  for (const cv::Rect& rect : rectSeq) found.push_back(published(rect, size));
  std::sort(found.begin(), found.end());
  NumberedStructure rects("Object", found.size());
  for (std::size_t i = 0; i < found.size(); ++i) {
    QCStructure& member = rects.add(i);
    member.addMember(QCNumber::withFloat(found[i].x), "X");
    member.addMember(QCNumber::withFloat(found[i].y), "Y");
    member.addMember(QCNumber::withFloat(found[i].w), "W");
    member.addMember(QCNumber::withFloat(found[i].h), "H");
  }
  std::move(rects).publishOn(outputRects);
  return true;
}

}  // namespace cvcomp
