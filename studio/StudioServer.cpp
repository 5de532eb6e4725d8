#include "StudioServer.hpp"

#include <civetweb.h>

#include <array>
#include <fstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "Examples.hpp"
#include "StaticFiles.hpp"
#include "host/CompositionFile.hpp"
#include "host/EditJson.hpp"
#include "host/JsonReading.hpp"
#include "host/PatchCatalog.hpp"

namespace cvcomp {

namespace {

using Json = nlohmann::ordered_json;

// Far more than any composition or batch of edits needs.
constexpr long long kMaxBody = 8LL << 20;

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

void respond(mg_connection* connection, int status, const std::string& type,
             const std::string& body) {
  mg_printf(connection,
            "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %zu\r\n"
            "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
            "Connection: close\r\n\r\n",
            status, mg_get_response_code_text(connection, status), type.c_str(), body.size());
  mg_write(connection, body.data(), body.size());
}

// The request's body, or nothing when it is larger than the limit.
std::optional<std::string> body(mg_connection* connection) {
  const long long announced = mg_get_request_info(connection)->content_length;
  if (announced > kMaxBody) return std::nullopt;
  std::string text;
  std::array<char, 65536> chunk{};
  int read = 0;
  while ((read = mg_read(connection, chunk.data(), chunk.size())) > 0) {
    text.append(chunk.data(), static_cast<std::size_t>(read));
    if (static_cast<long long>(text.size()) > kMaxBody) return std::nullopt;
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
  static_cast<StudioServer*>(server)->hub().connected(connection);
}

int onWebsocketData(mg_connection* connection, int bits, char* data, std::size_t size,
                    void* server) {
  const int opcode = bits & 0x0f;
  if (opcode == MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE) return 0;
  if (opcode == MG_WEBSOCKET_OPCODE_TEXT) {
    static_cast<StudioServer*>(server)->hub().received(connection, std::string_view(data, size));
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
  static Reply error(int status, const std::string& message) {
    return {status, Json{{"error", message}}.dump()};
  }
  static Reply json(const Json& document) { return {200, document.dump()}; }
};

StudioServer::StudioServer(StudioOptions options, StudioSession& session, LiveHub& hub,
                           const QCNodeManager& manager)
    : options_(std::move(options)), session_(session), hub_(hub), manager_(manager) {
  const bool ipv6 = options_.host.find(':') != std::string::npos;
  const std::string listen =
      (ipv6 ? "[" + options_.host + "]" : options_.host) + ":" + std::to_string(options_.port);
  // Requests must arrive whole within the timeout; a WebSocket stays open while its page does.
  const char* configuration[] = {
      "listening_ports", listen.c_str(),         "num_threads", "16",   "request_timeout_ms",
      "10000",           "websocket_timeout_ms", "3600000",     nullptr};
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

int StudioServer::websocketRefused(const mg_connection* connection) {
  const mg_request_info* request = mg_get_request_info(connection);
  int status = 0;
  if (!rules_->hostAllowed(header(connection, "Host").value_or("")) ||
      !rules_->originAllowed(header(connection, "Origin"))) {
    status = 403;
  } else if (!rules_->tokenAllowed(header(connection, "Authorization"), queryToken(request))) {
    status = 401;
  }
  if (status == 0) return 0;
  // The refusal is answered before civetweb closes the connection.
  respond(const_cast<mg_connection*>(connection), status, "application/json",
          Reply::error(status, status == 401 ? "the access token is missing or wrong"
                                             : "not from the studio's own page")
              .body);
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
    mg_send_mime_file2(connection, file->c_str(), contentType(*file).c_str(),
                       "Cache-Control: no-cache\r\n");
    return 200;
  }
  Reply reply;
  const bool changes = method != "GET" && method != "HEAD";
  if (changes && !rules_->originAllowed(header(connection, "Origin"))) {
    reply = Reply::error(403, "not from the studio's own page");
  } else if (!rules_->tokenAllowed(header(connection, "Authorization"), queryToken(request))) {
    reply = Reply::error(401, "the access token is missing or wrong");
  } else if (const std::optional<std::string> text = body(connection)) {
    try {
      reply = api(method, path, *text);
    } catch (const CompositionError& error) {
      reply = Reply::error(400, error.what());
    } catch (const std::exception& error) {
      reply = Reply::error(500, error.what());
    }
  } else {
    reply = Reply::error(413, "the request is larger than 8 MiB");
  }
  respond(connection, reply.status, "application/json", reply.body);
  return reply.status;
}

StudioServer::Reply StudioServer::api(const std::string& method, const std::string& path,
                                      const std::string& text) {
  const auto allow = [&](const char* allowed) { return method == allowed; };
  if (path == "/api/patches" && allow("GET")) return {200, patchCatalogJson(manager_)};
  if (path == "/api/composition" && (allow("GET") || allow("PUT")))
    return composition(method, text);
  if (path == "/api/edits" && allow("POST")) {
    std::vector<CompositionEdit> edits = editsFromJson(text);
    session_.call([&](Engine& engine) { engine.apply(edits); });
    return Reply::json({{"ok", true}});
  }
  if (path == "/api/transport" && allow("GET")) return Reply::json(transportJson(session_.state()));
  if (path == "/api/transport" && allow("POST")) return transport(text);
  if (path == "/api/save" && allow("POST")) return save();
  if (path == "/api/examples" && allow("GET")) return Reply::json(exampleList(examplesFolder()));
  if (path == "/api/open" && allow("POST")) return openExample(text);
  const bool known = path == "/api/patches" || path == "/api/composition" || path == "/api/edits" ||
                     path == "/api/transport" || path == "/api/save" || path == "/api/examples" ||
                     path == "/api/open";
  return known ? Reply::error(405, method + " is not allowed on " + path)
               : Reply::error(404, "no such API: " + path);
}

StudioServer::Reply StudioServer::composition(const std::string& method, const std::string& text) {
  if (method == "PUT") {
    session_.replace(loadCompositionText(text, options_.name, options_.file, manager_),
                     options_.file);
  }
  return {200,
          session_.call([](Engine& engine) { return compositionDocument(engine.composition()); })};
}

StudioServer::Reply StudioServer::transport(const std::string& text) {
  const Json request = parseJsonText(text);
  if (!request.is_object()) throw CompositionError("the transport takes an object");
  expectOnly(request, {"action", "input"}, "the transport");
  if (request.contains("input")) {
    if (const auto refusal = session_.switchInput(stringAt(request, "input", "the transport"))) {
      return Reply::error(400, *refusal);
    }
  }
  if (request.contains("action")) {
    const std::string action = stringAt(request, "action", "the transport");
    if (action == "play") {
      session_.play();
    } else if (action == "pause") {
      session_.pause();
    } else if (action == "step") {
      session_.step();
    } else {
      throw CompositionError("the transport: unknown action \"" + action +
                             "\" (play, pause, step)");
    }
  }
  return Reply::json(transportJson(session_.state()));
}

StudioServer::Reply StudioServer::openExample(const std::string& text) {
  const Json request = parseJsonText(text);
  if (!request.is_object()) throw CompositionError("open takes an object with \"example\"");
  expectOnly(request, {"example"}, "open");
  const std::string name = stringAt(request, "example", "open");
  const std::optional<std::filesystem::path> file = exampleFile(examplesFolder(), name);
  if (!file) return Reply::error(404, "no example named \"" + name + "\"");
  session_.replace(loadCompositionFile(*file, manager_), *file);
  return composition("GET", {});
}

StudioServer::Reply StudioServer::save() {
  if (!options_.file) return Reply::error(409, "the studio was started without a composition file");
  const std::string document =
      session_.call([](Engine& engine) { return compositionDocument(engine.composition()); });
  // Written beside the file and renamed over it, so that a failed write loses nothing.
  const std::filesystem::path temporary = options_.file->string() + ".saving";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << document << '\n';
    if (!out.flush()) {
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      return Reply::error(500, options_.file->string() + ": cannot be written");
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, *options_.file, error);
  if (error) return Reply::error(500, options_.file->string() + ": " + error.message());
  return Reply::json({{"saved", options_.file->string()}});
}

}  // namespace cvcomp
