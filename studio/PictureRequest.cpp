#include "PictureRequest.hpp"

#include <civetweb.h>

#include <array>
#include <optional>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "JsonText.hpp"
#include "host/Quoted.hpp"
#include "host/patches/FramePictures.hpp"

namespace cvcomp {

namespace {

PictureAnswer refusal(int status, const std::string& message) {
  return {status, "application/json", "", jsonText({{"error", message}})};
}

// What the engine's thread hands over: the picture and its frame, or a refusal.
struct Taken {
  cv::Mat picture;
  std::uint64_t frame = 0;
  std::optional<PictureAnswer> refused;
};

Taken take(StudioSession& session, const std::string& path) {
  return session.call([&](Engine& engine) {
    Taken taken;
    const QCPort* port = nullptr;
    try {
      port = &engine.composition().port(path);
    } catch (const CompositionError& error) {
      taken.refused = refusal(404, error.what());
      return taken;
    }
    if (!carriesPicture(*port)) {
      taken.refused = refusal(400, inQuotes(path) + " carries " + std::string(port->kindName()) +
                                       " values, not pictures");
      return taken;
    }
    const std::optional<std::uint64_t> frame = session.state().frame;
    std::optional<cv::Mat> picture;
    if (frame && engine.framesProduced() > 0) picture = portPicture(*port);
    if (!picture) {
      taken.refused = refusal(404, inQuotes(path) + " holds no picture now");
      return taken;
    }
    taken.picture = std::move(*picture);
    taken.frame = *frame;
    return taken;
  });
}

}  // namespace

PictureAnswer pictureAnswer(StudioSession& session, std::string_view query) {
  // Longer than any port's name: a longer one names none.
  std::array<char, 1024> port{};
  if (mg_get_var(query.data(), query.size(), "port", port.data(), port.size()) <= 0) {
    return refusal(400, "/api/picture takes the port as ?port=ID.PORT");
  }
  if (std::string_view(port.data()).find('.') == std::string_view::npos) {
    return refusal(400, inQuotes(port.data()) + " does not name a port as \"patch.port\"");
  }
  Taken taken;
  std::vector<unsigned char> png;
  try {
    taken = take(session, port.data());
    if (taken.refused) return *taken.refused;
    cv::Mat bgr;
    bgrPicture(taken.picture, bgr);
    if (!cv::imencode(".png", bgr, png)) return refusal(500, "the picture cannot be encoded");
  } catch (const std::exception& error) {
    return refusal(500, error.what());
  }
  return {200, "image/png",
          "X-Frame: " + std::to_string(taken.frame) +
              "\r\nX-Channels: " + std::to_string(taken.picture.channels()) + "\r\n",
          std::string(png.begin(), png.end())};
}

}  // namespace cvcomp
