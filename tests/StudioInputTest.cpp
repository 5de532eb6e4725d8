// The studio's own input and output, against `cvcomp studio` run in a folder of its own:
// uploads (names made safe, clashes, the size cap, a refused file that keeps the old input),
// camera frames over the live connection, and recordings equal to what `cvcomp run` writes.

#include <signal.h>
#include <unistd.h>

#include <opencv2/imgcodecs.hpp>

#include "StudioClient.hpp"
#include "studio/StudioFiles.hpp"

namespace cvcomp {
namespace {

using namespace test;

TEST(StudioFileNames, KeepTheLastPartOfAPathAndNoHiddenControlOrSourceLikeName) {
  const std::string longStem(250, 'a');
  for (const auto& [given, safe] :
       std::initializer_list<std::pair<std::string, std::optional<std::string>>>{
           {"clip.avi", "clip.avi"},
           {"../../etc/passwd", "passwd"},
           {"C:\\fakepath\\clip.avi", "clip.avi"},
           {".hidden.png", "hidden.png"},
           {"  . clip.avi ", "clip.avi"},
           {"..", std::nullopt},
           {"dir/", std::nullopt},
           {"", std::nullopt},
           {"a\nb\x7f\t.png", "a_b__.png"},
           {"camera:0", "camera_0"},
           {"say \"hi\".png", "say _hi_.png"},
           {"bad\xff\xfe.png", "bad__.png"},
           {"caf\xc3\xa9.png", "caf\xc3\xa9.png"},
           {longStem + ".avi", std::string(196, 'a') + ".avi"},
           {std::string(199, 'a') + "\xc3\xa9", std::string(199, 'a')}}) {
    EXPECT_EQ(safeFileName(given), safe) << given;
  }
}

constexpr const char* kGray = R"({
  "patches": {
    "src": {"class": "ImageSource", "inputs": {"inputPath": "pattern:160x120"}},
    "toCV": {"class": "QCImageToOpenCVImage"},
    "gray": {"class": "OpenCVBGR2Gray"},
    "toHost": {"class": "OpenCVImageToQCImage"},
    "pulse": {"class": "Pulse"}
  },
  "connections": [
    {"from": "src.outputImage", "to": "toCV.inputImage"},
    {"from": "toCV.outputImage", "to": "gray.inputImage"},
    {"from": "gray.outputImage", "to": "toHost.inputImage"}
  ],
  "publish": ["toHost.outputImage", "pulse.outputSignal"]
})";

// The studio on kGray, started in a folder of its own, where its uploads and recordings go.
class StudioInput : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder = new TempFolder;
    file = folder->write("gray.json", kGray);
    const std::filesystem::path here = std::filesystem::current_path();
    std::filesystem::current_path(folder->path());
    studio = new Studio({file.string()});
    std::filesystem::current_path(here);
  }
  static void TearDownTestSuite() {
    delete studio;
    delete folder;
  }
  static std::string input() {
    return Json::parse(studio->document())["patches"]["src"]["inputs"]["inputPath"];
  }
  // Through a connection of its own: civetweb's client calls take no body holding a NUL.
  static Response upload(const std::string& name, const std::string& bytes,
                         const std::string& headers = {}) {
    RawConnection connection(studio->port);
    connection.send(
        "POST /api/upload?name=" + name + " HTTP/1.1\r\nHost: " + studio->host() + "\r\n" +
        (headers.empty()
             ? "Authorization: Bearer " + studio->token + "\r\nOrigin: " + studio->origin() + "\r\n"
             : headers) +
        "Content-Length: " + std::to_string(bytes.size()) + "\r\n\r\n" + bytes);
    const std::string answer = connection.answer();
    const std::size_t body = answer.find("\r\n\r\n");
    if (body == std::string::npos || answer.size() < 12) return {0, answer};
    return {std::stoi(answer.substr(9, 3)), answer.substr(body + 4)};
  }
  static std::set<std::string> uploaded() {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(*folder / "cvcomp-uploads")) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }
  static inline TempFolder* folder = nullptr;
  static inline std::filesystem::path file;
  static inline Studio* studio = nullptr;
};

std::string pngOf(const cv::Mat& picture) {
  std::vector<unsigned char> bytes;
  cv::imencode(".png", picture, bytes);
  return {bytes.begin(), bytes.end()};
}

TEST_F(StudioInput, UploadsUnderSafeFreeNamesRefusesTooLargeAndKeepsTheInputForAnUnreadableFile) {
  const Studio& s = *studio;
  const std::string picture = pngOf(cv::Mat(48, 64, CV_8UC3, cv::Scalar(10, 200, 30)));
  const std::filesystem::path uploads = *folder / "cvcomp-uploads";
  // The name is made safe; a second file of the same name takes the next free one.
  for (const auto& [name, placed] : std::initializer_list<std::pair<std::string, std::string>>{
           {"..%2F..%2F.frame.png", "frame.png"}, {"frame.png", "frame-2.png"}}) {
    const Response answer = upload(name, picture);
    ASSERT_EQ(answer.status, 200) << answer.body;
    EXPECT_EQ(answer.json()["input"], (uploads / placed).string());
    EXPECT_EQ(input(), (uploads / placed).string());
    EXPECT_EQ(contents(uploads / placed), picture);
  }
  EXPECT_EQ(s.transport("step")["failure"], nullptr);
  // A file that is no picture is refused, removed, and the input before it goes on.
  const Response broken = upload("broken.png", "not a picture");
  EXPECT_EQ(broken.status, 400);
  EXPECT_EQ(broken.json(),
            Json({{"error", (uploads / "broken.png").string() + ": not a readable picture"}}));
  EXPECT_EQ(input(), (uploads / "frame-2.png").string());
  EXPECT_EQ(s.transport("step")["failure"], nullptr);
  // Larger than the cap: refused from its length, before any of it is read.
  RawConnection large(s.port);
  large.send("POST /api/upload?name=large.avi HTTP/1.1\r\nHost: " + s.host() +
             "\r\nAuthorization: Bearer " + s.token + "\r\nOrigin: " + s.origin() +
             "\r\nContent-Length: " + std::to_string((512LL << 20) + 1) + "\r\n\r\n");
  const std::string answer = large.answer();
  EXPECT_TRUE(answer.starts_with("HTTP/1.1 413 ")) << answer;
  EXPECT_NE(answer.find(R"({"error":"the upload is larger than the 512 MiB the studio takes"})"),
            std::string::npos)
      << answer;
  // Refused without a name, from another page or without the token.
  EXPECT_EQ(upload("", picture).status, 400);
  EXPECT_EQ(upload("x.png", picture,
                   "Authorization: Bearer " + s.token + "\r\nOrigin: http://elsewhere.example\r\n")
                .status,
            403);
  EXPECT_EQ(upload("x.png", picture, "Origin: " + s.origin() + "\r\n").status, 401);
  // No half upload, no temporary file and nothing outside the folder is left.
  EXPECT_EQ(uploaded(), (std::set<std::string>{"frame.png", "frame-2.png"}));
  EXPECT_FALSE(std::filesystem::exists(folder->path().parent_path() / "frame.png"));
}

// Recording from a fresh composition, stepped frame by frame, writes the frames and lines that
// `cvcomp run --frames N` writes; its files download by name, and nothing else does.
TEST_F(StudioInput, RecordsAVideoOfEveryFrameAndTheRunsJsonLines) {
  const Studio& s = *studio;
  const std::string origin = "Origin: " + s.origin() + "\r\n";
  s.transport("pause");
  ASSERT_EQ(s.request("PUT", "/api/composition", kGray).status, 200);
  const Response notPicture =
      s.request("POST", "/api/record", R"({"action":"start","port":"pulse.outputSignal"})", origin);
  EXPECT_EQ(notPicture.json(), Json({{"error", "\"pulse.outputSignal\" carries no pictures"}}));
  EXPECT_EQ(s.request("POST", "/api/record", R"({"action":"stop"})", origin).json(),
            Json({{"error", "no recording is in progress"}}));
  const Json started = s.post("/api/record", R"({"action":"start"})");
  EXPECT_EQ(started["port"], "toHost.outputImage");
  EXPECT_EQ(s.request("POST", "/api/record", R"({"action":"start"})", origin).status, 400);
  constexpr int kFrames = 12;
  for (int i = 0; i < kFrames; ++i) s.transport("step");
  const Json stopped = s.post("/api/record", R"({"action":"stop"})");
  EXPECT_EQ(stopped, Json({{"recording", false},
                           {"port", "toHost.outputImage"},
                           {"video", "toHost.outputImage.avi"},
                           {"json", "toHost.outputImage.jsonl"},
                           {"frames", kFrames},
                           {"failure", nullptr}}));
  const std::filesystem::path recordings = *folder / "cvcomp-recordings";
  EXPECT_EQ(playedFrames(recordings / "toHost.outputImage.avi"), std::size_t{kFrames});
  const std::filesystem::path expected = *folder / "expected.jsonl";
  ASSERT_EQ(cvcomp("run -q --frames " + std::to_string(kFrames) + " --json " + expected.string() +
                   " " + file.string())
                .status,
            0);
  EXPECT_EQ(contents(recordings / "toHost.outputImage.jsonl"), contents(expected));
  // The next recording takes names of its own.
  EXPECT_EQ(s.post("/api/record", R"({"action":"start"})")["video"], "toHost.outputImage-2.avi");
  s.post("/api/record", R"({"action":"stop"})");
  const Response video = s.request("GET", "/api/recordings/toHost.outputImage.avi");
  EXPECT_EQ(video.status, 200);
  EXPECT_EQ(video.body, contents(recordings / "toHost.outputImage.avi"));
  for (const char* name : {"..%2Fgray.json", "missing.avi", ".hidden"}) {
    EXPECT_EQ(s.request("GET", std::string("/api/recordings/") + name).status, 404) << name;
  }
  EXPECT_EQ(s.raw("GET", "/api/recordings/toHost.outputImage.avi", {}, "Host: " + s.host() + "\r\n")
                .status,
            401);
}

// A WebSocket client of /api/live that watches nothing but the frames' times, sends binary
// messages and keeps the text messages it is sent.
class LiveConnection {
 public:
  explicit LiveConnection(const Studio& studio) {
    char error[256] = "";
    const std::string path = "/api/live?token=" + studio.token;
    connection_ =
        mg_connect_websocket_client("127.0.0.1", studio.port, 0, error, sizeof error, path.c_str(),
                                    studio.origin().c_str(), onData, onClose, this);
    EXPECT_NE(connection_, nullptr) << error;
    const std::string watch = R"({"type": "watch", "ports": [], "fps": 0})";
    mg_websocket_client_write(connection_, MG_WEBSOCKET_OPCODE_TEXT, watch.data(), watch.size());
  }
  LiveConnection(const LiveConnection&) = delete;
  LiveConnection& operator=(const LiveConnection&) = delete;
  ~LiveConnection() { mg_close_connection(connection_); }

  void send(const std::string& header, const std::string& jpeg) {
    std::string message(4, '\0');
    for (int i = 0; i < 4; ++i) message[i] = static_cast<char>(header.size() >> (8 * i));
    message += header + jpeg;
    mg_websocket_client_write(connection_, MG_WEBSOCKET_OPCODE_BINARY, message.data(),
                              message.size());
  }
  // The next message of `type` after those taken before, waiting up to 30 s; {"type": "closed"}
  // when the server closed the connection first.
  Json next(const std::string& type) {
    std::unique_lock lock(mutex_);
    std::size_t& seen = seen_[type];
    const auto found = [&] {
      return std::find_if(messages_.begin() + static_cast<std::ptrdiff_t>(seen), messages_.end(),
                          [&](const Json& message) { return message["type"] == type; });
    };
    changed_.wait_for(lock, std::chrono::seconds(30),
                      [&] { return found() != messages_.end() || closed_; });
    const auto message = found();
    if (message == messages_.end()) return {{"type", "closed"}};
    seen = static_cast<std::size_t>(message - messages_.begin()) + 1;
    return *message;
  }

 private:
  static int onData(mg_connection*, int bits, char* data, std::size_t size, void* self) {
    auto& client = *static_cast<LiveConnection*>(self);
    if ((bits & 0x0f) != MG_WEBSOCKET_OPCODE_TEXT) return 1;
    const std::lock_guard lock(client.mutex_);
    client.messages_.push_back(Json::parse(std::string(data, size)));
    client.changed_.notify_all();
    return 1;
  }
  static void onClose(const mg_connection*, void* self) {
    auto& client = *static_cast<LiveConnection*>(self);
    const std::lock_guard lock(client.mutex_);
    client.closed_ = true;
    client.changed_.notify_all();
  }

  mg_connection* connection_ = nullptr;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Json> messages_;
  std::map<std::string, std::size_t> seen_;
  bool closed_ = false;
};

std::string jpegOf(const cv::Mat& picture) {
  std::vector<unsigned char> bytes;
  cv::imencode(".jpg", picture, bytes);
  return {bytes.begin(), bytes.end()};
}

// Camera frames are evaluated in place of the input's, which pauses, the newest of those that
// wait, and each frame once or replaced; what cannot be one is answered with why, and a message
// larger than any frame closes the client.
TEST_F(StudioInput, EvaluatesTheLatestCameraFrameAndRefusesWhatIsNoFrame) {
  const Studio& s = *studio;
  s.transport("play");
  const auto counts = [&] { return s.request("GET", "/api/camera").json(); };
  const Json before = counts();
  LiveConnection camera(s);
  const std::string frame = jpegOf(cv::Mat(480, 640, CV_8UC3, cv::Scalar(9, 90, 200)));
  constexpr int kSent = 40;
  for (int i = 1; i <= kSent; ++i) {
    camera.send(Json{{"type", "camera"}, {"time", i / 4.0}}.dump(), frame);
  }
  s.await([&](const Json&) {
    const Json now = counts();
    return now["processed"].get<int>() + now["dropped"].get<int>() ==
           before["processed"].get<int>() + before["dropped"].get<int>() + kSent;
  });
  EXPECT_EQ(counts()["received"], before["received"].get<int>() + kSent);
  EXPECT_EQ(s.transport()["playing"], false);
  // The last frame sent is always evaluated, and last.
  Json last;
  do {
    last = camera.next("frame");
  } while (last.contains("time") && last["time"] != kSent / 4.0);
  EXPECT_EQ(last["time"], kSent / 4.0);
  for (const auto& [header, jpeg, error] :
       std::initializer_list<std::tuple<std::string, std::string, std::string>>{
           {R"({"type":"camera"})", pngOf(cv::Mat(4, 4, CV_8UC3)),
            "a camera frame: not a JPEG picture"},
           {R"({"type":"picture"})", jpegOf(cv::Mat(4, 4, CV_8UC3)),
            R"(a camera frame's header must be {"type": "camera", "time": T})"},
           {R"({"type":"camera","time":"now"})", jpegOf(cv::Mat(4, 4, CV_8UC3)),
            "a camera frame: \"time\" must be a number"},
           {R"({"type":"camera"})", jpegOf(cv::Mat(8, 8193, CV_8UC3, cv::Scalar::all(90))),
            "a camera frame: 8193 × 8 pixels, more than the 8192 × 8192 a frame may have"}}) {
    camera.send(header, jpeg);
    EXPECT_EQ(camera.next("error")["error"], error) << header;
  }
  camera.send(R"({"type":"camera"})", std::string(16u << 20, 'x'));
  EXPECT_EQ(camera.next("error"), Json({{"type", "closed"}}));
}

// A recording whose port goes away with an edit ends with the failure told to every page, and
// what it wrote before stays readable.
TEST_F(StudioInput, EndsARecordingWhosePortIsGoneAndTellsThePages) {
  const Studio& s = *studio;
  s.transport("pause");
  ASSERT_EQ(s.request("PUT", "/api/composition", kGray).status, 200);
  LiveConnection page(s);
  const Json started = s.post("/api/record", R"({"action":"start","port":"toHost.outputImage"})");
  for (int i = 0; i < 3; ++i) s.transport("step");
  s.post("/api/edits", R"([{"op":"remove","id":"toHost"}])");
  s.transport("step");
  const Json told = page.next("recording")["recording"];
  EXPECT_EQ(told["recording"], false);
  EXPECT_EQ(told["frames"], 3);
  EXPECT_NE(told["failure"], nullptr);
  EXPECT_EQ(playedFrames(*folder / "cvcomp-recordings" / started["video"].get<std::string>()),
            std::size_t{3});
  EXPECT_EQ(s.request("POST", "/api/record", R"({"action":"stop"})").status, 400);
}

// A studio stopped by a signal while it records ends the recording first: the video holds every
// frame of the JSON lines.
TEST(StudioRecording, EndsWholeWhenASignalStopsTheStudio) {
  const TempFolder folder;
  const std::filesystem::path file = folder.write("gray.json", kGray);
  const std::filesystem::path here = std::filesystem::current_path();
  std::filesystem::current_path(folder.path());
  Studio studio({file.string()});
  std::filesystem::current_path(here);
  studio.post("/api/record", R"({"action":"start"})");
  studio.await([](const Json& state) { return state["frame"] >= 40; });
  studio.signal(SIGTERM);
  EXPECT_TRUE(studio.wait(std::chrono::seconds(20)).has_value());
  const std::filesystem::path recordings = folder / "cvcomp-recordings";
  const std::size_t lines = lineCount(contents(recordings / "toHost.outputImage.jsonl"));
  EXPECT_GT(lines, 0u);
  EXPECT_EQ(playedFrames(recordings / "toHost.outputImage.avi"), lines);
}

}  // namespace
}  // namespace cvcomp
