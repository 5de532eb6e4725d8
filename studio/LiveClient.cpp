#include "LiveClient.hpp"

#include <civetweb.h>

#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "JsonText.hpp"

namespace cvcomp {

namespace {

// The picture as JPEG, scaled down so that its longer side is at most `maxSide`.
std::vector<unsigned char> previewJpeg(const cv::Mat& picture, int maxSide) {
  cv::Mat shown = picture;
  const int longer = std::max(picture.cols, picture.rows);
  if (longer > maxSide) {
    const double scale = static_cast<double>(maxSide) / longer;
    const cv::Size size(std::max(1, static_cast<int>(std::lround(picture.cols * scale))),
                        std::max(1, static_cast<int>(std::lround(picture.rows * scale))));
    cv::resize(picture, shown, size, 0, 0, cv::INTER_AREA);
  }
  if (shown.channels() == 4) cv::cvtColor(shown, shown, cv::COLOR_BGRA2BGR);
  std::vector<unsigned char> jpeg;
  cv::imencode(".jpg", shown, jpeg, {cv::IMWRITE_JPEG_QUALITY, 80});
  return jpeg;
}

// A picture message: the length of a JSON header as 4 bytes, least significant first, the
// header {"type":"picture","frame":N,"seq":S,"port":"id.port"}, then the JPEG.
std::vector<unsigned char> pictureMessage(const LiveFrame& frame, const std::string& port,
                                          const std::vector<unsigned char>& jpeg) {
  const std::string header = jsonText(nlohmann::ordered_json{
      {"type", "picture"}, {"frame", frame.frame}, {"seq", frame.sequence}, {"port", port}});
  std::vector<unsigned char> message;
  message.reserve(4 + header.size() + jpeg.size());
  for (int shift = 0; shift < 32; shift += 8) {
    message.push_back(static_cast<unsigned char>(header.size() >> shift));
  }
  message.insert(message.end(), header.begin(), header.end());
  message.insert(message.end(), jpeg.begin(), jpeg.end());
  return message;
}

}  // namespace

LiveClient::LiveClient(mg_connection* connection)
    : connection_(connection), sender_([this] { sendLoop(); }) {}

LiveClient::~LiveClient() {
  {
    const std::lock_guard lock(mutex_);
    closing_ = true;
  }
  wake_.notify_all();
  sender_.join();
}

void LiveClient::setWatch(Watch watch) {
  const std::lock_guard lock(mutex_);
  watch_ = std::move(watch);
}

Watch LiveClient::watch() const {
  const std::lock_guard lock(mutex_);
  return watch_;
}

bool LiveClient::due(std::chrono::steady_clock::time_point now) const {
  const std::lock_guard lock(mutex_);
  return watch_.fps <= 0.0 || now - lastTaken_ >= std::chrono::duration<double>(1.0 / watch_.fps);
}

void LiveClient::offer(LiveFrame frame, std::chrono::steady_clock::time_point now) {
  {
    const std::lock_guard lock(mutex_);
    pending_ = std::move(frame);
    // A stopped transport not reported yet is over once frames come again.
    pendingText_.reset();
    lastTaken_ = now;
  }
  wake_.notify_all();
}

void LiveClient::offerText(std::string text) {
  {
    const std::lock_guard lock(mutex_);
    pendingText_ = std::move(text);
  }
  wake_.notify_all();
}

void LiveClient::queueText(std::string text) {
  {
    const std::lock_guard lock(mutex_);
    queuedTexts_.push_back(std::move(text));
    if (queuedTexts_.size() > kQueuedTexts) queuedTexts_.pop_front();
  }
  wake_.notify_all();
}

void LiveClient::sendText(const std::string& text) {
  write(MG_WEBSOCKET_OPCODE_TEXT, text.data(), text.size());
}

bool LiveClient::write(int opcode, const void* data, std::size_t size) {
  const std::lock_guard lock(writeMutex_);
  mg_lock_connection(connection_);
  const int written = mg_websocket_write(connection_, opcode, static_cast<const char*>(data), size);
  mg_unlock_connection(connection_);
  return written > 0;
}

void LiveClient::sendLoop() {
  while (true) {
    std::optional<LiveFrame> frame;
    std::optional<std::string> text;
    std::deque<std::string> queued;
    int maxSide = 0;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock,
                 [this] { return closing_ || pending_ || pendingText_ || !queuedTexts_.empty(); });
      if (closing_) return;
      queued.swap(queuedTexts_);
      frame.swap(pending_);
      text.swap(pendingText_);
      maxSide = watch_.maxSide;
    }
    bool sent = true;
    for (const std::string& message : queued) {
      if (sent) sent = write(MG_WEBSOCKET_OPCODE_TEXT, message.data(), message.size());
    }
    if (frame && sent) {
      sent = write(MG_WEBSOCKET_OPCODE_TEXT, frame->text.data(), frame->text.size());
      for (const auto& [port, picture] : frame->pictures) {
        if (!sent) break;
        const std::vector<unsigned char> message =
            pictureMessage(*frame, port, previewJpeg(picture, maxSide));
        sent = write(MG_WEBSOCKET_OPCODE_BINARY, message.data(), message.size());
      }
    }
    if (sent && text) sent = write(MG_WEBSOCKET_OPCODE_TEXT, text->data(), text->size());
    if (!sent) return;
  }
}

}  // namespace cvcomp
