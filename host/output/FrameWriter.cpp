#include "FrameWriter.hpp"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <limits>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "host/patches/FramePictures.hpp"

namespace cvcomp {

namespace {

// The containers and the codec tags written into them: tags that FFmpeg's muxers take as they
// are (for another, OpenCV prints its own "tag ... is not supported" lines and falls back).
struct VideoFormat {
  const char* extension;
  int fourcc;
};
const VideoFormat kVideoFormats[] = {
    {".avi", cv::VideoWriter::fourcc('M', 'J', 'P', 'G')},
    {".mkv", cv::VideoWriter::fourcc('M', 'J', 'P', 'G')},
    {".mp4", cv::VideoWriter::fourcc('m', 'p', '4', 'v')},
    {".m4v", cv::VideoWriter::fourcc('m', 'p', '4', 'v')},
    {".mov", cv::VideoWriter::fourcc('m', 'p', '4', 'v')},
};
const char* const kPictureExtensions[] = {".png", ".jpg", ".jpeg", ".bmp", ".tif", ".tiff", ".ppm"};

// What a video needs beyond its frames: its index grows by at most this much per frame (an AVI
// entry takes 16 bytes and an OpenDML one 8, an MP4 sample 12 to 20), and the encoder's buffer
// and the trailer written at close stay well within the fixed part.
constexpr std::uintmax_t kIndexBytesPerFrame = 64;
constexpr std::uintmax_t kTrailerBytes = 256 * 1024;

std::string lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string extensionOf(const std::string& name) {
  return lowered(std::filesystem::path(name).extension().string());
}

const VideoFormat* videoFormat(const std::string& extension) {
  for (const VideoFormat& format : kVideoFormats) {
    if (extension == format.extension) return &format;
  }
  return nullptr;
}

bool isPictureExtension(const std::string& extension) {
  return std::find(std::begin(kPictureExtensions), std::end(kPictureExtensions), extension) !=
         std::end(kPictureExtensions);
}

// "(.a, .b, ...)"
std::string listed(const auto& extensions, auto extensionOfEntry) {
  std::string list;
  for (const auto& entry : extensions) {
    list += list.empty() ? "(" : ", ";
    list += extensionOfEntry(entry);
  }
  return list + ")";
}

std::string videoExtensions() {
  return listed(kVideoFormats, [](const VideoFormat& format) { return format.extension; });
}

std::string pictureExtensions() {
  return listed(kPictureExtensions, [](const char* extension) { return extension; });
}

// The printf-style frame number of a numbered name: its position and length.
struct FrameNumber {
  std::size_t at;
  std::size_t length;
};

// The frame number when `name` holds exactly one, "%d" or "%0Nd" with one digit N.
std::optional<FrameNumber> frameNumberOf(const std::string& name) {
  const std::size_t percent = name.find('%');
  if (percent == std::string::npos || name.find('%', percent + 1) != std::string::npos) {
    return std::nullopt;
  }
  std::size_t at = percent + 1;
  if (at + 1 < name.size() && name[at] == '0' &&
      std::isdigit(static_cast<unsigned char>(name[at + 1]))) {
    at += 2;
  }
  if (at >= name.size() || name[at] != 'd') return std::nullopt;
  return FrameNumber{percent, at + 1 - percent};
}

// How far `file` may still grow: the space its file system has free, within the process's
// file-size limit; with the error that meeting the smaller one gives.
struct Room {
  std::uintmax_t bytes = std::numeric_limits<std::uintmax_t>::max();
  int error = ENOSPC;
};

Room roomFor(const std::string& file) {
  Room room;
  const std::filesystem::path folder = std::filesystem::path(file).parent_path();
  struct statvfs system {};
  if (::statvfs(folder.empty() ? "." : folder.c_str(), &system) == 0) {
    room.bytes = static_cast<std::uintmax_t>(system.f_bavail) * system.f_frsize;
  }
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    struct stat status {};
    const std::uintmax_t size =
        ::stat(file.c_str(), &status) == 0 ? static_cast<std::uintmax_t>(status.st_size) : 0;
    const std::uintmax_t left = limit.rlim_cur > size ? limit.rlim_cur - size : 0;
    if (left < room.bytes) room = {left, EFBIG};
  }
  return room;
}

}  // namespace

std::optional<std::string> videoNameProblem(const std::string& name) {
  const std::string extension = extensionOf(name);
  const std::string videos = videoExtensions();
  const std::string pictures = pictureExtensions();
  if (name.find('%') != std::string::npos) {
    if (!frameNumberOf(name)) return "a numbered name holds exactly one %d (or %05d)";
    if (!isPictureExtension(extension)) return "numbered frames are pictures " + pictures;
    return std::nullopt;
  }
  if (isPictureExtension(extension) || videoFormat(extension)) return std::nullopt;
  if (extension.empty())
    return "no extension tells a video " + videos + " or a picture " + pictures;
  return "\"" + extension + "\" is neither a video " + videos + " nor a picture " + pictures;
}

bool isNumberedFrameName(const std::string& pattern, const std::string& file) {
  const std::string name = std::filesystem::path(pattern).filename().string();
  const std::optional<FrameNumber> number = frameNumberOf(name);
  if (!number) return false;
  const std::string before = name.substr(0, number->at);
  const std::string after = name.substr(number->at + number->length);
  if (file.size() <= before.size() + after.size() || !file.starts_with(before) ||
      !file.ends_with(after)) {
    return false;
  }
  const std::string digits = file.substr(before.size(), file.size() - before.size() - after.size());
  return std::all_of(digits.begin(), digits.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

FrameWriter::FrameWriter(std::string name, double fps)
    : name_(std::move(name)),
      extension_(extensionOf(name_)),
      numbered_(name_.find('%') != std::string::npos),
      picture_(isPictureExtension(extension_)),
      fps_(fps) {
  if (const auto problem = videoNameProblem(name_)) throw OutputError(name_, *problem);
}

void FrameWriter::write(const cv::Mat& picture, std::uint64_t frame) {
  bgrPicture(picture, bgr_);
  if (!picture_) {
    writeVideoFrame();
  } else if (numbered_) {
    std::string file(name_.size() + 32, '\0');
    const int length =
        std::snprintf(file.data(), file.size(), name_.c_str(), static_cast<int>(frame));
    file.resize(static_cast<std::size_t>(std::max(length, 0)));
    writePicture(file);
  } else {
    writePicture(name_);
  }
  ++written_;
}

// cv::imwrite neither reports every failed write nor removes what it left of the picture, so
// the picture is encoded in memory and written through a checked file under a temporary name.
void FrameWriter::writePicture(const std::string& file) {
  bool encoded = false;
  try {
    encoded = cv::imencode(extension_, bgr_, encoded_);
  } catch (const cv::Exception& error) {
    throw OutputError(file, error.err);
  }
  if (!encoded) throw OutputError(file, "cannot be encoded as " + extension_);
  const std::string partial = file + ".part";
  try {
    OutputFile out(partial);
    out.append({reinterpret_cast<const char*>(encoded_.data()), encoded_.size()});
    out.close();
  } catch (const OutputError& error) {
    ::unlink(partial.c_str());
    throw OutputError(file, error.reason());
  }
  if (::rename(partial.c_str(), file.c_str()) != 0) {
    const int number = errno;
    ::unlink(partial.c_str());
    throw OutputError::fromErrno(file, number);
  }
}

void FrameWriter::writeVideoFrame() {
  if (!video_.isOpened()) {
    // Creating the file first names the reason when it cannot be, which the video writer does not.
    OutputFile(name_).close();
  } else if (bgr_.size() != videoSize_) {
    // A video keeps the size of its first frame.
    cv::resize(bgr_, bgr_, videoSize_);
  }
  const Room room = roomFor(name_);
  if (room.bytes <
      bgr_.total() * bgr_.elemSize() + kIndexBytesPerFrame * (written_ + 1) + kTrailerBytes) {
    if (video_.isOpened()) {
      video_.release();
    } else {
      ::unlink(name_.c_str());
    }
    throw OutputError::fromErrno(name_, room.error);
  }
  if (!video_.isOpened()) {
    videoSize_ = bgr_.size();
    if (!video_.open(name_, cv::CAP_FFMPEG, videoFormat(extension_)->fourcc, fps_, videoSize_)) {
      throw OutputError(name_, "cannot be written as a video");
    }
  }
  video_.write(bgr_);
}

void FrameWriter::close() {
  if (!video_.isOpened()) return;
  video_.release();
  cv::VideoCapture reader(name_, cv::CAP_FFMPEG);
  const double frames = reader.isOpened() ? reader.get(cv::CAP_PROP_FRAME_COUNT) : 0.0;
  if (frames != static_cast<double>(written_)) {
    throw OutputError(name_, "the video could not be written whole: it holds " +
                                 std::to_string(static_cast<std::uint64_t>(std::max(frames, 0.0))) +
                                 " of the " + std::to_string(written_) + " frames written");
  }
}

}  // namespace cvcomp
