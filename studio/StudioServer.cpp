#include "StudioServer.hpp"

#include <civetweb.h>

#include <array>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "Examples.hpp"
#include "JsonText.hpp"
#include "PictureRequest.hpp"
#include "SaveAs.hpp"
#include "SaveFile.hpp"
#include "StaticFiles.hpp"
#include "StudioFiles.hpp"
#include "Upload.hpp"
#include "TransportRequest.hpp"
#include "host/CompositionFile.hpp"
#include "host/EditJson.hpp"
#include "host/JsonReading.hpp"
#include "host/PatchCatalog.hpp"
#include "host/TextValues.hpp"

namespace cvcomp {

namespace {

using Json = nlohmann::ordered_json;

// Far more than any composition or batch of edits needs.
constexpr long long kMaxBody = 8LL << 20;
// civetweb gives each connection a thread of its own, for as long as it lasts, and a live
// connection lasts as long as its page: live connections are capped well below the threads, so
// that the API and the page's files always have threads free.
constexpr int kThreads = 64;
constexpr std::size_t kMaxLiveClients = 16;
// A request, headers and body, must arrive within this time, however slowly it trickles in; an
// idle connection is dropped after it.
constexpr std::chrono::milliseconds kRequestTime{5000};
// Where recordings are downloaded from, by name.
constexpr std::string_view kRecordingsPath = "/api/recordings/";

// The request being answered on this thread (civetweb answers each on a thread of its own), for
// the answers that read its query or headers.
thread_local const mg_connection* answering = nullptr;

std::optional<std::string_view> header(const mg_connection* connection, const char* name) {
  const char* value = mg_get_header(connection, name);
  return value ? std::optional<std::string_view>(value) : std::nullopt;
}

std::optional<std::string> queryToken(const mg_request_info* request) {
  if (!request->query_string) return std::nullopt;
  std::array<char, 256> token{};
  const std::string_view query = request->query_string;
  if (mg_get_var(query.data(), query.size(), "token", token.data(), token.size()) < 0) {
    return std::nullopt;
  }
  return std::string(token.data());
}

// A variable of the request's query ("?step=KEY"), empty without it.
std::string queryValue(const mg_connection* connection, const char* name) {
  const mg_request_info* request = mg_get_request_info(connection);
  if (!request->query_string) return {};
  std::array<char, 256> value{};
  const std::string_view query = request->query_string;
  if (mg_get_var(query.data(), query.size(), name, value.data(), value.size()) < 0) return {};
  return value.data();
}

void respond(mg_connection* connection, int status, const std::string& type,
             const std::string& body, const std::string& headers = {}) {
  mg_printf(connection,
            "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %zu\r\n"
            "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n%s"
            "Connection: close\r\n\r\n",
            status, mg_get_response_code_text(connection, status), type.c_str(), body.size(),
            headers.c_str());
  mg_write(connection, body.data(), body.size());
}

// The request's body, or the status and message of its refusal: larger than the limit, slower
// than the request time, or not UTF-8.
std::variant<std::string, std::pair<int, std::string>> body(mg_connection* connection) {
  const long long announced = mg_get_request_info(connection)->content_length;
  const std::pair<int, std::string> tooLarge{413, "the request is larger than 8 MiB"};
  if (announced > kMaxBody) return tooLarge;
  const auto end = std::chrono::steady_clock::now() + kRequestTime;
  std::string text;
  // On the heap: civetweb's threads have small stacks.
  std::vector<char> chunk(65536);
  int read = 0;
  while ((read = mg_read(connection, chunk.data(), chunk.size())) > 0) {
    text.append(chunk.data(), static_cast<std::size_t>(read));
    if (static_cast<long long>(text.size()) > kMaxBody) return tooLarge;
    if (std::chrono::steady_clock::now() > end) {
      return std::pair<int, std::string>{408, "the request took longer than 5 s to arrive"};
    }
  }
  if (const std::optional<std::size_t> at = invalidUtf8At(text)) {
    return std::pair<int, std::string>{
        400, "the request's body: byte " + std::to_string(*at + 1) + " is not UTF-8"};
  }
  return text;
}

int onRequest(mg_connection* connection, void* server) {
  return static_cast<StudioServer*>(server)->handle(connection);
}

int onWebsocketConnect(const mg_connection* connection, void* server) {
  return static_cast<StudioServer*>(server)->websocketRefused(connection);
}

void onWebsocketReady(mg_connection* connection, void* server) {
  static_cast<StudioServer*>(server)->websocketReady(connection);
}

int onWebsocketData(mg_connection* connection, int bits, char* data, std::size_t size,
                    void* server) {
  const int opcode = bits & 0x0f;
  if (opcode == MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE) return 0;
  if (opcode == MG_WEBSOCKET_OPCODE_TEXT) {
    static_cast<StudioServer*>(server)->hub().received(connection, std::string_view(data, size));
  } else if (opcode == MG_WEBSOCKET_OPCODE_BINARY) {
    // civetweb holds a message whole before it is seen here: a client that sends one larger than
    // any camera frame is closed.
    if (size > kMaxCameraMessage) return 0;
    static_cast<StudioServer*>(server)->cameraFrame(connection, std::string_view(data, size));
  }
  return 1;
}

void onWebsocketClose(const mg_connection* connection, void* server) {
  static_cast<StudioServer*>(server)->hub().closed(connection);
}

}  // namespace

struct StudioServer::Reply {
  int status = 200;
  std::string body;
  std::string headers{};  // each line with its CRLF
  static Reply error(int status, const std::string& message) {
    return {status, jsonText({{"error", message}})};
  }
  static Reply json(const nlohmann::ordered_json& document) { return {200, jsonText(document)}; }
};

// The API: each path with its methods, written once for the dispatch and for telling a method
// not allowed (405) from a path that does not exist (404).
struct StudioServer::Route {
  const char* path;
  const char* method;
  Reply (StudioServer::*answer)(const std::string& body);
};

const std::array<StudioServer::Route, 14> StudioServer::kRoutes{{
    {"/api/patches", "GET", &StudioServer::patches},
    {"/api/composition", "GET", &StudioServer::getComposition},
    {"/api/composition", "PUT", &StudioServer::putComposition},
    {"/api/edits", "POST", &StudioServer::edits},
    {"/api/transport", "GET", &StudioServer::getTransport},
    {"/api/transport", "POST", &StudioServer::postTransport},
    {"/api/save", "POST", &StudioServer::save},
    {"/api/examples", "GET", &StudioServer::examples},
    {"/api/open", "POST", &StudioServer::openExample},
    {"/api/undo", "POST", &StudioServer::undo},
    {"/api/redo", "POST", &StudioServer::redo},
    {"/api/history", "GET", &StudioServer::history},
    {"/api/record", "POST", &StudioServer::record},
    {"/api/camera", "GET", &StudioServer::camera},
}};

StudioServer::StudioServer(StudioOptions options, StudioSession& session, LiveHub& hub,
                           const QCNodeManager& manager)
    : options_(std::move(options)),
      session_(session),
      hub_(hub),
      manager_(manager),
      camera_(session),
      recorder_(session, hub),
      history_(hub) {
  // The relay keeps no reference to the server: it may outlive it with the engine.
  session_.call([this](Engine& engine) { engine.addEditObserver(history_.relay()); });
  const bool ipv6 = options_.host.find(':') != std::string::npos;
  const std::string listen =
      (ipv6 ? "[" + options_.host + "]" : options_.host) + ":" + std::to_string(options_.port);
  const std::string threads = std::to_string(kThreads);
  const std::string requestTime = std::to_string(kRequestTime.count());
  const char* configuration[] = {
      "listening_ports", listen.c_str(), "num_threads", threads.c_str(),
      // A request arrives whole within its time or its connection is dropped; no connection is
      // kept alive between requests.
      "request_timeout_ms", requestTime.c_str(), "enable_keep_alive", "no",
      // A live connection is pinged when quiet for 10 s (browsers answer by themselves); a client
      // that takes nothing for that long is dropped.
      "websocket_timeout_ms", "10000", "enable_websocket_ping_pong", "yes",
      // civetweb answers no cross-origin request of its own: a preflight gets what any other
      // foreign request gets.
      "access_control_allow_origin", "", "access_control_allow_methods", "",
      "access_control_allow_headers", "",
      // The page's files are checked for changes on every load.
      "static_file_cache_control", "no-cache", nullptr};
  mg_callbacks callbacks{};
  // civetweb's own reports are dropped: failures reach the caller as errors.
  callbacks.log_message = [](const mg_connection*, const char*) { return 1; };
  mg_init_data init{&callbacks, this, configuration};
  std::array<char, 256> reason{};
  unsigned code = 0;
  mg_error_data error{&code, reason.data(), reason.size()};
  context_ = mg_start2(&init, &error);
  if (!context_) throw std::runtime_error(listen + ": cannot listen: " + reason.data());
  std::array<mg_server_port, 4> ports{};
  if (mg_get_server_ports(context_, static_cast<int>(ports.size()), ports.data()) > 0) {
    port_ = ports[0].port;
  }
  rules_.emplace(options_.token, options_.host, port_);
  mg_set_request_handler(context_, "/", onRequest, this);
  mg_set_websocket_handler(context_, "/api/live", onWebsocketConnect, onWebsocketReady,
                           onWebsocketData, onWebsocketClose, this);
}

StudioServer::~StudioServer() {
  mg_stop(context_);
}

bool StudioServer::admitted(const mg_connection* connection) {
  const std::lock_guard lock(admittedMutex_);
  const auto now = std::chrono::steady_clock::now();
  std::erase_if(handshaking_,
                [now](const auto& entry) { return now - entry.second > kRequestTime; });
  if (hub_.clientCount() + handshaking_.size() >= kMaxLiveClients) return false;
  handshaking_.emplace(connection, now);
  return true;
}

void StudioServer::websocketReady(mg_connection* connection) {
  const std::lock_guard lock(admittedMutex_);
  hub_.connected(connection);
  handshaking_.erase(connection);
}

int StudioServer::websocketRefused(const mg_connection* connection) {
  const mg_request_info* request = mg_get_request_info(connection);
  Reply refusal;
  if (!rules_->hostAllowed(header(connection, "Host").value_or("")) ||
      !rules_->originAllowed(header(connection, "Origin"))) {
    refusal = Reply::error(403, "not from the studio's own page");
  } else if (!rules_->tokenAllowed(header(connection, "Authorization"), queryToken(request))) {
    refusal = Reply::error(401, "the access token is missing or wrong");
  } else if (!admitted(connection)) {
    refusal = Reply::error(503, "the studio serves at most " + std::to_string(kMaxLiveClients) +
                                    " live connections at once");
  } else {
    return 0;
  }
  // The refusal is answered before civetweb closes the connection.
  respond(const_cast<mg_connection*>(connection), refusal.status, "application/json", refusal.body);
  return 1;
}

int StudioServer::handle(mg_connection* connection) {
  const mg_request_info* request = mg_get_request_info(connection);
  const std::string method = request->request_method;
  const std::string path = request->local_uri ? request->local_uri : "";
  if (!rules_->hostAllowed(header(connection, "Host").value_or(""))) {
    respond(connection, 403, "application/json",
            Reply::error(403, "the Host header does not name this server").body);
    return 403;
  }
  if (!path.starts_with("/api/")) {
    const std::optional<std::filesystem::path> file = staticFile(options_.webFolder, path);
    if (method != "GET" && method != "HEAD") {
      respond(connection, 405, "application/json", Reply::error(405, "only GET").body);
      return 405;
    }
    if (!file) {
      respond(connection, 404, "application/json", Reply::error(404, "no such file").body);
      return 404;
    }
    mg_send_mime_file(connection, file->c_str(), contentType(*file).c_str());
    return 200;
  }
  Reply reply;
  const bool changes = method != "GET" && method != "HEAD";
  if (changes && !rules_->originAllowed(header(connection, "Origin"))) {
    reply = Reply::error(403, "not from the studio's own page");
  } else if (!rules_->tokenAllowed(header(connection, "Authorization"), queryToken(request))) {
    reply = Reply::error(401, "the access token is missing or wrong");
  } else if (path == "/api/picture") {
    // Bodiless, and answered in binary.
    const PictureAnswer answer =
        method == "GET"
            ? pictureAnswer(session_, request->query_string ? request->query_string : "")
            : PictureAnswer{405, "application/json", "",
                            Reply::error(405, method + " is not allowed on " + path).body};
    respond(connection, answer.status, answer.type, answer.body, answer.headers);
    return answer.status;
  } else if (path == "/api/upload") {
    if (method == "POST") return upload(connection);
    reply = Reply::error(405, method + " is not allowed on " + path);
  } else if (path.starts_with(kRecordingsPath) && method == "GET") {
    return download(connection, path.substr(kRecordingsPath.size()));
  } else {
    auto text = body(connection);
    if (const auto* refused = std::get_if<std::pair<int, std::string>>(&text)) {
      reply = Reply::error(refused->first, refused->second);
    } else {
      try {
        answering = connection;
        reply = api(method, path, std::get<std::string>(text));
      } catch (const CompositionError& error) {
        reply = Reply::error(400, error.what());
      } catch (const std::exception& error) {
        reply = Reply::error(500, error.what());
      }
    }
  }
  respond(connection, reply.status, "application/json", reply.body, reply.headers);
  return reply.status;
}

StudioServer::Reply StudioServer::api(const std::string& method, const std::string& path,
                                      const std::string& text) {
  bool known = false;
  for (const Route& route : kRoutes) {
    if (path != route.path) continue;
    if (method == route.method) return (this->*route.answer)(text);
    known = true;
  }
  return known ? Reply::error(405, method + " is not allowed on " + path)
               : Reply::error(404, "no such API: " + path);
}

StudioServer::Reply StudioServer::patches(const std::string&) {
  return {200, patchCatalogJson(manager_)};
}

// The document with the revision it is, for a page that follows the edits from there.
StudioServer::Reply StudioServer::getComposition(const std::string&) {
  auto [document, revision] = session_.call([](Engine& engine) {
    return std::pair{compositionDocument(engine.composition()), engine.revision()};
  });
  return {200, std::move(document), "X-Studio-Revision: " + std::to_string(revision) + "\r\n"};
}

StudioServer::Reply StudioServer::putComposition(const std::string& text) {
  const std::optional<std::filesystem::path> saved = file();
  session_.replace(loadCompositionText(text, options_.name, saved, manager_), saved);
  replaced();
  return getComposition({});
}

void StudioServer::replaced() {
  session_.call([this](Engine& engine) { hub_.replaced(engine.revision()); });
}

std::optional<std::filesystem::path> StudioServer::file() {
  const std::lock_guard lock(fileMutex_);
  return options_.file;
}

StudioServer::Reply StudioServer::edits(const std::string& text) {
  // A JSON array starts with its bracket; one edit alone is not a batch.
  const std::size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos || text[start] != '[') {
    return Reply::error(400, "the edits must be a JSON array of edits");
  }
  std::vector<CompositionEdit> batch = editsFromJson(text);
  // The page's own id, so that it knows its own batches among those every page is sent; consecutive
  // batches of one step key are one undo step.
  const std::string origin(header(answering, "X-Studio-Client").value_or(""));
  const std::string step = queryValue(answering, "step");
  const std::uint64_t revision = session_.call(
      [&](Engine& engine) { return history_.apply(engine, batch, origin, step).revision; });
  return Reply::json({{"ok", true}, {"revision", revision}});
}

StudioServer::Reply StudioServer::undo(const std::string&) {
  const auto revision = session_.call([this](Engine& engine) { return history_.undo(engine); });
  if (!revision) return Reply::error(409, "nothing to undo");
  return Reply::json({{"revision", *revision}});
}

StudioServer::Reply StudioServer::redo(const std::string&) {
  const auto revision = session_.call([this](Engine& engine) { return history_.redo(engine); });
  if (!revision) return Reply::error(409, "nothing to redo");
  return Reply::json({{"revision", *revision}});
}

StudioServer::Reply StudioServer::history(const std::string&) {
  const HistoryState state =
      session_.call([this](Engine& engine) { return history_.state(engine); });
  return Reply::json({{"revision", state.revision}, {"undo", state.undo}, {"redo", state.redo}});
}

StudioServer::Reply StudioServer::getTransport(const std::string&) {
  return Reply::json(transportJson(session_.state()));
}

StudioServer::Reply StudioServer::postTransport(const std::string& text) {
  const TransportRequest request = readTransportRequest(text);
  if (request.input) {
    if (const auto refusal = session_.switchInput(*request.input))
      return Reply::error(400, *refusal);
  }
  if (request.maxSpeed) session_.setMaxSpeed(*request.maxSpeed);
  if (request.loop) session_.setLoop(*request.loop);
  if (request.pictureRate) session_.setPictureRate(*request.pictureRate);
  if (request.action == "play") session_.play();
  if (request.action == "pause") session_.pause();
  if (request.action == "step") session_.step();
  if (request.frame) {
    if (const auto refusal = session_.seek(*request.frame)) return Reply::error(400, *refusal);
  }
  return getTransport({});
}

StudioServer::Reply StudioServer::examples(const std::string&) {
  return Reply::json(exampleList(examplesFolder()));
}

StudioServer::Reply StudioServer::openExample(const std::string& text) {
  const Json request = parseJsonText(text);
  if (!request.is_object()) throw CompositionError("open takes an object with \"example\"");
  expectOnly(request, {"example"}, "open");
  const std::string name = stringAt(request, "example", "open");
  const std::optional<std::filesystem::path> file = exampleFile(examplesFolder(), name);
  if (!file) return Reply::error(404, "no example named \"" + name + "\"");
  session_.replace(loadCompositionFile(*file, manager_), *file);
  replaced();
  return getComposition({});
}

namespace {

// The type a recording is downloaded as.
std::string recordingType(const std::filesystem::path& file) {
  return file.extension() == ".jsonl" ? "application/x-ndjson" : "video/x-msvideo";
}

// The running composition's document for a file in `folder`: a relative path that a patch
// resolves next to another file (an example opened from its folder) is written as the absolute
// path it names, so that the saved file still finds it.
std::string documentFor(const Composition& composition, const std::filesystem::path& folder) {
  Json document = parseJsonText(compositionDocument(composition));
  for (const Composition::Patch& entry : composition.patches()) {
    const std::optional<std::filesystem::path>& url = entry.instance->options().compositionURL;
    // A patch of no file resolves its paths in the studio's working folder.
    std::error_code noFolder;
    const std::filesystem::path from =
        url ? *url : std::filesystem::current_path(noFolder) / "composition.json";
    if (from.parent_path() == folder) continue;
    const auto inputs = document["patches"][entry.id].find("inputs");
    if (inputs == document["patches"][entry.id].end()) continue;
    for (auto& [name, value] : inputs->items()) {
      if (!value.is_string()) continue;
      const std::filesystem::path path = value.get<std::string>();
      std::error_code missing;
      // Named sources (camera:N, pattern:WxH) and text that names no file stay as they are.
      if (path.empty() || path.is_absolute() || path.string().find(':') != std::string::npos ||
          !std::filesystem::exists(from.parent_path() / path, missing)) {
        continue;
      }
      value = (from.parent_path() / path).lexically_normal().string();
    }
  }
  return document.dump(2, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

// Save writes the studio's file; Save As, {"file": "name.json"}, a file in the working folder or
// below it, which is the studio's file from then on.
StudioServer::Reply StudioServer::save(const std::string& text) {
  std::optional<std::string> requested;
  if (text.find_first_not_of(" \t\r\n") != std::string::npos) {
    const Json request = parseJsonText(text);
    if (!request.is_object()) throw CompositionError("save takes an object with \"file\"");
    expectOnly(request, {"file"}, "save");
    requested = stringAt(request, "file", "save");
  }
  std::optional<std::filesystem::path> target = file();
  if (!requested && !target) {
    return {409, jsonText({{"error",
                            "the studio was started without a composition file; "
                            "save it as a file: {\"file\": \"name.json\"}"},
                           {"needsFile", true}})};
  }
  try {
    const std::string document = session_.call([&](Engine& engine) {
      std::error_code noFolder;
      if (requested) {
        target =
            saveAsTarget(*requested, std::filesystem::current_path(noFolder), engine.composition());
      }
      return documentFor(engine.composition(), target->parent_path());
    });
    saveWhole(*target, document + '\n');
  } catch (const SaveError& error) {
    return Reply::error(error.refused ? 409 : 500, error.what());
  }
  if (requested) {
    const std::lock_guard lock(fileMutex_);
    options_.file = target;
  }
  return Reply::json({{"saved", target->string()}});
}

int StudioServer::upload(mg_connection* connection) {
  const char* query = mg_get_request_info(connection)->query_string;
  // On the heap: civetweb's threads have small stacks.
  std::vector<char> name(4096);
  if (!query || mg_get_var(query, std::strlen(query), "name", name.data(), name.size()) < 0) {
    name.front() = '\0';
  }
  const Upload upload = receiveUpload(connection, name.data());
  Reply reply = Reply::error(upload.status, upload.message);
  if (upload.file) {
    // A file that cannot be an input is not kept.
    if (const auto refusal = session_.switchInput(upload.file->string())) {
      std::error_code ignored;
      std::filesystem::remove(*upload.file, ignored);
      reply = Reply::error(400, *refusal);
    } else {
      reply = Reply::json(
          {{"input", upload.file->string()}, {"transport", transportJson(session_.state())}});
    }
  }
  respond(connection, reply.status, "application/json", reply.body);
  return reply.status;
}

int StudioServer::download(mg_connection* connection, const std::string& name) {
  const std::filesystem::path file = recordingsFolder() / name;
  std::error_code missing;
  if (safeFileName(name) != name || !std::filesystem::is_regular_file(file, missing)) {
    respond(connection, 404, "application/json",
            Reply::error(404, "no recording named \"" + name + "\"").body);
    return 404;
  }
  const std::string headers = "Content-Disposition: attachment; filename=\"" + name +
                              "\"\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff";
  mg_send_mime_file2(connection, file.c_str(), recordingType(file).c_str(), headers.c_str());
  return 200;
}

void StudioServer::cameraFrame(const mg_connection* connection, std::string_view message) {
  if (const std::optional<std::string> refusal = camera_.received(message)) {
    hub_.tell(connection, jsonText({{"type", "error"}, {"error", *refusal}}));
  }
}

StudioServer::Reply StudioServer::record(const std::string& text) {
  const Json request = parseJsonText(text);
  if (!request.is_object()) throw CompositionError("record takes an object with \"action\"");
  expectOnly(request, {"action", "port"}, "record");
  const std::string action = stringAt(request, "action", "record");
  if (action == "stop") return Reply::json(recorder_.stop());
  if (action != "start") {
    throw CompositionError("record: unknown action \"" + action + "\" (start, stop)");
  }
  std::optional<std::string> port;
  if (request.contains("port")) port = stringAt(request, "port", "record");
  return Reply::json(recorder_.start(port));
}

StudioServer::Reply StudioServer::camera(const std::string&) {
  return Reply::json(countsJson(camera_.counts()));
}

}  // namespace cvcomp
