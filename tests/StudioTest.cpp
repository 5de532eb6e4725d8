// The studio's server, run as `cvcomp studio` on an ephemeral port and driven over HTTP and
// WebSocket with civetweb's client calls: access checks, edits applied whole or not at all, the
// transport, live values and previews, a stalled client and shutdown by signal.

#include <civetweb.h>
#include <signal.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <opencv2/imgcodecs.hpp>

#include "TestSupport.hpp"

namespace cvcomp {
namespace {

using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;

struct Response {
  int status = 0;
  std::string body;
  Json json() const { return Json::parse(body); }
};

std::vector<std::string> studioCommand(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), {CVCOMP_PROGRAM, "studio", "--no-open", "--port", "0"});
  return arguments;
}

// `cvcomp studio ARGUMENTS --no-open --port 0`, with the port and token it prints.
class Studio : public test::BackgroundProgram {
 public:
  explicit Studio(std::vector<std::string> arguments)
      : BackgroundProgram(studioCommand(std::move(arguments)), true) {
    char printed[65] = "";
    std::sscanf(firstLine.c_str(), "http://127.0.0.1:%d/?token=%64s", &port, printed);
    token = printed;
    EXPECT_NE(port, 0) << "printed: " << firstLine;
  }

  std::string host() const { return "127.0.0.1:" + std::to_string(port); }
  std::string origin() const { return "http://" + host(); }

  Response request(const std::string& method, const std::string& path, const std::string& body = {},
                   const std::string& headers = {}) const {
    return raw(method, path, body,
               "Host: " + host() + "\r\nAuthorization: Bearer " + token + "\r\n" + headers);
  }
  Response raw(const std::string& method, const std::string& path, const std::string& body,
               const std::string& headers) const {
    char error[256] = "";
    mg_connection* connection =
        mg_download("127.0.0.1", port, 0, error, sizeof error,
                    "%s %s HTTP/1.1\r\n%sContent-Length: %zu\r\n\r\n%s", method.c_str(),
                    path.c_str(), headers.c_str(), body.size(), body.c_str());
    if (!connection) return {0, error};
    Response response{mg_get_response_info(connection)->status_code, {}};
    char chunk[4096];
    for (int got; (got = mg_read(connection, chunk, sizeof chunk)) > 0;) {
      response.body.append(chunk, static_cast<std::size_t>(got));
    }
    mg_close_connection(connection);
    return response;
  }
  Json post(const std::string& path, const std::string& body) const {
    const Response response = request("POST", path, body);
    EXPECT_EQ(response.status, 200) << response.body;
    return response.json();
  }
  // The transport's state, after `action` (play, pause or step) when one is given.
  Json transport(const std::string& action = {}) const {
    if (action.empty()) return request("GET", "/api/transport").json();
    return post("/api/transport", R"({"action":")" + action + "\"}");
  }
  std::string document() const { return request("GET", "/api/composition").body; }
  // Waits up to 60 s for the transport's state to be `done`.
  void await(const std::function<bool(const Json&)>& done) const {
    for (const Clock::time_point end = Clock::now() + std::chrono::seconds(60);
         Clock::now() < end && !done(transport());) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  int port = 0;
  std::string token;
};

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
  std::size_t textCount() {
    const std::lock_guard lock(mutex_);
    return texts_.size();
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
      if (text.contains("transport")) {
        watcher.transports_.push_back(text["transport"]);
      } else {
        watcher.texts_[text["frame"]] = text;
      }
    } else if ((bits & 0x0f) == MG_WEBSOCKET_OPCODE_BINARY && size > 4) {
      std::size_t length = 0;  // four bytes, little-endian
      for (int i = 3; i >= 0; --i) length = length << 8 | static_cast<unsigned char>(data[i]);
      const Json header = Json::parse(std::string(data + 4, length));
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
  std::vector<Json> transports_;
  std::map<std::uint64_t, std::vector<cv::Mat>> pictures_;
};

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
            "the transport: unknown action \"rewind\" (play, pause, step)"},
           {"GET", "/api/nothing", host + bearer, "", 404, "no such API: /api/nothing"},
           // The page's own Origin passes; the route refuses the method.
           {"DELETE", "/api/composition", host + bearer + "Origin: " + s.origin() + "\r\n", "", 405,
            "DELETE is not allowed on /api/composition"}}) {
    const Response response = s.raw(method, path, body, headers);
    EXPECT_EQ(response.status, status) << path << " " << headers;
    EXPECT_EQ(response.json(), Json({{"error", error}}));
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
  EXPECT_FALSE(Watcher(s, "{}", "http://evil.example").connected());
  EXPECT_FALSE(Watcher(s, "{}", {}, s.token.substr(1)).connected());
  EXPECT_TRUE(Watcher(s, "{}").connected());
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
  Watcher watcher(s, R"({"watch": [], "fps": 0.2})");
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
  const Response refused = s.request("POST", "/api/transport", R"({"input":"/no/such.avi"})");
  EXPECT_EQ(refused.status, 400);
  EXPECT_EQ(refused.json(), Json({{"error", "/no/such.avi: no such file or folder"}}));
  EXPECT_EQ(s.transport("step")["failure"], nullptr);
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
  studio.await([](const Json& state) { return state["ended"] == true; });
  Watcher reading(studio, R"({"watch": ["faces.outputRects", "overlay.outputImage", "nope.x"],
                              "maxSide": 200, "fps": 0})");
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
  Watcher stalled(studio, R"({"watch": ["overlay.outputImage"], "maxSide": 4096, "fps": 0})");
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

}  // namespace
}  // namespace cvcomp
