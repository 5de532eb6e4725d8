#include "FramePictures.hpp"

#include <stdexcept>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "host/OpenCVObject.hpp"
#include "host/QCObjectPorts.hpp"

namespace cvcomp {

Bitmap bitmapFromFrame(const cv::Mat& frame) {
  const int channels = frame.channels();
  if (frame.depth() != CV_8U || (channels != 1 && channels != 3 && channels != 4) ||
      frame.dims != 2 || frame.empty()) {
    throw std::invalid_argument("a frame must be an 8-bit gray, BGR or BGRA picture");
  }
  Bitmap bitmap =
      Bitmap::allocate(static_cast<std::size_t>(frame.cols), static_cast<std::size_t>(frame.rows));
  const cv::Mat bgra(frame.size(), CV_8UC4, bitmap.data.get(), bitmap.bytesPerRow);
  if (channels == 4) {
    frame.copyTo(bgra);
  } else {
    cv::cvtColor(frame, bgra, channels == 1 ? cv::COLOR_GRAY2BGRA : cv::COLOR_BGR2BGRA);
  }
  return bitmap;
}

bool carriesPicture(const QCPort& port) {
  return port.kind() == PortKind::Image || openCVTypeOf(port) == kOpenCVTypeImage;
}

std::optional<cv::Mat> portPicture(const QCPort& port) {
  if (port.kind() == PortKind::Image) {
    const std::shared_ptr<QCImage>& image = static_cast<const QCImagePort&>(port).imageValue();
    if (!image) return std::nullopt;
    const auto bitmap = image->createRepresentationOfType(QCImage::kBitmapRepresentation);
    if (!bitmap) return std::nullopt;
    // The representation owns its memory only while it lives: keep a copy.
    return cv::Mat(static_cast<int>(bitmap->pixelsHigh()), static_cast<int>(bitmap->pixelsWide()),
                   CV_8UC4, bitmap->bitmapData(), bitmap->bytesPerRow())
        .clone();
  }
  if (openCVTypeOf(port) != kOpenCVTypeImage) return std::nullopt;
  const std::shared_ptr<HostObject>& box = static_cast<const QCObjectPort&>(port).object();
  if (!box) return std::nullopt;
  const auto* mat = static_cast<const cv::Mat*>(static_cast<const OpenCVObject&>(*box).value());
  if (!mat || mat->empty()) return std::nullopt;
  cv::Mat upright;
  cv::flip(*mat, upright, 0);
  return upright;
}

void bgrPicture(const cv::Mat& picture, cv::Mat& bgr) {
  if (picture.channels() == 3) {
    picture.copyTo(bgr);
  } else {
    cv::cvtColor(picture, bgr, picture.channels() == 1 ? cv::COLOR_GRAY2BGR : cv::COLOR_BGRA2BGR);
  }
}

const QCPort* publishedPicture(const Composition& composition) {
  for (const QCPort* port : composition.published()) {
    if (carriesPicture(*port)) return port;
  }
  return nullptr;
}

}  // namespace cvcomp
