#include "CameraFeed.hpp"

#include <mutex>

#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include "StudioSession.hpp"
#include "host/JsonReading.hpp"
#include "host/patches/FramePictures.hpp"
#include "host/patches/FrameReader.hpp"
#include "host/patches/PictureSize.hpp"

namespace cvcomp {

// What the connections and the engine's thread share: the frame waiting, whether work to take it
// is posted, the counts and the last failure to evaluate a frame. Posted work holds it, so that it
// outlives the feed.
struct CameraFeed::Slot {
  std::mutex mutex;
  std::optional<std::string> waiting;  // a JPEG whose size was checked
  std::optional<double> time;
  bool posted = false;
  Counts counts;
  std::optional<std::string> failure;
};

namespace {

// The JPEG of a camera message, whose header declares a size a frame may have, with its time;
// throws CompositionError naming what is wrong. Nothing is decoded yet.
std::pair<std::string_view, std::optional<double>> cameraFrame(std::string_view message) {
  const char* context = "a camera frame";
  if (message.size() < 4) throw CompositionError("a camera frame: shorter than its header");
  std::size_t length = 0;
  for (int i = 3; i >= 0; --i) length = length << 8 | static_cast<unsigned char>(message[i]);
  if (length > message.size() - 4)
    throw CompositionError("a camera frame: its header is cut short");
  const nlohmann::ordered_json header = parseJsonText(message.substr(4, length));
  if (!header.is_object() || header.value("type", "") != "camera") {
    throw CompositionError("a camera frame's header must be {\"type\": \"camera\", \"time\": T}");
  }
  expectOnly(header, {"type", "time"}, context);
  std::optional<double> time;
  if (header.contains("time")) time = numberAt(header, "time", context);
  const std::string_view jpeg = message.substr(4 + length);
  const std::optional<PictureSize> size = pictureSizeOf(jpeg);
  if (!size || jpeg.substr(0, 3) != "\xFF\xD8\xFF") {
    throw CompositionError("a camera frame: not a JPEG picture");
  }
  const auto most = static_cast<std::uint64_t>(kMaxFrameSide);
  if (size->width > most || size->height > most) {
    throw CompositionError("a camera frame: " + std::to_string(size->width) + " × " +
                           std::to_string(size->height) + " pixels, more than the " +
                           std::to_string(most) + " × " + std::to_string(most) +
                           " a frame may have");
  }
  return {jpeg, time};
}

std::shared_ptr<QCImage> decoded(const std::string& jpeg) {
  const cv::Mat bytes(1, static_cast<int>(jpeg.size()), CV_8U, const_cast<char*>(jpeg.data()));
  const cv::Mat frame = cv::imdecode(bytes, cv::IMREAD_COLOR);
  if (frame.empty()) throw CompositionError("a camera frame: the JPEG cannot be decoded");
  return std::make_shared<QCImage>(bitmapFromFrame(frame));
}

}  // namespace

CameraFeed::CameraFeed(StudioSession& session)
    : session_(session), slot_(std::make_shared<Slot>()) {}

CameraFeed::~CameraFeed() = default;

std::optional<std::string> CameraFeed::received(std::string_view message) {
  std::string jpeg;
  std::optional<double> time;
  try {
    const auto [bytes, at] = cameraFrame(message);
    jpeg = bytes;
    time = at;
  } catch (const std::exception& error) {
    return error.what();
  }
  std::optional<std::string> failure;
  bool post = false;
  {
    const std::lock_guard lock(slot_->mutex);
    ++slot_->counts.received;
    if (slot_->waiting) ++slot_->counts.dropped;
    slot_->waiting = std::move(jpeg);
    slot_->time = time;
    post = !std::exchange(slot_->posted, true);
    failure = std::exchange(slot_->failure, std::nullopt);
  }
  if (post) {
    session_.post([session = &session_, slot = slot_](Engine&) {
      std::optional<std::string> taken;
      std::optional<double> at;
      {
        const std::lock_guard lock(slot->mutex);
        taken = std::exchange(slot->waiting, std::nullopt);
        at = slot->time;
        slot->posted = false;
      }
      std::optional<std::string> refusal;
      try {
        session->feed(decoded(*taken), at);
      } catch (const std::exception& error) {
        refusal = error.what();
      }
      const std::lock_guard lock(slot->mutex);
      if (refusal) {
        slot->failure = refusal;
      } else {
        ++slot->counts.processed;
      }
    });
  }
  return failure;
}

CameraFeed::Counts CameraFeed::counts() const {
  const std::lock_guard lock(slot_->mutex);
  return slot_->counts;
}

nlohmann::ordered_json countsJson(const CameraFeed::Counts& counts) {
  return {
      {"received", counts.received}, {"processed", counts.processed}, {"dropped", counts.dropped}};
}

}  // namespace cvcomp
