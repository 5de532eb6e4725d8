#pragma once

#include <optional>

#include <opencv2/core.hpp>

#include "host/Composition.hpp"
#include "host/QCImage.hpp"
#include "host/QCPort.hpp"

namespace cvcomp {

// A frame as the host's frames are: an 8-bit gray, BGR or BGRA picture (rows top-down) copied
// into top-down BGRA bitmap memory. Throws std::invalid_argument for any other kind of picture.
Bitmap bitmapFromFrame(const cv::Mat& frame);

// Whether a port carries pictures: a host image port, or an OpenCV port of images.
bool carriesPicture(const QCPort& port);

// The picture a port holds, upright as a video of it shows it: a host image as BGRA, an OpenCV
// image with its own channels (1, 3 or 4; an OpenCV image's first row is the bottom of the
// picture, as the bridge to host images takes it). Nothing when the port holds no picture. The
// result is a picture of its own, which the caller may keep.
std::optional<cv::Mat> portPicture(const QCPort& port);

// A picture of portPicture's as the files of a run's --video hold it: 8-bit BGR, gray and BGRA
// converted, BGR copied, into `bgr` (whose memory is reused when it fits).
void bgrPicture(const cv::Mat& picture, cv::Mat& bgr);

// The composition's published picture, which every face shows as the composition's picture (a
// run's video, the GStreamer element's composition output): the first published port, in
// publishing order, that carries pictures. nullptr when none does.
const QCPort* publishedPicture(const Composition& composition);

}  // namespace cvcomp
