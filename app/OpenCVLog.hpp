#pragma once

namespace cvcomp {

// Quiets what OpenCV and FFmpeg print themselves (OpenCV's "[ WARN:...]" lines, FFmpeg's
// reports while reading or writing a video), so that cvcomp's own messages stand alone; with
// `verbose` OpenCV's warnings and errors and FFmpeg's errors are shown. OpenCV 4.6 offers no way
// to take its log lines into the program's own log. Call before OpenCV opens any video.
void setOpenCVVerbosity(bool verbose);

}  // namespace cvcomp
