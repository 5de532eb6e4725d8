// The GStreamer element in real pipelines: the lines it posts against `cvcomp run`'s, the region
// metas it adds, the pictures it passes on, settings changed while playing, and its refusals.

#include <gst/gst.h>
#include <gst/video/video.h>

#include <cstdlib>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "TestSupport.hpp"

namespace cvcomp {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// GStreamer, set up to find the built element, with a registry of the build's own that
// gst-launch-1.0 and gst-inspect-1.0 share; a folder for each test.
class CvcompElement : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("GST_PLUGIN_PATH", CVCOMP_GST_PLUGIN_DIR, 1);
    setenv("GST_REGISTRY", CVCOMP_GST_REGISTRY, 1);
    ASSERT_TRUE(gst_init_check(nullptr, nullptr, nullptr));
  }
  const test::TempFolder folder;
  const std::string faceDetect = test::example("face-detect.json");
};

struct Region {
  std::string type;
  cv::Rect rectangle;
  cv::Scalar corner;  // the pixel at the top left corner, in the buffer's format
};

// What a pipeline did before its end or its first error.
struct Played {
  std::vector<json> lines;  // the "json" of each "cvcomp" message
  std::vector<GstClockTime> timestamps;
  std::vector<std::vector<Region>> regions;  // of each buffer the sink received
  std::string error;                         // the first error's message; empty after the end
};

void collectRegions(GstBuffer* buffer, GstPad* pad, Played& played) {
  GstCaps* caps = gst_pad_get_current_caps(pad);
  GstVideoInfo info;
  const bool known = gst_video_info_from_caps(&info, caps);
  gst_caps_unref(caps);
  GstVideoFrame frame;
  if (!known || !gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) {
    ADD_FAILURE() << "the sink's buffer cannot be read";
    return;
  }
  const int channels = GST_VIDEO_INFO_COMP_PSTRIDE(&info, 0);
  const cv::Mat pixels(GST_VIDEO_INFO_HEIGHT(&info), GST_VIDEO_INFO_WIDTH(&info), CV_8UC(channels),
                       GST_VIDEO_FRAME_PLANE_DATA(&frame, 0),
                       static_cast<std::size_t>(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0)));
  std::vector<Region> regions;
  gpointer state = nullptr;
  while (GstMeta* meta = gst_buffer_iterate_meta_filtered(
             buffer, &state, GST_VIDEO_REGION_OF_INTEREST_META_API_TYPE)) {
    const auto* roi = reinterpret_cast<GstVideoRegionOfInterestMeta*>(meta);
    const cv::Rect rectangle(static_cast<int>(roi->x), static_cast<int>(roi->y),
                             static_cast<int>(roi->w), static_cast<int>(roi->h));
    cv::Scalar corner;
    for (int c = 0; c < channels; ++c) corner[c] = pixels.ptr(rectangle.y, rectangle.x)[c];
    regions.push_back({g_quark_to_string(roi->roi_type), rectangle, corner});
  }
  gst_video_frame_unmap(&frame);
  played.regions.push_back(std::move(regions));
}

using BufferHook = std::function<void(GstElement* pipeline, std::size_t buffer)>;

// Plays a pipeline that ends in `fakesink name=sink` to its end or its first error; `hook` runs
// on the streaming thread after the sink received each buffer.
Played play(const std::string& description, const BufferHook& hook = {}) {
  Played played;
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
  if (error) {
    ADD_FAILURE() << description << ": " << error->message;
    g_error_free(error);
    return played;
  }
  struct Handoff {
    Played& played;
    GstElement* pipeline;
    const BufferHook& hook;
  } handoff{played, pipeline, hook};
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
  g_object_set(sink, "signal-handoffs", TRUE, "sync", FALSE, nullptr);
  g_signal_connect(sink, "handoff",
                   G_CALLBACK(+[](GstElement*, GstBuffer* buffer, GstPad* pad, Handoff* h) {
                     collectRegions(buffer, pad, h->played);
                     if (h->hook) h->hook(h->pipeline, h->played.regions.size() - 1);
                   }),
                   &handoff);
  gst_object_unref(sink);
  GstBus* bus = gst_element_get_bus(pipeline);
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  const auto wanted =
      static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS | GST_MESSAGE_ELEMENT);
  while (GstMessage* message = gst_bus_timed_pop_filtered(bus, 300 * GST_SECOND, wanted)) {
    const GstMessageType type = GST_MESSAGE_TYPE(message);
    if (type == GST_MESSAGE_ELEMENT && gst_message_has_name(message, "cvcomp")) {
      const GstStructure* structure = gst_message_get_structure(message);
      played.lines.push_back(
          json::parse(gst_structure_get_string(structure, "json"), nullptr, false));
      guint64 timestamp = 0;
      gst_structure_get_uint64(structure, "timestamp", &timestamp);
      played.timestamps.push_back(timestamp);
    } else if (type == GST_MESSAGE_ERROR) {
      GError* failure = nullptr;
      gst_message_parse_error(message, &failure, nullptr);
      played.error = failure->message;
      g_error_free(failure);
    }
    gst_message_unref(message);
    if (type != GST_MESSAGE_ELEMENT) break;
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(bus);
  gst_object_unref(pipeline);
  return played;
}

// Frames 38 to 41 of Megamind.avi, which show a face, as f0.png to f3.png; in gray when asked.
void writeMegamindPictures(const test::TempFolder& folder, bool gray = false) {
  cv::VideoCapture clip(test::sample("Megamind.avi").string());
  cv::Mat frame;
  for (int f = 0; f < 42 && clip.read(frame); ++f) {
    if (f < 38) continue;
    if (gray) cv::cvtColor(frame, frame, cv::COLOR_BGR2GRAY);
    cv::imwrite((folder / cv::format("f%d.png", f - 38)).string(), frame);
  }
}

std::vector<json> cvcompLines(const std::string& arguments) {
  const test::Outcome outcome = test::cvcomp("run " + arguments + " --json - --quiet");
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  return test::jsonLines(outcome.out);
}

std::vector<json> comparable(std::vector<json> lines) {
  for (json& line : lines) line = test::withSortedObjects(std::move(line));
  return lines;
}

// The element's lines, comparable, with the time `cvcomp run` gives each frame: the element's is
// the buffer's timestamp, whole nanoseconds.
std::vector<json> atRunTimes(const Played& played, const std::vector<json>& run) {
  std::vector<json> lines = comparable(played.lines);
  for (std::size_t i = 0; i < lines.size() && i < run.size(); ++i) {
    EXPECT_NEAR(lines[i]["time"].get<double>(), run[i]["time"].get<double>(), 1e-9);
    EXPECT_NEAR(static_cast<double>(played.timestamps[i]) / GST_SECOND,
                run[i]["time"].get<double>(), 1e-9);
    lines[i]["time"] = run[i]["time"];
  }
  return lines;
}

std::string picturesSource(const test::TempFolder& folder) {
  return "multifilesrc location=" + (folder / "f%d.png").string() +
         " caps=image/png,framerate=30/1 ! pngdec ! videoconvert ! ";
}

class GstFormats : public CvcompElement, public testing::WithParamInterface<std::string> {};

TEST_P(GstFormats, PostsTheLinesOfCvcompRunAndMarksAndBoxesTheFaces) {
  const bool gray = GetParam() == "GRAY8";
  writeMegamindPictures(folder, gray);
  const std::vector<json> run = cvcompLines(faceDetect + " --input " + folder.path().string());
  const Played played =
      play(picturesSource(folder) + "video/x-raw,format=" + GetParam() +
           " ! cvcomp composition=" + faceDetect + " output=composition ! fakesink name=sink");
  ASSERT_EQ(played.error, "");
  ASSERT_EQ(run.size(), 4u);
  EXPECT_EQ(atRunTimes(played, run), comparable(run));
  ASSERT_EQ(played.regions.size(), 4u);
  // The overlay's opaque green, in the frame's format.
  cv::Scalar boxed(0, 255, 0, GetParam().size() == 4 ? 255 : 0);
  if (gray) {
    cv::Mat green(1, 1, CV_8UC3, boxed);
    cv::cvtColor(green, green, cv::COLOR_BGR2GRAY);
    boxed = cv::Scalar(green.at<uchar>(0));
  }
  std::size_t faces = 0;
  for (std::size_t i = 0; i < played.regions.size(); ++i) {
    EXPECT_EQ(played.regions[i].size(), run[i]["faces.outputRects"].size()) << i;
    for (const Region& region : played.regions[i]) {
      EXPECT_EQ(region.type, "faces");
      EXPECT_EQ(region.corner, boxed) << i << " " << region.rectangle;
    }
    faces += played.regions[i].size();
  }
  EXPECT_GE(faces, 3u);
}

INSTANTIATE_TEST_SUITE_P(Formats, GstFormats, testing::Values("BGRx", "BGRA", "BGR", "GRAY8"));

TEST_F(CvcompElement, SettingsChangedWhilePlayingApplyFromTheNextFrame) {
  writeMegamindPictures(folder);
  const std::string faces = faceDetect + " --input " + folder.path().string();
  const std::vector<json> before = cvcompLines(faces + " --set faces.inputMinNeighbors=2");
  const std::vector<json> after = cvcompLines(faces + " --set faces.inputMinSize=300");
  ASSERT_EQ(before.size(), 4u);
  ASSERT_EQ(after.size(), 4u);
  ASSERT_NE(before[2], after[2]);
  const Played played = play(
      picturesSource(folder) + "cvcomp name=c set=faces.inputMinNeighbors=2 composition=" +
          faceDetect + " ! fakesink name=sink",
      [](GstElement* pipeline, std::size_t buffer) {
        if (buffer != 1) return;
        GstElement* element = gst_bin_get_by_name(GST_BIN(pipeline), "c");
        g_object_set(element, "set", "faces.inputMinSize=300; faces.inputMinNeighbors=2", nullptr);
        gst_object_unref(element);
      });
  ASSERT_EQ(played.error, "");
  EXPECT_EQ(atRunTimes(played, before), comparable({before[0], before[1], after[2], after[3]}));
}

TEST_F(CvcompElement, RefusesToStartWithoutAUsableComposition) {
  const std::string bad =
      folder.write("bad.json", R"({"patches": {"g": {"class": "OpenCVGray"}}})").string();
  const std::string missing = (folder / "missing.json").string();
  // The element's error is the message checking the composition gives.
  for (const auto& [properties, message] :
       std::initializer_list<std::pair<std::string, std::string>>{
           {"composition=" + bad, test::cvcomp("check " + bad).err},
           {"composition=" + missing, test::cvcomp("check " + missing).err},
           {"", "cvcomp: no composition: set the composition property\n"},
           {"composition=" + test::example("gray.json") + " set=toCV.inputFlip",
            "cvcomp: set: \"toCV.inputFlip\": expected ID.PORT=VALUE\n"}}) {
    const Played played = play("videotestsrc num-buffers=2 ! video/x-raw,format=BGRx ! cvcomp " +
                               properties + " ! fakesink name=sink");
    EXPECT_EQ("cvcomp: " + played.error + "\n", message) << properties;
    EXPECT_TRUE(played.lines.empty());
  }
}

TEST_F(CvcompElement, TheReadmePipelineBoxesTheFacesAndInspectShowsTheProperties) {
  writeMegamindPictures(folder);
  const std::string face = (folder / "f2.png").string();
  const std::string expected = (folder / "expected.png").string();
  ASSERT_EQ(test::cvcomp("run " + faceDetect + " --input " + face + " --quiet --video " + expected)
                .status,
            0);
  const std::string boxed = (folder / "boxed.png").string();
  const test::Outcome launched =
      test::shell("gst-launch-1.0 -q filesrc location=" + face +
                  " ! decodebin ! videoconvert ! cvcomp composition=" + faceDetect +
                  " output=composition ! videoconvert ! pngenc ! filesink location=" + boxed);
  ASSERT_EQ(launched.status, 0) << launched.err;
  EXPECT_TRUE(test::sameBytes(cv::imread(boxed), cv::imread(expected)));
  EXPECT_FALSE(test::sameBytes(cv::imread(boxed), cv::imread(face)));

  const test::Outcome inspected = test::shell("gst-inspect-1.0 cvcomp");
  ASSERT_EQ(inspected.status, 0) << inspected.err;
  for (const char* documented :
       {"composition         : The composition file (JSON) to run on every frame",
        "set                 : Inputs to set", "output              : What the element passes on",
        "(1): composition      - The composition's first published picture"}) {
    EXPECT_NE(inspected.out.find(documented), std::string::npos) << documented;
  }
}

}  // namespace
}  // namespace cvcomp
