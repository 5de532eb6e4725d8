#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "LiveHub.hpp"
#include "StudioServer.hpp"
#include "StudioSession.hpp"

namespace cvcomp {

// What the studio is started with.
struct StudioLaunch {
  std::optional<std::filesystem::path> composition;  // none: an empty composition
  std::optional<std::string> input;                  // in place of the composition's own
  std::string host = "127.0.0.1";
  int port = 0;                      // 0 takes a free port
  std::optional<std::string> token;  // none: a fresh random one
};

// Why the studio did not start, in one line. `usage` for a refused composition or input
// argument; otherwise an input, the page or the address could not be opened.
class StudioStartError : public std::runtime_error {
 public:
  StudioStartError(const std::string& message, bool isUsage)
      : std::runtime_error(message), usage(isUsage) {}
  bool usage;
};

// The studio: the composition running on the engine's thread, playing from the start, its live
// clients and the server of the page and the API, with its access token.
class Studio {
 public:
  // Throws StudioStartError.
  Studio(const StudioLaunch& launch, const QCNodeManager& manager);
  Studio(const Studio&) = delete;
  Studio& operator=(const Studio&) = delete;
  ~Studio();

  // The page's address with its token, as a browser on this machine opens it.
  const std::string& address() const { return address_; }
  // Ends the frame in progress and the engine's thread; the server answers no more edits.
  void stopEngine();

 private:
  LiveHub hub_;
  std::unique_ptr<StudioSession> session_;
  std::optional<StudioServer> server_;
  std::string address_;
};

}  // namespace cvcomp
