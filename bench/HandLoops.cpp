#include "HandLoops.hpp"

#include <algorithm>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>
#include <opencv2/video/tracking.hpp>

#include "Frames.hpp"
#include "filters/LogPolarMap.hpp"

namespace cvcomp::bench {

namespace {

constexpr double kRadiansPerDegree = 0.017453292519943295;
const std::string kFaceCascade = "/usr/share/opencv4/haarcascades/haarcascade_frontalface_alt.xml";

// Into OpenCV as the bridge does by default: flipped, so that row 0 is the picture's bottom row.
void intoOpenCV(const Bitmap& frame, cv::Mat& image) {
  cv::flip(matOf(frame), image, 0);
}

// The overlay: a copy of the frame with the results drawn on it, in the overlay's colours.
class Drawing {
 public:
  void start(const Bitmap& frame) {
    matOf(frame).copyTo(picture_);
    thickness_ = std::max(1, picture_.cols / 320);
  }
  // A position of the flipped OpenCV image, on the upright picture.
  cv::Point upright(cv::Point2f p) const {
    return {cvRound(p.x), cvRound(static_cast<float>(picture_.rows) - p.y)};
  }
  void rectangle(cv::Rect r) {
    cv::rectangle(picture_, r.tl(), r.br(), cv::Scalar(0, 255, 0, 255), thickness_);
  }
  void segment(cv::Point a, cv::Point b) {
    cv::line(picture_, a, b, cv::Scalar(0, 0, 255, 255), thickness_);
  }
  void motion(cv::Point from, cv::Point to) {
    cv::line(picture_, from, to, cv::Scalar(255, 255, 0, 255), thickness_);
    point(to);
  }
  void point(cv::Point at) {
    cv::circle(picture_, at, 2 * thickness_, cv::Scalar(0, 255, 255, 255), thickness_);
  }

 private:
  cv::Mat picture_;
  int thickness_ = 1;
};

// Back to a host image: converted to 8-bit BGRA, then copied row for row into pixel memory.
class ToHost {
 public:
  void operator()(const cv::Mat& image) {
    switch (image.channels()) {
      case 1:
        cv::cvtColor(image, bgra_, cv::COLOR_GRAY2BGRA);
        break;
      case 3:
        cv::cvtColor(image, bgra_, cv::COLOR_BGR2BGRA);
        break;
      default:
        image.copyTo(bgra_);
    }
    bgra_.copyTo(pixels_);
  }

 private:
  cv::Mat bgra_;
  cv::Mat pixels_;
};

class FaceLoop final : public HandLoop {
 public:
  explicit FaceLoop(double imageScale)
      : scale_(static_cast<float>(imageScale)), cascade_(kFaceCascade) {}

  void process(const Bitmap& frame, std::uint64_t /*index*/) override {
    intoOpenCV(frame, image_);
    cv::cvtColor(image_, gray_, cv::COLOR_BGRA2GRAY);
    const cv::Size size(static_cast<int>(static_cast<float>(gray_.cols) / scale_),
                        static_cast<int>(static_cast<float>(gray_.rows) / scale_));
    cv::resize(gray_, reduced_, size, 0, 0, cv::INTER_LINEAR);
    cv::flip(reduced_, flipped_, 0);
    cv::equalizeHist(flipped_, flipped_);
    cascade_.detectMultiScale(flipped_, faces_, 1.3f, 1, cv::CASCADE_DO_CANNY_PRUNING,
                              cv::Size(20, 20));
    drawing_.start(frame);
    const double back = static_cast<double>(image_.cols) / size.width;
    for (const cv::Rect& face : faces_) {
      drawing_.rectangle(cv::Rect(cvRound(face.x * back), cvRound(face.y * back),
                                  cvRound(face.width * back), cvRound(face.height * back)));
    }
  }

  void writeLine(std::ostream& out, std::uint64_t index, double time) const override {
    nlohmann::ordered_json line{{"frame", index}, {"time", time}};
    nlohmann::ordered_json& faces = line["faces"] = nlohmann::ordered_json::array();
    for (const cv::Rect& f : faces_) faces.push_back({f.x, f.y, f.width, f.height});
    out << line.dump() << '\n';
  }

 private:
  float scale_;
  cv::CascadeClassifier cascade_;
  cv::Mat image_, gray_, reduced_, flipped_;
  std::vector<cv::Rect> faces_;
  Drawing drawing_;
};

class TrackLoop final : public HandLoop {
 public:
  TrackLoop(std::size_t maxPoints, double quality)
      : maxPoints_(static_cast<int>(maxPoints)), quality_(static_cast<float>(quality)) {}

  void process(const Bitmap& frame, std::uint64_t index) override {
    intoOpenCV(frame, image_);
    cv::cvtColor(image_, gray_, cv::COLOR_BGRA2GRAY);
    if (index == 0) {
      // Found on the first frame, which is then only kept as the previous frame.
      cv::goodFeaturesToTrack(gray_, previousPoints_, maxPoints_, quality_, 10.0f, cv::noArray(), 7,
                              false, 0.04);
      gray_.copyTo(previous_);
      return;
    }
    cv::calcOpticalFlowPyrLK(
        previous_, gray_, previousPoints_, points_, status_, cv::noArray(), cv::Size(21, 21), 3,
        cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 20, 0.03f), 0);
    drawing_.start(frame);
    for (std::size_t i = 0; i < points_.size(); ++i) {
      if (status_[i])
        drawing_.motion(drawing_.upright(previousPoints_[i]), drawing_.upright(points_[i]));
    }
    gray_.copyTo(previous_);
    std::swap(points_, previousPoints_);
  }

  void writeLine(std::ostream& out, std::uint64_t index, double time) const override {
    nlohmann::ordered_json line{{"frame", index}, {"time", time}};
    nlohmann::ordered_json& points = line["points"] = nlohmann::ordered_json::array();
    // After a tracked frame, the points just found are the previous ones of the next frame.
    for (std::size_t i = 0; index > 0 && i < status_.size(); ++i) {
      if (status_[i]) points.push_back({previousPoints_[i].x, previousPoints_[i].y});
    }
    out << line.dump() << '\n';
  }

 private:
  int maxPoints_;
  float quality_;
  cv::Mat image_, gray_, previous_;
  std::vector<cv::Point2f> points_, previousPoints_;
  std::vector<unsigned char> status_;
  Drawing drawing_;
};

class EdgesLoop final : public HandLoop {
 public:
  void process(const Bitmap& frame, std::uint64_t /*index*/) override {
    intoOpenCV(frame, image_);
    cv::cvtColor(image_, gray_, cv::COLOR_BGRA2GRAY);
    cv::equalizeHist(gray_, equalized_);
    cv::Canny(equalized_, edges_, 150.0f, 300.0f, 3);
    cv::HoughLinesP(edges_, lines_, 1.0f, static_cast<float>(kRadiansPerDegree), 80, 60.0f, 10.0f);
    drawing_.start(frame);
    for (const cv::Vec4i& l : lines_) {
      drawing_.segment(
          drawing_.upright(cv::Point2f(static_cast<float>(l[0]), static_cast<float>(l[1]))),
          drawing_.upright(cv::Point2f(static_cast<float>(l[2]), static_cast<float>(l[3]))));
    }
  }

 private:
  cv::Mat image_, gray_, equalized_, edges_;
  std::vector<cv::Vec4i> lines_;
  Drawing drawing_;
};

class ChessboardLoop final : public HandLoop {
 public:
  void process(const Bitmap& frame, std::uint64_t /*index*/) override {
    intoOpenCV(frame, image_);
    cv::cvtColor(image_, gray_, cv::COLOR_BGRA2GRAY);
    corners_.clear();
    cv::findChessboardCorners(gray_, cv::Size(9, 6), corners_, cv::CALIB_CB_ADAPTIVE_THRESH);
    drawing_.start(frame);
    for (const cv::Point2f& corner : corners_) drawing_.point(drawing_.upright(corner));
  }

 private:
  cv::Mat image_, gray_;
  std::vector<cv::Point2f> corners_;
  Drawing drawing_;
};

class ResizeLoop final : public HandLoop {
 public:
  void process(const Bitmap& frame, std::uint64_t /*index*/) override {
    intoOpenCV(frame, image_);
    cv::resize(image_, scaled_, cv::Size(320, 240), 0.0, 0.0, cv::INTER_LINEAR);
    toHost_(scaled_);
  }

 private:
  cv::Mat image_, scaled_;
  ToHost toHost_;
};

class LogPolarLoop final : public HandLoop {
 public:
  LogPolarLoop(int width, int height) {
    // The tables are computed once: their geometry does not change from frame to frame.
    const cv::Point2f centre(static_cast<float>(width) / 2.0f, static_cast<float>(height) / 2.0f);
    const cv::Size polarSize(512, 720);
    forwardTable_ = forward_.table({centre, 80.0f, {width, height}, polarSize, false});
    inverseTable_ = inverse_.table({centre, 80.0f, polarSize, {width, height}, true});
  }

  void process(const Bitmap& frame, std::uint64_t /*index*/) override {
    intoOpenCV(frame, image_);
    cv::remap(image_, polar_, forwardTable_, cv::noArray(), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
              cv::Scalar());
    cv::remap(polar_, cartesian_, inverseTable_, cv::noArray(), cv::INTER_LINEAR,
              cv::BORDER_CONSTANT, cv::Scalar());
    cartesianHost_(cartesian_);
    polarHost_(polar_);
  }

 private:
  LogPolarMap forward_, inverse_;
  cv::Mat forwardTable_, inverseTable_;
  cv::Mat image_, polar_, cartesian_;
  ToHost cartesianHost_, polarHost_;
};

class GrayLoop final : public HandLoop {
 public:
  void process(const Bitmap& frame, std::uint64_t /*index*/) override {
    intoOpenCV(frame, image_);
    cv::cvtColor(image_, gray_, cv::COLOR_BGRA2GRAY);
    toHost_(gray_);
  }

 private:
  cv::Mat image_, gray_;
  ToHost toHost_;
};

}  // namespace

void HandLoop::writeLine(std::ostream& out, std::uint64_t index, double time) const {
  out << nlohmann::ordered_json{{"frame", index}, {"time", time}}.dump() << '\n';
}

std::unique_ptr<HandLoop> faceLoop(double imageScale) {
  return std::make_unique<FaceLoop>(imageScale);
}
std::unique_ptr<HandLoop> trackLoop(std::size_t maxPoints, double quality) {
  return std::make_unique<TrackLoop>(maxPoints, quality);
}
std::unique_ptr<HandLoop> edgesLoop() {
  return std::make_unique<EdgesLoop>();
}
std::unique_ptr<HandLoop> chessboardLoop() {
  return std::make_unique<ChessboardLoop>();
}
std::unique_ptr<HandLoop> resizeLoop() {
  return std::make_unique<ResizeLoop>();
}
std::unique_ptr<HandLoop> logPolarLoop(int width, int height) {
  return std::make_unique<LogPolarLoop>(width, height);
}
std::unique_ptr<HandLoop> grayLoop() {
  return std::make_unique<GrayLoop>();
}

}  // namespace cvcomp::bench
