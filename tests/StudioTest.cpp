// The studio's server, run as `cvcomp studio` on an ephemeral port and driven over HTTP and
// WebSocket with civetweb's client calls: access checks, edits applied whole or not at all, the
// transport, live values and previews, a stalled client and shutdown by signal.

#include <arpa/inet.h>
#include <civetweb.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include <opencv2/imgcodecs.hpp>

#include "StudioClient.hpp"

namespace cvcomp {
namespace {

using namespace test;

// A WebSocket client of /api/live that keeps what it is sent; `stall(true)` holds its reading.
class Watcher {
 public:
  Watcher(const Studio& studio, const std::string& watch, const std::string& origin = {},
          const std::string& token = {}) {
    char error[256] = "";
    const std::string path = "/api/live?token=" + (token.empty() ? studio.token : token);
    const std::string from = origin.empty() ? studio.origin() : origin;
    connection_ = mg_connect_websocket_client("127.0.0.1", studio.port, 0, error, sizeof error,
                                              path.c_str(), from.c_str(), onData, nullptr, this);
    if (connection_) {
      mg_websocket_client_write(connection_, MG_WEBSOCKET_OPCODE_TEXT, watch.data(), watch.size());
    }
  }
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;
  ~Watcher() {
    stall(false);
    if (connection_) mg_close_connection(connection_);
  }
  bool connected() const { return connection_ != nullptr; }

  // The text message of frame `frame` and the pictures sent with it, waiting up to 30 s.
  std::pair<Json, std::vector<cv::Mat>> frame(std::uint64_t frame) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(30), [&] {
      return texts_.contains(frame) && pictures_[frame].size() == picturesPerFrame;
    });
    return {texts_[frame], pictures_[frame]};
  }
  // The transports of the {"transport": ...} messages, once `count` of them have come.
  std::vector<Json> transports(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(30), [&] { return transports_.size() >= count; });
    return transports_;
  }
  // The {"type": "edits"} and {"type": "composition"} messages, once `count` of them have come.
  std::vector<Json> changes(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(30), [&] { return changes_.size() >= count; });
    return changes_;
  }
  // The {"type": "error"} answers, once `count` of them have come.
  std::vector<Json> errors(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(30), [&] { return errors_.size() >= count; });
    return errors_;
  }
  // Sends another message on the connection.
  void send(const std::string& text) {
    mg_websocket_client_write(connection_, MG_WEBSOCKET_OPCODE_TEXT, text.data(), text.size());
  }
  std::size_t textCount() {
    const std::lock_guard lock(mutex_);
    return texts_.size();
  }
  // The newest frame message once one evaluated after the `seq`th has come, waiting up to 30 s.
  Json frameAfter(std::uint64_t seq) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(30),
                      [&] { return latest_.contains("seq") && latest_["seq"] > seq; });
    return latest_;
  }
  void stall(bool stalled) {
    {
      const std::lock_guard lock(mutex_);
      stalled_ = stalled;
    }
    changed_.notify_all();
  }
  std::size_t picturesPerFrame = 0;

 private:
  static int onData(mg_connection*, int bits, char* data, std::size_t size, void* self) {
    auto& watcher = *static_cast<Watcher*>(self);
    std::unique_lock lock(watcher.mutex_);
    watcher.changed_.wait(lock, [&] { return !watcher.stalled_; });
    if ((bits & 0x0f) == MG_WEBSOCKET_OPCODE_TEXT) {
      const Json text = Json::parse(std::string(data, size));
      if (text["type"] == "transport") {
        watcher.transports_.push_back(text["transport"]);
      } else if (text["type"] == "error") {
        watcher.errors_.push_back(text["error"]);
      } else if (text["type"] == "edits" || text["type"] == "composition") {
        watcher.changes_.push_back(text);
      } else {
        EXPECT_EQ(text["type"], "frame");
        watcher.texts_[text["frame"]] = text;
        watcher.latest_ = text;
      }
    } else if ((bits & 0x0f) == MG_WEBSOCKET_OPCODE_BINARY && size > 4) {
      std::size_t length = 0;  // four bytes, little-endian
      for (int i = 3; i >= 0; --i) length = length << 8 | static_cast<unsigned char>(data[i]);
      const Json header = Json::parse(std::string(data + 4, length));
      EXPECT_EQ(header["type"], "picture");
      const std::vector<unsigned char> jpeg(data + 4 + length, data + size);
      watcher.pictures_[header["frame"]].push_back(cv::imdecode(jpeg, cv::IMREAD_UNCHANGED));
    }
    watcher.changed_.notify_all();
    return 1;
  }

  mg_connection* connection_ = nullptr;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stalled_ = false;
  std::map<std::uint64_t, Json> texts_;  // the frames' messages, by frame
  Json latest_;
  std::vector<Json> transports_;
  std::vector<Json> errors_;
  std::vector<Json> changes_;
  std::map<std::uint64_t, std::vector<cv::Mat>> pictures_;
};

constexpr const char* kWatchNothing = R"({"type": "watch", "ports": []})";

constexpr const char* kSteps = R"({
  "patches": {
    "a": {"class": "Pulse", "inputs": {"inputPeriod": 2}},
    "b": {"class": "Pulse"},
    "toCV": {"class": "QCImageToOpenCVImage"}
  },
  "connections": [{"from": "a.outputSignal", "to": "b.inputPeriod"}],
  "publish": ["b.outputSignal"]
})";

class StudioApi : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder = new test::TempFolder;
    file = folder->write("steps.json", kSteps);
    folder->write("web/index.html", "<p>page</p>");
    folder->write("web/js/app.mjs", "export {};");
    folder->write("web/node_modules/@comfyorg/litegraph/package.json", "{}");
    folder->write("web/node_modules/uplot/package.json", "{}");
    setenv("CVCOMP_STUDIO_WEB", (*folder / "web").c_str(), 1);
    studio = new Studio({file.string()});
    unsetenv("CVCOMP_STUDIO_WEB");
  }
  static void TearDownTestSuite() {
    delete studio;
    delete folder;
  }
  static inline test::TempFolder* folder = nullptr;
  static inline std::filesystem::path file;
  static inline Studio* studio = nullptr;
};

TEST_F(StudioApi, RefusesRequestsWithoutTheTokenFromOtherHostsOrPagesAndOversizedOrMalformed) {
  const Studio& s = *studio;
  const std::string host = "Host: " + s.host() + "\r\n";
  const std::string bearer = "Authorization: Bearer " + s.token + "\r\n";
  // The method, path, headers, body, status and error of each.
  for (const auto& [method, path, headers, body, status, error] : std::initializer_list<
           std::tuple<std::string, std::string, std::string, std::string, int, std::string>>{
           {"GET", "/api/transport", host, "", 401, "the access token is missing or wrong"},
           {"GET", "/api/transport", host + "Authorization: Bearer x" + s.token + "\r\n", "", 401,
            "the access token is missing or wrong"},
           {"GET", "/api/transport",
            "Host: evil.example:" + std::to_string(s.port) + "\r\n" + bearer, "", 403,
            "the Host header does not name this server"},
           {"POST", "/api/transport", host + bearer + "Origin: http://evil.example\r\n",
            R"({"action":"pause"})", 403, "not from the studio's own page"},
           {"POST", "/api/edits", host + bearer, std::string((8 << 20) + 1, ' '), 413,
            "the request is larger than 8 MiB"},
           {"POST", "/api/transport", host + bearer, R"({"action":"rewind"})", 400,
            "the transport: unknown action \"rewind\" (play, pause, step, seek)"},
           {"GET", "/api/nothing", host + bearer, "", 404, "no such API: /api/nothing"},
           // The page's own Origin passes; the route refuses the method.
           {"DELETE", "/api/composition", host + bearer + "Origin: " + s.origin() + "\r\n", "", 405,
            "DELETE is not allowed on /api/composition"},
           // Text that is not UTF-8, wherever it comes, is refused without echoing its bytes.
           {"POST", "/api/edits", host + bearer,
            "[{\"op\":\"add\",\"id\":\"a\xff\",\"class\":\"Pulse\"}]", 400,
            "the request's body: byte 21 is not UTF-8"},
           {"PUT", "/api/composition", host + bearer,
            "{\"patches\": {\"a\xff\": {\"class\": \"Pulse\"}}}", 400,
            "the request's body: byte 16 is not UTF-8"},
           {"POST", "/api/transport", host + bearer, "{\"input\":\"\xff.avi\"}", 400,
            "the request's body: byte 11 is not UTF-8"},
           {"GET", "/api/%ff", host + bearer, "", 404, "no such API: /api/\xef\xbf\xbd"},
           {"GET", "/api/transport?token=%ff", host, "", 401,
            "the access token is missing or wrong"},
           // One edit alone is not a batch.
           {"POST", "/api/edits", host + bearer, "{}", 400,
            "the edits must be a JSON array of edits"},
           // A preflight is refused as any foreign request is.
           {"OPTIONS", "/api/edits",
            "Host: evil.example\r\nOrigin: http://evil.example\r\n"
            "Access-Control-Request-Method: POST\r\n",
            "", 403, "the Host header does not name this server"},
           {"OPTIONS", "/api/edits",
            host + "Origin: http://evil.example\r\nAccess-Control-Request-Method: POST\r\n", "",
            403, "not from the studio's own page"}}) {
    const Response response = s.raw(method, path, body, headers);
    EXPECT_EQ(response.status, status) << path << " " << headers;
    EXPECT_EQ(response.json(), Json({{"error", error}}));
  }
  // The scheme's name is case-insensitive.
  EXPECT_EQ(
      s.raw("GET", "/api/transport", "", host + "authorization: bearer " + s.token + "\r\n").status,
      200);
  // No answer allows other sites to read it, and the page's files say once how to cache them.
  for (const std::string& request :
       {std::string(
            "OPTIONS /api/edits HTTP/1.1\r\nHost: evil.example\r\nOrigin: http://evil.example\r\n"
            "Access-Control-Request-Method: POST\r\n\r\n"),
        "GET / HTTP/1.1\r\n" + host + "\r\n",
        "GET /api/transport HTTP/1.1\r\n" + host + bearer +
            "Origin: http://evil.example\r\n\r\n"}) {
    RawConnection connection(s.port);
    connection.send(request);
    const std::string answer = connection.answer();
    EXPECT_EQ(headerLines(answer, "Access-Control-"), std::vector<std::string>{}) << request;
    EXPECT_EQ(headerLines(answer, "Cache-Control").size(), 1u) << answer;
  }
  // The page's files need no token; nothing outside their folder is served.
  for (const auto& [path, status, body] : {std::tuple{"/", 200, "<p>page</p>"},
                                           {"/js/app.mjs", 200, "export {};"},
                                           {"/js/../index.html", 200, "<p>page</p>"},
                                           {"/../steps.json", 404, ""},
                                           {"/%2e%2e/steps.json", 404, ""},
                                           {"/js", 404, ""}}) {
    const Response response = s.raw("GET", path, "", host);
    EXPECT_EQ(response.status, status) << path;
    EXPECT_EQ(response.body.starts_with("{") ? "" : response.body, body);
  }
  // The live view's connection passes the same checks; the page's own, with the token as the
  // printed address carries it, is taken.
  EXPECT_FALSE(Watcher(s, kWatchNothing, "http://evil.example").connected());
  EXPECT_FALSE(Watcher(s, kWatchNothing, {}, s.token.substr(1)).connected());
  EXPECT_TRUE(Watcher(s, kWatchNothing).connected());
}

// A live message that is not UTF-8, not typed, or watches too much is answered with an error;
// the connection and the server go on.
TEST_F(StudioApi, AnswersBadLiveMessagesWithAnErrorAndGoesOn) {
  const Studio& s = *studio;
  Watcher watcher(s, "{\"type\":\"watch\",\"ports\":[\"\xff\"]}");
  watcher.send(R"({"watch": []})");
  Json tooMany{{"type", "watch"}, {"ports", Json::array()}};
  for (int i = 0; i < 65; ++i) tooMany["ports"].push_back(std::to_string(i) + ".x");
  watcher.send(tooMany.dump());
  EXPECT_EQ(watcher.errors(3), std::vector<Json>({"invalid JSON: byte 27 is not UTF-8",
                                                  "the watch request: unknown key \"watch\"",
                                                  "a client watches at most 64 ports"}));
  EXPECT_EQ(s.request("GET", "/api/transport").status, 200);
}

// Live connections are capped below the server's threads, and connections that send nothing,
// or too slowly, are dropped after the request time: the API and the page stay answerable.
TEST_F(StudioApi, StaysAnswerableWhileIdleAndSlowConnectionsAndLiveClientsHoldOn) {
  const Studio& s = *studio;
  std::vector<std::unique_ptr<RawConnection>> idle;
  for (int i = 0; i < 30; ++i) idle.push_back(std::make_unique<RawConnection>(s.port));
  // A slow sender: the start of a request, then nothing.
  idle.front()->send("GET /api/transport HTTP/1.1\r\nHo");
  std::vector<std::unique_ptr<Watcher>> live;
  for (int i = 0; i < 16; ++i) {
    live.push_back(std::make_unique<Watcher>(s, kWatchNothing));
    EXPECT_TRUE(live.back()->connected());
  }
  const Response refused =
      s.raw("GET", "/api/live?token=" + s.token, "",
            "Host: " + s.host() +
                "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n");
  EXPECT_EQ(refused.status, 503);
  EXPECT_EQ(refused.json(),
            Json({{"error", "the studio serves at most 16 live connections at once"}}));
  EXPECT_EQ(s.request("GET", "/api/transport").status, 200);
  EXPECT_EQ(s.raw("GET", "/", "", "Host: " + s.host() + "\r\n").status, 200);
  // Each idle connection is closed by the server within the request time, unanswered or with
  // an answer of its own.
  for (const auto& connection : idle) {
    EXPECT_EQ(connection->answer().find("200 OK"), std::string::npos);
    EXPECT_TRUE(connection->closed());
  }
}

// Each refusal the engine gives is checked with the engine; here, that one reaches the client and
// a batch refused at its second edit leaves the document as it was.
TEST_F(StudioApi, AppliesEveryKindOfEditAndABatchWholeOrNotAtAll) {
  const Studio& s = *studio;
  ASSERT_EQ(s.request("PUT", "/api/composition", kSteps).status, 200);
  const std::string before = s.document();
  const Response refused = s.request(
      "POST", "/api/edits",
      R"([{"op":"add","id":"c","class":"Pulse"},{"op":"publish","port":"b.outputSignal"}])");
  EXPECT_EQ(refused.status, 400);
  EXPECT_EQ(refused.json(),
            Json({{"error", file.string() + ": \"b.outputSignal\" is published twice"}}));
  EXPECT_EQ(s.document(), before);
  s.post("/api/edits", R"([{"op":"add","id":"c","class":"Pulse","inputs":{"inputFrames":"1,2"}},
    {"op":"disconnect","to":"b.inputPeriod"},{"op":"connect","from":"c.outputSignal","to":"b.inputPeriod"},
    {"op":"set","port":"a.inputPeriod","value":5},{"op":"unpublish","port":"b.outputSignal"},
    {"op":"publish","port":"c.outputSignal"},{"op":"remove","id":"toCV"},
    {"op":"move","id":"c","x":40,"y":-8.5}])");
  EXPECT_EQ(Json::parse(s.document()), Json::parse(R"({"patches": {
    "a": {"class": "Pulse", "inputs": {"inputPeriod": 5}}, "b": {"class": "Pulse"},
    "c": {"class": "Pulse", "inputs": {"inputFrames": "1,2"}}},
    "connections": [{"from": "c.outputSignal", "to": "b.inputPeriod"}],
    "publish": ["c.outputSignal"], "layout": {"c": {"x": 40.0, "y": -8.5}}})"));

  // A whole composition is refused as checking it refuses it; saving writes the running one
  // back to the started file.
  const std::string saved = s.document();
  const Response refusedWhole =
      s.request("PUT", "/api/composition", R"({"patches": {"a": {"class": "X"}}})");
  EXPECT_EQ(refusedWhole.status, 400);
  EXPECT_EQ(refusedWhole.json(),
            Json({{"error", file.string() + ": patch \"a\": unknown class \"X\""}}));
  EXPECT_EQ(s.document(), saved);
  EXPECT_EQ(s.post("/api/save", ""), Json({{"saved", file.string()}}));
  EXPECT_EQ(test::contents(file), saved + "\n");

  // An example opens as its file would load, paths next to it.
  const Json examples = s.request("GET", "/api/examples").json();
  EXPECT_EQ(examples[0],
            Json({{"name", "chessboard.json"}, {"input", test::example("chessboards")}}));
  s.post("/api/open", R"({"example": "chessboard.json"})");
  EXPECT_EQ(Json::parse(s.document())["patches"]["src"]["inputs"]["inputPath"], "chessboards");
  EXPECT_EQ(s.request("POST", "/api/open", R"({"example": "../steps.json"})").status, 404);
  // Saved elsewhere, its relative input is written as the path it names, so the file runs.
  s.post("/api/save", "");
  EXPECT_EQ(Json::parse(test::contents(file))["patches"]["src"]["inputs"]["inputPath"],
            test::example("chessboards"));
  EXPECT_EQ(test::cvcomp("run -q --frames 1 " + file.string()).status, 0);
  ASSERT_EQ(s.request("PUT", "/api/composition", kSteps).status, 200);
}

// A client that takes frames at a low rate is still sent the frame play stopped at and each
// stepped frame, so a stopped view never shows an older one, and where the transport stands.
TEST_F(StudioApi, PausesStepsOneFrameAndKeepsItsInputWhenANewOneCannotBeRead) {
  const Studio& s = *studio;
  s.transport("pause");
  ASSERT_EQ(
      s.request("PUT", "/api/composition", R"({"patches": {"src": {"class": "ImageSource"}}})")
          .status,
      200);
  // A new composition starts from its first frame; watching while stopped is sent the frame
  // where the engine stands.
  EXPECT_EQ(s.transport("step")["frame"], 0);
  Watcher watcher(s, R"({"type": "watch", "ports": [], "fps": 0.2})");
  EXPECT_EQ(watcher.frame(0).first["frame"], 0);
  s.transport("play");
  s.await([](const Json& state) { return state["frame"] >= 10; });
  const Json paused = s.transport("pause");
  const std::uint64_t frame = paused["frame"].get<std::uint64_t>();
  EXPECT_EQ(watcher.frame(frame).first["frame"], frame);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(s.transport(), paused);
  const Json stepped = s.transport("step");
  EXPECT_EQ(stepped["frame"], frame + 1);
  EXPECT_EQ(watcher.frame(frame + 1).first["frame"], frame + 1);
  const std::vector<Json> told = watcher.transports(3);
  EXPECT_EQ(std::vector<Json>(told.begin() + 1, told.end()), std::vector<Json>({paused, stepped}));
  // An input that opens but gives no frame is refused as one that does not open.
  const std::filesystem::path large = *folder / "large.png";
  cv::imwrite(large.string(), cv::Mat(8, 8193, CV_8UC3, cv::Scalar::all(90)));
  const std::filesystem::path unreadable = folder->write("unreadable/a.png", "not a picture");
  for (const auto& [input, error] : std::initializer_list<std::pair<std::string, std::string>>{
           {"/no/such.avi", "/no/such.avi: no such file or folder"},
           {large.string(),
            large.string() + ": 8193 × 8 pixels, more than the 8192 × 8192 a frame may have"},
           {unreadable.parent_path().string(),
            unreadable.parent_path().string() + ": no picture in the folder can be read"}}) {
    const Response refused = s.request("POST", "/api/transport", Json{{"input", input}}.dump());
    EXPECT_EQ(refused.status, 400);
    EXPECT_EQ(refused.json(), Json({{"error", error}}));
    const Json state = s.transport("step");
    EXPECT_EQ(state["failure"], nullptr);
    EXPECT_EQ(state["ended"], false);
  }
}

TEST_F(StudioApi, RefusesPicturesOfNoPortOrOfOneThatHoldsNone) {
  const Studio& s = *studio;
  s.transport("pause");
  ASSERT_EQ(s.request("PUT", "/api/composition", kSteps).status, 200);
  s.transport("step");
  for (const auto& [query, status, error] :
       std::initializer_list<std::tuple<std::string, int, std::string>>{
           {"", 400, "/api/picture takes the port as ?port=ID.PORT"},
           {"?port=", 400, "/api/picture takes the port as ?port=ID.PORT"},
           {"?port=b.outputSignal", 400,
            R"("b.outputSignal" carries boolean values, not pictures)"},
           {"?port=toCV", 400, R"("toCV" does not name a port as "patch.port")"},
           {"?port=nope.x", 404, R"(unknown patch "nope" in "nope.x")"},
           {"?port=toCV.outputImage", 404, R"("toCV.outputImage" holds no picture now)"}}) {
    const Response refused = s.request("GET", "/api/picture" + query);
    EXPECT_EQ(refused.status, status) << query;
    EXPECT_EQ(refused.json(), Json({{"error", error}})) << query;
  }
  EXPECT_EQ(
      s.request("POST", "/api/picture?port=toCV.outputImage", {}, "Origin: " + s.origin() + "\r\n")
          .status,
      405);
  EXPECT_EQ(
      s.raw("GET", "/api/picture?port=toCV.outputImage", {}, "Host: " + s.host() + "\r\n").status,
      401);
}

// A port's picture from /api/picture is, once decoded, the very picture that `cvcomp run --video`
// writes for the same frame: a host picture, an OpenCV image (first row at the bottom) and a gray
// one.
struct PicturePort {
  const char* name;
  const char* port;
  int channels;
};
void PrintTo(const PicturePort& picture, std::ostream* out) {
  *out << picture.name;
}
class StudioPicture : public testing::TestWithParam<PicturePort> {};

TEST_P(StudioPicture, EqualsWhatTheRunWritesForTheSameFrame) {
  const auto& [caseName, port, channels] = GetParam();
  const test::TempFolder folder;
  const std::vector<std::string> names{"HappyFish.jpg", "baboon.jpg", "fruits.jpg"};
  for (const std::string& name : names)
    folder.write("shots/" + name, test::contents(test::sample(name)));
  Json composition = Json::parse(test::contents(test::example("face-detect.json")));
  composition["patches"]["gray"] = {{"class", "OpenCVBGR2Gray"}};
  composition["connections"].push_back({{"from", "toCV.outputImage"}, {"to", "gray.inputImage"}});
  composition["publish"] = {port};
  const std::string file = folder.write("picture.json", composition.dump()).string();
  const std::string shots = (folder / "shots").string();
  const std::string written = (folder / "frame%d.png").string();
  const test::Outcome run =
      test::cvcomp("run " + file + " -q --input " + shots + " --video " + written);
  ASSERT_EQ(run.status, 0) << run.err;

  Studio studio({file, "--input", shots});
  studio.post("/api/transport", R"({"loop": false})");
  studio.await([](const Json& state) { return state["ended"] == true; });
  for (std::size_t frame = 0; frame < names.size(); ++frame) {
    studio.transport("step");
    RawConnection connection(studio.port);
    connection.send("GET /api/picture?port=" + std::string(port) + " HTTP/1.1\r\nHost: " +
                    studio.host() + "\r\nAuthorization: Bearer " + studio.token + "\r\n\r\n");
    const std::string answer = connection.answer();
    ASSERT_EQ(answer.substr(0, 12), "HTTP/1.1 200") << answer.substr(0, 400);
    EXPECT_EQ(headerLines(answer, "Content-Type"),
              std::vector<std::string>{"Content-Type: image/png"});
    EXPECT_EQ(headerLines(answer, "X-"),
              std::vector<std::string>({"X-Content-Type-Options: nosniff",
                                        "X-Frame: " + std::to_string(frame),
                                        "X-Channels: " + std::to_string(channels)}));
    const std::string body = answer.substr(answer.find("\r\n\r\n") + 4);
    const cv::Mat served =
        cv::imdecode(std::vector<unsigned char>(body.begin(), body.end()), cv::IMREAD_UNCHANGED);
    const cv::Mat expected = cv::imread(
        (folder / ("frame" + std::to_string(frame) + ".png")).string(), cv::IMREAD_UNCHANGED);
    ASSERT_EQ(served.size(), expected.size());
    ASSERT_EQ(served.type(), expected.type());
    EXPECT_EQ(cv::norm(served, expected, cv::NORM_INF), 0.0) << "frame " << frame;
  }
}

INSTANTIATE_TEST_SUITE_P(Ports, StudioPicture,
                         testing::Values(PicturePort{"HostPicture", "overlay.outputImage", 4},
                                         PicturePort{"OpenCVImage", "toCV.outputImage", 4},
                                         PicturePort{"OpenCVGray", "gray.outputImage", 1}),
                         [](const auto& tested) { return std::string(tested.param.name); });

// Saving replaces the file whole through a fresh file of its own: a link planted where a fixed
// name would have been is left alone, a composition that is a link has the file it names
// replaced, the file keeps its mode, saves at once all succeed, and a read-only file is refused.
TEST(StudioSave, ReplacesTheFileALinkNamesKeepsItsModeAndRefusesAReadOnlyFile) {
  const test::TempFolder folder;
  const std::filesystem::path real = folder.write("real.json", kSteps);
  const std::filesystem::path link = folder / "link.json";
  std::filesystem::create_symlink(real, link);
  ::chmod(real.c_str(), 0600);
  const std::filesystem::path victim = folder.write("victim.txt", "kept");
  for (const std::filesystem::path& planted :
       {folder / "link.json.saving", folder / "real.json.saving"}) {
    std::filesystem::create_symlink(victim, planted);
  }
  Studio studio({link.string()});
  studio.post("/api/edits", R"([{"op":"set","port":"a.inputPeriod","value":7}])");
  std::vector<std::future<int>> saves;
  for (int i = 0; i < 20; ++i) {
    saves.push_back(
        std::async(std::launch::async, [&] { return studio.request("POST", "/api/save").status; }));
  }
  for (auto& save : saves) EXPECT_EQ(save.get(), 200);
  EXPECT_EQ(test::contents(real), studio.document() + "\n");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(test::contents(victim), "kept");
  struct stat saved {};
  ASSERT_EQ(::stat(real.c_str(), &saved), 0);
  EXPECT_EQ(saved.st_mode & 07777, 0600u);
  // Only the file and the planted links: no temporary file stays behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 5);

  ::chmod(real.c_str(), 0400);
  const std::string before = test::contents(real);
  const Response refused = studio.request("POST", "/api/save");
  EXPECT_EQ(refused.status, 409);
  EXPECT_EQ(refused.json(), Json({{"error", std::filesystem::canonical(real).string() +
                                                ": the file is read-only; not saved"}}));
  EXPECT_EQ(test::contents(real), before);
}

// Without the page's packages (a build that did not run npm), the studio does not start and says
// how to install them.
TEST(StudioStart, RefusesToStartWithoutThePagesPackagesAndSaysHowToInstallThem) {
  const test::TempFolder folder;
  folder.write("web/index.html", "<p>page</p>");
  const std::string web = (folder / "web").string();
  const test::Outcome outcome = test::cvcomp(
      "studio --no-open --port 0 " + test::example("gray.json"), "CVCOMP_STUDIO_WEB=" + web + " ");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "cvcomp: " + web +
                             ": the page's packages are not installed; install them with `npm ci "
                             "--prefix " +
                             web + "`\n");
}

// Live values of a folder of pictures are the JSON lines of `cvcomp run` on the same folder,
// and the previews are the watched picture, scaled to the longer side asked for. A client that
// stops reading leaves the engine running and the memory flat, while another client goes on
// getting frames; a signal ends the studio within two seconds.
TEST(StudioLive, ValuesEqualTheRunsJsonLinesAStalledClientSlowsNothingAndASignalEnds) {
  const test::TempFolder folder;
  // In name order, as the folder gives them.
  const std::vector<std::string> names{"HappyFish.jpg", "baboon.jpg", "fruits.jpg", "messi5.jpg"};
  for (const std::string& name : names)
    folder.write("shots/" + name, test::contents(test::sample(name)));
  const std::string shots = (folder / "shots").string();
  const test::Outcome run =
      test::cvcomp("run " + test::example("face-detect.json") + " -q --json - --input " + shots);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<nlohmann::json> lines = test::jsonLines(run.out);
  ASSERT_EQ(lines.size(), names.size());

  Studio studio({test::example("face-detect.json"), "--input", shots});
  studio.post("/api/transport", R"({"loop": false})");
  studio.await([](const Json& state) { return state["ended"] == true; });
  Watcher reading(studio, R"({"type": "watch", "maxSide": 200, "fps": 0,
    "ports": ["faces.outputRects", "overlay.outputImage", "nope.x", "overlay.outputImage"]})");
  reading.picturesPerFrame = 1;
  // The transport, sent once the watch is taken while stopped at the end, says it ended, and the
  // end, known before an evaluation, leaves the last picture's frame to be sent.
  EXPECT_EQ(reading.transports(1).at(0)["ended"], true);
  const std::size_t last = names.size() - 1;
  EXPECT_EQ(reading.frame(last).first["values"]["faces.outputRects"],
            lines[last]["faces.outputRects"]);
  // After the end, a step starts again from the first picture; the last comes a second time.
  for (std::size_t frame = 0; frame < names.size(); ++frame) {
    studio.transport("step");
    reading.picturesPerFrame = frame == last ? 2 : 1;
    const auto [text, pictures] = reading.frame(frame);
    EXPECT_EQ(text["values"], Json({{"faces.outputRects", lines[frame]["faces.outputRects"]}}));
    EXPECT_EQ(text["time"], lines[frame]["time"]);
    EXPECT_EQ(text["patches"]["cascade"]["executed"], frame == 0);
    ASSERT_EQ(pictures.size(), reading.picturesPerFrame);
    const cv::Size source = cv::imread(test::sample(names[frame])).size();
    EXPECT_EQ(std::max(pictures.back().cols, pictures.back().rows), 200);
    EXPECT_NEAR(static_cast<double>(pictures.back().cols) / pictures.back().rows,
                static_cast<double>(source.width) / source.height, 0.02);
    EXPECT_EQ(pictures.back().channels(), 3);
  }

  // The clip plays on while a client of its whole pictures stops reading.
  studio.post("/api/transport", Json{{"input", test::sample("Megamind.avi")}}.dump());
  // Watching one picture many times over holds one copy of it.
  Json many{{"type", "watch"}, {"maxSide", 4096}, {"fps", 0}};
  many["ports"] = std::vector<std::string>(300, "overlay.outputImage");
  Watcher stalled(studio, many.dump());
  stalled.stall(true);
  studio.transport("play");
  std::this_thread::sleep_for(std::chrono::seconds(1));
  [[maybe_unused]] const long memory = studio.residentKiB();
  const Json before = studio.transport();
  const std::size_t received = reading.textCount();
  std::this_thread::sleep_for(std::chrono::seconds(4));
  const Json after = studio.transport();
  EXPECT_GT(after["frame"].get<int>(), before["frame"].get<int>() + 20);
  EXPECT_GT(reading.textCount(), received + 10);
  // Queued frames would take 1.2 MB each. AddressSanitizer keeps freed memory in quarantine, so
  // there the resident size says nothing about what is held.
#ifndef __SANITIZE_ADDRESS__
  EXPECT_LT(studio.residentKiB() - memory, 48 * 1024);
#endif

  const Clock::time_point signalled = Clock::now();
  studio.signal(SIGTERM);
  const std::optional<int> status = studio.wait(std::chrono::seconds(4));
  ASSERT_TRUE(status) << "still running";
  EXPECT_LT(Clock::now() - signalled, std::chrono::milliseconds(2500));
  EXPECT_EQ(*status, 143);
  stalled.stall(false);
}

// Batches a page makes (add with values and a place, remove several, connect, disconnect, a
// replaced link, set, move, publish, unpublish), drawn at random: each one refused for the
// composition it meets changes nothing and is no step.
constexpr const char* kPageBatches[] = {
    R"([{"op":"add","id":"c","class":"Pulse","inputs":{"inputPeriod":3}},{"op":"move","id":"c","x":10,"y":20}])",
    R"([{"op":"add","id":"d","class":"Pulse","before":"a"}])",
    R"([{"op":"remove","id":"a"},{"op":"remove","id":"b"}])",
    R"([{"op":"remove","id":"toCV"}])",
    R"([{"op":"remove","id":"c"},{"op":"remove","id":"d"}])",
    R"([{"op":"add","id":"a","class":"Pulse"},{"op":"add","id":"b","class":"Pulse"},{"op":"connect","from":"a.outputSignal","to":"b.inputPeriod"}])",
    R"([{"op":"connect","from":"c.outputSignal","to":"b.inputPeriod"}])",
    R"([{"op":"disconnect","to":"b.inputPeriod"},{"op":"connect","from":"d.outputSignal","to":"b.inputPeriod"}])",
    R"([{"op":"disconnect","to":"b.inputPeriod"}])",
    R"([{"op":"set","port":"a.inputPeriod","value":9}])",
    R"([{"op":"set","port":"b.inputFrames","value":"1,3"}])",
    R"([{"op":"move","id":"b","x":-5,"y":7.25}])",
    R"([{"op":"move","id":"b"}])",
    R"([{"op":"publish","port":"a.outputSignal","before":"b.outputSignal"}])",
    R"([{"op":"unpublish","port":"b.outputSignal"}])",
    R"([{"op":"publish","port":"c.outputSignal"}])",
};

// Undo brings back each document as it was before the step, byte for byte, and redo each one
// after it; a new composition leaves nothing to undo or redo.
TEST_F(StudioApi, UndoAndRedoGiveBackEachDocumentByteForByte) {
  const Studio& s = *studio;
  for (const unsigned seed : {1u, 2u, 3u}) {
    ASSERT_EQ(s.request("PUT", "/api/composition", kSteps).status, 200);
    EXPECT_EQ(s.request("POST", "/api/undo").json(), Json({{"error", "nothing to undo"}}));
    std::mt19937 random(seed);
    std::vector<std::string> documents{s.document()};
    for (int tries = 0; tries < 60; ++tries) {
      const std::string batch = kPageBatches[random() % std::size(kPageBatches)];
      // A batch of values and places already so is no step.
      if (s.request("POST", "/api/edits", batch).status == 200 &&
          s.document() != documents.back()) {
        documents.push_back(s.document());
      }
    }
    const std::size_t steps = documents.size() - 1;
    ASSERT_GE(steps, 15u);
    EXPECT_EQ(s.request("GET", "/api/history").json()["undo"], steps);
    for (std::size_t step = steps; step > 0; --step) {
      const Json undone = s.post("/api/undo", "");
      ASSERT_EQ(s.document(), documents[step - 1]) << "seed " << seed << ", step " << step;
      EXPECT_EQ(
          s.request("GET", "/api/history").json(),
          Json({{"revision", undone["revision"]}, {"undo", step - 1}, {"redo", steps - step + 1}}));
    }
    const Response refused = s.request("POST", "/api/undo");
    EXPECT_EQ(refused.status, 409);
    for (std::size_t step = 1; step <= steps; ++step) {
      s.post("/api/redo", "");
      ASSERT_EQ(s.document(), documents[step]) << "seed " << seed << ", step " << step;
    }
    EXPECT_EQ(s.request("POST", "/api/redo").json(), Json({{"error", "nothing to redo"}}));
  }
  ASSERT_EQ(s.request("PUT", "/api/composition", kSteps).status, 200);
  EXPECT_EQ(s.request("GET", "/api/history").json()["undo"], 0);
}

// Consecutive batches of one step key are one step (a slider dragged); a new step clears redo;
// a batch that changes nothing (positions stored before a save) is no step. Every applied batch
// reaches the live clients with the client it came from, undo and redo from none, and a replace
// as the new composition's revision.
TEST_F(StudioApi, MergesAStepsBatchesAndTellsEveryClientOfEveryBatch) {
  const Studio& s = *studio;
  ASSERT_EQ(s.request("PUT", "/api/composition", kSteps).status, 200);
  Watcher watcher(s, kWatchNothing);
  ASSERT_TRUE(watcher.connected());
  // A message that arrives proves that the connection is registered.
  watcher.send(R"({"type":"nope"})");
  watcher.errors(1);
  const std::string original = s.document();
  const auto set = [&](int value, const std::string& step) {
    return s
        .request("POST", "/api/edits" + (step.empty() ? "" : "?step=" + step),
                 R"([{"op":"set","port":"a.inputPeriod","value":)" + std::to_string(value) + "}]",
                 "X-Studio-Client: page-1\r\n")
        .json()["revision"];
  };
  const Json first = set(3, "drag1");
  for (int value = 4; value <= 6; ++value) set(value, "drag1");
  const std::string dragged = s.document();
  set(7, "drag2");
  s.post("/api/edits", R"([{"op":"move","id":"a"}])");
  EXPECT_EQ(s.request("GET", "/api/history").json()["undo"], 2);
  s.post("/api/undo", "");
  EXPECT_EQ(s.document(), dragged);
  const Json undone = s.post("/api/undo", "");
  EXPECT_EQ(s.document(), original);
  s.post("/api/redo", "");
  set(8, "");
  EXPECT_EQ(s.request("GET", "/api/history").json(),
            Json({{"revision", undone["revision"].get<int>() + 2}, {"undo", 2}, {"redo", 0}}));
  EXPECT_EQ(s.request("POST", "/api/redo").status, 409);

  ASSERT_EQ(s.request("PUT", "/api/composition", kSteps).status, 200);
  const std::vector<Json> told = watcher.changes(11);
  ASSERT_EQ(told.size(), 11u);
  EXPECT_EQ(told[0],
            Json({{"type", "edits"},
                  {"revision", first},
                  {"edits", Json::parse(R"([{"op":"set","port":"a.inputPeriod","value":3}])")},
                  {"origin", "page-1"}}));
  EXPECT_EQ(told[5]["origin"], nullptr);
  EXPECT_EQ(told[6]["edits"], Json::parse(R"([{"op":"set","port":"a.inputPeriod","value":6}])"));
  EXPECT_EQ(told[6]["origin"], nullptr);
  for (std::size_t i = 1; i < 10; ++i) {
    EXPECT_EQ(told[i]["revision"], told[i - 1]["revision"].get<int>() + 1);
  }
  EXPECT_EQ(told[10],
            Json({{"type", "composition"}, {"revision", told[9]["revision"].get<int>() + 1}}));
}

// Runs the studio in `folder` (its working folder) as long as it lives.
class StudioIn {
 public:
  StudioIn(const std::filesystem::path& folder, std::vector<std::string> arguments)
      : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
    studio.emplace(std::move(arguments));
    std::filesystem::current_path(previous_);
  }
  std::optional<Studio> studio;

 private:
  std::filesystem::path previous_;
};

// Save As writes a .json file in the studio's folder or below it, and Save writes there after;
// anything else is refused with its reason and nothing written.
TEST(StudioSave, SavesAsAFileInItsFolderAndRefusesAnyOther) {
  const test::TempFolder outside;
  const test::TempFolder folder;
  const std::filesystem::path input = folder.write("frames/clip.json", "{}");
  const std::filesystem::path kept = outside.write("kept.json", "kept");
  std::filesystem::create_symlink(outside.path(), folder / "out");
  StudioIn running(folder.path(), {});
  const Studio& s = *running.studio;
  EXPECT_EQ(s.request("POST", "/api/save").json(),
            Json({{"error",
                   "the studio was started without a composition file; save it as a "
                   "file: {\"file\": \"name.json\"}"},
                  {"needsFile", true}}));
  s.post(
      "/api/edits",
      R"([{"op":"add","id":"src","class":"ImageSource","inputs":{"inputPath":"frames/clip.json"}}])");
  const std::string root = folder.path().string();
  for (const auto& [file, error] : std::initializer_list<std::pair<std::string, std::string>>{
           {"../kept.json", "\"..\" may not appear; name a file in " + root + " or below it"},
           {"sub/../../kept.json",
            "\"..\" may not appear; name a file in " + root + " or below it"},
           {kept.string(), "outside the studio's folder " + root},
           {"out/kept.json", "a symbolic link leads out of the studio's folder " + root},
           {"notes.txt", "a composition file's name ends in .json"},
           {".json", "a composition file's name ends in .json"},
           {"frames/clip.json", "the composition reads this file (src.inputPath)"},
           {input.string(), "the composition reads this file (src.inputPath)"}}) {
    const Response refused = s.request("POST", "/api/save", Json{{"file", file}}.dump());
    EXPECT_EQ(refused.status, 409) << file;
    EXPECT_EQ(refused.json(), Json({{"error", "\"" + file + "\": " + error + "; not saved"}}));
  }
  EXPECT_EQ(test::contents(kept), "kept");
  EXPECT_EQ(test::contents(input), "{}");
  EXPECT_EQ(s.request("POST", "/api/save", R"({"file": "sub/new.json"})").status, 500);
  EXPECT_EQ(s.post("/api/save", R"({"file": "frames/new.json"})"),
            Json({{"saved", (folder / "frames/new.json").string()}}));
  s.post("/api/edits", R"([{"op":"move","id":"src","x":1,"y":2}])");
  s.post("/api/save", "");
  EXPECT_EQ(Json::parse(test::contents(folder / "frames/new.json"))["layout"]["src"]["y"], 2);
  // The relative input is written as the path it names, which the new file finds.
  EXPECT_EQ(Json::parse(s.document())["patches"]["src"]["inputs"]["inputPath"], "frames/clip.json");
  EXPECT_EQ(Json::parse(test::contents(folder /
                                       "frames/new.json"))["patches"]["src"]["inputs"]["inputPath"],
            input.string());
}

// A stateless composition on a clip: Hough lines of every frame.
std::string linesOf(const std::string& clip, int threshold) {
  return R"({"patches": {
    "src": {"class": "ImageSource", "inputs": {"inputPath": ")" +
         clip + R"("}},
    "toCV": {"class": "QCImageToOpenCVImage"}, "gray": {"class": "OpenCVBGR2Gray"},
    "canny": {"class": "OpenCVCanny", "inputs": {"inputThreshold1": )" +
         std::to_string(threshold) + R"(, "inputThreshold2": 300}},
    "hough": {"class": "OpenCVHoughLines2", "inputs": {"inputThreshold": 60, "inputMinLength": 30}}},
  "connections": [{"from": "src.outputImage", "to": "toCV.inputImage"},
    {"from": "toCV.outputImage", "to": "gray.inputImage"},
    {"from": "gray.outputImage", "to": "canny.inputImage"},
    {"from": "canny.outputImage", "to": "hough.inputImage"}],
  "publish": ["hough.outputLines"]})";
}

// A seek makes frame N the one shown, with the values of `cvcomp run`'s frame N; a value changed
// while paused evaluates that frame again as a run with the value gives it; the end of the clip
// starts it again without pausing when looping, and pauses when not.
TEST(StudioTransport, SeeksToTheRunsFrameEvaluatesAChangedValueAgainAndLoops) {
  const test::TempFolder folder;
  const std::filesystem::path file =
      folder.write("lines.json", linesOf(test::sample("Megamind.avi"), 100));
  const std::filesystem::path changed =
      folder.write("changed.json", linesOf(test::sample("Megamind.avi"), 250));
  const test::Outcome run = test::cvcomp("run " + file.string() + " -q --json -");
  const test::Outcome changedRun =
      test::cvcomp("run " + changed.string() + " -q --frames 151 --json -");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<Json> lines = test::jsonLines(run.out);
  const std::vector<Json> changedLines = test::jsonLines(changedRun.out);
  ASSERT_EQ(lines.size(), 270u);
  ASSERT_NE(lines[150], changedLines[150]);

  Studio studio({file.string()});
  studio.await([](const Json& now) { return now["frame"] != nullptr; });
  Json state = studio.transport("pause");
  EXPECT_EQ(state["speed"], "native");
  EXPECT_EQ(state["loop"], true);
  EXPECT_EQ(state["length"], 270);
  EXPECT_NEAR(state["rate"].get<double>(), 23.976, 0.001);
  Watcher watcher(studio, R"({"type": "watch", "fps": 0, "ports": ["hough.outputLines"]})");
  // The paused frame, sent as the watch is taken.
  std::uint64_t seq = watcher.frameAfter(0)["seq"];
  for (const std::uint64_t frame : {150, 20, 150}) {
    state = studio.post("/api/transport", Json{{"action", "seek"}, {"frame", frame}}.dump());
    EXPECT_EQ(state["frame"], frame);
    EXPECT_EQ(state["playing"], false);
    const Json shown = watcher.frameAfter(seq);
    seq = shown["seq"];
    EXPECT_EQ(shown["frame"], frame);
    EXPECT_EQ(shown["values"]["hough.outputLines"], lines[frame]["hough.outputLines"]);
    EXPECT_EQ(shown["time"], lines[frame]["time"]);
  }
  studio.post("/api/edits", R"([{"op":"set","port":"canny.inputThreshold1","value":250}])");
  const Json again = watcher.frameAfter(seq);
  EXPECT_EQ(again["frame"], 150);
  EXPECT_EQ(again["values"]["hough.outputLines"], changedLines[150]["hough.outputLines"]);
  EXPECT_EQ(studio.transport()["frame"], 150);

  for (const auto& [request, error] : std::initializer_list<std::pair<std::string, std::string>>{
           {R"({"action":"seek","frame":270})", "the transport: no frame 270 (the input has 270)"},
           {R"({"action":"seek"})", "the transport: seek needs a \"frame\""},
           {R"({"action":"seek","frame":1.5})",
            "the transport: \"frame\" must be a whole number from 0"},
           {R"({"frame":3})", "the transport: \"frame\" goes with the action \"seek\""},
           {R"({"speed":"slow"})", "the transport: \"speed\" is \"native\" or \"max\""},
           {R"({"loop":1})", "the transport: \"loop\" must be true or false"},
           {R"({"pictureRate":0})",
            "the transport: \"pictureRate\" is from 0.1 to 240 frames a second"}}) {
    const Response refused = studio.request("POST", "/api/transport", request);
    EXPECT_EQ(refused.status, 400) << request;
    EXPECT_EQ(refused.json(), Json({{"error", error}}));
  }
  EXPECT_EQ(studio.transport()["frame"], 150);

  // Looping: from the last frame on to the first, playing on.
  studio.post("/api/transport", R"({"action":"seek","frame":268})");
  studio.post("/api/transport", R"({"speed":"max","action":"play"})");
  studio.await([](const Json& now) { return now["frame"] < 100 && now["frame"] > 2; });
  state = studio.transport();
  EXPECT_EQ(state["playing"], true);
  EXPECT_EQ(state["speed"], "max");
  EXPECT_EQ(watcher.frame(0).first["values"]["hough.outputLines"], lines[0]["hough.outputLines"]);
  // Without looping, the end pauses at the last frame.
  studio.post("/api/transport", R"({"loop":false,"action":"seek","frame":260})");
  studio.await([](const Json& now) { return now["ended"] == true; });
  state = studio.transport();
  EXPECT_EQ(state["playing"], false);
  EXPECT_EQ(state["frame"], 269);
  EXPECT_EQ(state["loop"], false);
}

// Without a frame source there is no clock: playing evaluates once after each change, and the
// engine's thread sleeps in between.
TEST(StudioTransport, WithoutAFrameSourceEvaluatesOnceAfterEachChange) {
  const test::TempFolder folder;
  const std::filesystem::path file = folder.write("steps.json", kSteps);
  Studio studio({file.string()});
  Watcher watcher(studio, R"({"type": "watch", "fps": 0, "ports": ["a.outputSignal"]})");
  const Json first = watcher.frameAfter(0);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  Json state = studio.transport();
  EXPECT_EQ(state["playing"], true);
  EXPECT_EQ(state["frame"], 0);
  EXPECT_EQ(state["length"], nullptr);
  EXPECT_EQ(state["rate"], nullptr);
  EXPECT_EQ(watcher.frameAfter(0)["seq"], first["seq"]);
  studio.post("/api/edits", R"([{"op":"set","port":"a.inputPeriod","value":3}])");
  const Json again = watcher.frameAfter(first["seq"]);
  EXPECT_EQ(again["frame"], 0);
  EXPECT_EQ(again["seq"], first["seq"].get<std::uint64_t>() + 1);
  const Response refused =
      studio.request("POST", "/api/transport", R"({"action":"seek","frame":0})");
  EXPECT_EQ(refused.status, 400);
  EXPECT_EQ(refused.json(),
            Json({{"error", file.string() + ": the composition has no frame source"}}));
}

}  // namespace
}  // namespace cvcomp
