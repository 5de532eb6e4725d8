#include "OpenCVImageToQCImage.hpp"

#include <opencv2/imgproc.hpp>

#include "host/QCImage.hpp"
#include "host/QCPixelFormat.hpp"
#include "plugin/ImageOutput.hpp"

namespace cvcomp {

bool OpenCVImageToQCImage::execute(QCContext& context, double /*time*/,
                                   const QCStructure& /*arguments*/) {
  const cv::Mat* input = imageValue(inputImage);
  if (!input) {
    outputImage.setImageValue(nullptr);
    return true;
  }

  // Only the size decides whether the conversion buffer stays; its type is always 8-bit BGRA.
  guarded([&] {
    const cv::Mat& bgra = cvt.prepare(input->size(), CV_8UC4);
    switch (input->channels()) {
      case 1:
        cv::cvtColor(*input, bgra, cv::COLOR_GRAY2BGRA);
        break;
      case 3:
        cv::cvtColor(*input, bgra, cv::COLOR_BGR2BGRA);
        break;
      case 4:
        input->copyTo(bgra);
        break;
      default:
        return;  // no conversion: the buffer keeps what it held
    }
    cvt.markWritten();
  });
  // A buffer that no conversion has ever filled has nothing to show.
  if (!cvt.hasContent()) {
    outputImage.setImageValue(nullptr);
    return true;
  }

  const cv::Mat& bgra = cvt.mat();
  // The last frame's image is let go of first: when nobody else holds it, its pixel memory is
  // the very memory the new pixel buffer gets, still in cache.
  outputImage.setImageValue(nullptr);
  std::shared_ptr<QCImagePixelBuffer> pb = context.imageManager().createPixelBufferWithFormat(
      QCPixelFormat::pixelFormatBGRX8(), static_cast<std::size_t>(bgra.cols),
      static_cast<std::size_t>(bgra.rows));
  if (!pb) {
    outputImage.setImageValue(nullptr);
    return true;
  }
  pb->beginUpdatePixels();
  guarded([&] {
    // Rows are copied in order: the image's row 0 becomes the pixel buffer's first (bottom) row.
    const cv::Mat header(bgra.size(), CV_8UC4, pb->baseAddress(), pb->bytesPerRow());
    bgra.copyTo(header);
  });
  pb->endUpdatePixels();

  outputImage.setImageValue(std::make_shared<QCImage>(std::move(pb)));
  return true;
}

}  // namespace cvcomp
