#pragma once

#include <array>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "AccessRules.hpp"
#include "CameraFeed.hpp"
#include "EditHistory.hpp"
#include "LiveHub.hpp"
#include "Recorder.hpp"
#include "StudioSession.hpp"

struct mg_connection;
struct mg_context;

namespace cvcomp {

// What the studio's server is started with.
struct StudioOptions {
  std::string host = "127.0.0.1";
  int port = 0;  // 0 takes a free port
  std::string token;
  std::filesystem::path webFolder;
  std::string name;                           // the composition's name in messages
  std::optional<std::filesystem::path> file;  // where /api/save writes, if anywhere
};

// The HTTP and WebSocket server of the studio: the page's files, the JSON API over a running
// session and the live WebSocket, every request checked by the access rules.
class StudioServer {
 public:
  // Listens at once; throws std::runtime_error with civetweb's reason when it cannot.
  StudioServer(StudioOptions options, StudioSession& session, LiveHub& hub,
               const QCNodeManager& manager);
  StudioServer(const StudioServer&) = delete;
  StudioServer& operator=(const StudioServer&) = delete;
  // Closes every connection, waiting for the requests in progress.
  ~StudioServer();

  int port() const { return port_; }

  // civetweb's callbacks.
  int handle(mg_connection* connection);
  int websocketRefused(const mg_connection* connection);
  void websocketReady(mg_connection* connection);
  LiveHub& hub() { return hub_; }
  // A binary live message: a frame of the page's camera (CameraFeed).
  void cameraFrame(const mg_connection* connection, std::string_view message);
  // Ends a recording in progress while the engine still runs.
  void finishRecording() { recorder_.finish(); }

 private:
  struct Reply;
  struct Route;
  static const std::array<Route, 14> kRoutes;
  // Whether a live connection may open now; if so it counts against the cap from now on.
  bool admitted(const mg_connection* connection);
  Reply api(const std::string& method, const std::string& path, const std::string& body);
  Reply patches(const std::string& body);
  Reply getComposition(const std::string& body);
  Reply putComposition(const std::string& body);
  Reply edits(const std::string& body);
  Reply getTransport(const std::string& body);
  Reply postTransport(const std::string& body);
  Reply save(const std::string& body);
  Reply examples(const std::string& body);
  Reply openExample(const std::string& body);
  Reply undo(const std::string& body);
  Reply redo(const std::string& body);
  Reply history(const std::string& body);
  // Tells the live clients of a replaced composition; undo starts afresh.
  void replaced();
  // Where Save writes: the file the studio started with, or the last one Save As wrote.
  std::optional<std::filesystem::path> file();
  Reply record(const std::string& body);
  Reply camera(const std::string& body);
  // The requests whose bodies are not JSON: an upload's file and a recording's download.
  int upload(mg_connection* connection);
  int download(mg_connection* connection, const std::string& name);

  StudioOptions options_;
  StudioSession& session_;
  LiveHub& hub_;
  const QCNodeManager& manager_;
  CameraFeed camera_;
  Recorder recorder_;
  mg_context* context_ = nullptr;
  int port_ = 0;
  std::optional<AccessRules> rules_;
  EditHistory history_;
  std::mutex fileMutex_;
  // Live connections admitted whose handshake has not ended yet, with when they were admitted:
  // they count against the cap until they are ready, or for the request time if they never are.
  std::mutex admittedMutex_;
  std::unordered_map<const mg_connection*, std::chrono::steady_clock::time_point> handshaking_;
};

}  // namespace cvcomp
