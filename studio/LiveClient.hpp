#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>

#include "WatchRequest.hpp"

struct mg_connection;

namespace cvcomp {

// What a client is sent for one frame.
struct LiveFrame {
  std::uint64_t frame = 0;
  std::uint64_t sequence = 0;  // the count of frames evaluated, which only goes up
  std::string text;            // the frame's JSON message
  std::vector<std::pair<std::string, cv::Mat>> pictures;  // "id.port" and its own copy
};

// One WebSocket client: its watch request and a sender thread that writes the newest frame.
class LiveClient {
 public:
  explicit LiveClient(mg_connection* connection);
  LiveClient(const LiveClient&) = delete;
  LiveClient& operator=(const LiveClient&) = delete;
  // Ends the sender thread after the write in progress.
  ~LiveClient();

  void setWatch(Watch watch);
  Watch watch() const;
  // Whether a frame taken now keeps to the client's rate.
  bool due(std::chrono::steady_clock::time_point now) const;
  // Hands over the newest frame, replacing one not sent yet.
  void offer(LiveFrame frame, std::chrono::steady_clock::time_point now);
  // Hands over a text message to send after the frame waiting, replacing one not sent yet; a
  // frame offered later drops it.
  void offerText(std::string text);
  // Queues a text message that is never replaced nor dropped by a frame: they go in order, before
  // the frame waiting. A client that lets more than kQueuedTexts pile up loses the oldest (a page
  // sees the gap in the revisions and loads the composition again).
  void queueText(std::string text);
  static constexpr std::size_t kQueuedTexts = 256;
  // Sends a text message at once (an answer to the client's request).
  void sendText(const std::string& text);

 private:
  void sendLoop();
  bool write(int opcode, const void* data, std::size_t size);

  mg_connection* connection_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  Watch watch_;
  std::chrono::steady_clock::time_point lastTaken_;
  std::optional<LiveFrame> pending_;
  std::optional<std::string> pendingText_;
  std::deque<std::string> queuedTexts_;
  bool closing_ = false;
  std::mutex writeMutex_;
  std::thread sender_;
};

}  // namespace cvcomp
