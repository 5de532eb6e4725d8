// The GStreamer element in real pipelines: the lines it posts and the pictures it passes on against
// `cvcomp run`'s, the region metas it adds, settings changed while playing, and its refusals.

#include <gst/gst.h>
#include <gst/video/video.h>

#include <sys/stat.h>

#include <cstdlib>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "TestSupport.hpp"

namespace cvcomp {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// GStreamer, set up to find the built element, with a registry of the build's own; a folder for
// each test.
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
};

// What a pipeline did before its end or its first error.
struct Played {
  std::vector<json> lines;  // the "json" of each "cvcomp" message
  std::vector<GstClockTime> timestamps;
  std::vector<std::vector<Region>> regions;  // of each buffer the sink received
  std::vector<cv::Mat> pictures;             // each buffer the sink received
  std::string error;                         // the first error's message; empty after the end
  std::vector<std::string> warnings;         // the warnings' messages
  std::string changed;  // the changed property's value read back, right after it was set
};

// A property of the element named c to set once the sink has its second buffer.
struct Change {
  const char* property;
  const char* value;
};

void collect(GstBuffer* buffer, GstPad* pad, Played& played) {
  GstCaps* caps = gst_pad_get_current_caps(pad);
  GstVideoInfo info;
  const bool known = gst_video_info_from_caps(&info, caps);
  gst_caps_unref(caps);
  GstVideoFrame frame;
  if (!known || !gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) {
    ADD_FAILURE() << "the sink's buffer cannot be read";
    return;
  }
  played.pictures.push_back(
      cv::Mat(GST_VIDEO_INFO_HEIGHT(&info), GST_VIDEO_INFO_WIDTH(&info),
              CV_8UC(GST_VIDEO_INFO_COMP_PSTRIDE(&info, 0)), GST_VIDEO_FRAME_PLANE_DATA(&frame, 0),
              static_cast<std::size_t>(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0)))
          .clone());
  gst_video_frame_unmap(&frame);
  std::vector<Region> regions;
  gpointer state = nullptr;
  while (GstMeta* meta = gst_buffer_iterate_meta_filtered(
             buffer, &state, GST_VIDEO_REGION_OF_INTEREST_META_API_TYPE)) {
    const auto* roi = reinterpret_cast<GstVideoRegionOfInterestMeta*>(meta);
    regions.push_back({g_quark_to_string(roi->roi_type),
                       cv::Rect(static_cast<int>(roi->x), static_cast<int>(roi->y),
                                static_cast<int>(roi->w), static_cast<int>(roi->h))});
  }
  played.regions.push_back(std::move(regions));
}

// Plays a pipeline that ends in `fakesink name=sink` to its end or its first error, and makes the
// change `later` when given; `first` is made before it plays (for text gst_parse_launch refuses).
Played play(const std::string& description, std::optional<Change> later = std::nullopt,
            std::optional<Change> first = std::nullopt) {
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
    std::optional<Change> later;
  } handoff{played, pipeline, later};
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
  g_object_set(sink, "signal-handoffs", TRUE, "sync", FALSE, nullptr);
  g_signal_connect(sink, "handoff",
                   G_CALLBACK(+[](GstElement*, GstBuffer* buffer, GstPad* pad, Handoff* h) {
                     collect(buffer, pad, h->played);
                     if (!h->later || h->played.pictures.size() != 2) return;
                     GstElement* element = gst_bin_get_by_name(GST_BIN(h->pipeline), "c");
                     g_object_set(element, h->later->property, h->later->value, nullptr);
                     gchar* value = nullptr;
                     g_object_get(element, h->later->property, &value, nullptr);
                     h->played.changed = value ? value : "";
                     g_free(value);
                     gst_object_unref(element);
                   }),
                   &handoff);
  gst_object_unref(sink);
  if (first) {
    GstElement* element = gst_bin_get_by_name(GST_BIN(pipeline), "c");
    g_object_set(element, first->property, first->value, nullptr);
    gst_object_unref(element);
  }
  GstBus* bus = gst_element_get_bus(pipeline);
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  const auto wanted = static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS |
                                                  GST_MESSAGE_ELEMENT | GST_MESSAGE_WARNING);
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
    } else if (type == GST_MESSAGE_WARNING) {
      GError* warning = nullptr;
      gst_message_parse_warning(message, &warning, nullptr);
      played.warnings.emplace_back(warning->message);
      g_error_free(warning);
    }
    gst_message_unref(message);
    if (type != GST_MESSAGE_ELEMENT && type != GST_MESSAGE_WARNING) break;
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(bus);
  gst_object_unref(pipeline);
  return played;
}

// The lines of `cvcomp run`.
std::vector<json> cvcompLines(const std::string& arguments) {
  const test::Outcome outcome = test::cvcomp("run " + arguments + " --json - --quiet");
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  return test::jsonLines(outcome.out);
}

class GstFormats : public CvcompElement, public testing::WithParamInterface<std::string> {};

// The element starts with one setting and is given another after its second frame: it posts the
// lines and passes on the pictures of `cvcomp run` with the first for two frames, then with the
// second.
TEST_P(GstFormats, PlaysAsCvcompRunsAndTakesSettingsChangedWhilePlayingFromTheNextFrame) {
  // Frames 38 to 41 of Megamind.avi, which show a face, in the format's colours.
  fs::create_directory(folder / "frames");
  cv::VideoCapture clip(test::sample("Megamind.avi").string());
  cv::Mat frame;
  for (int f = 0; f < 42 && clip.read(frame); ++f) {
    if (f < 38) continue;
    if (GetParam() == "GRAY8") cv::cvtColor(frame, frame, cv::COLOR_BGR2GRAY);
    cv::imwrite((folder / cv::format("frames/f%d.png", f - 38)).string(), frame);
  }
  const std::string faces = faceDetect + " --input " + (folder / "frames").string();
  const std::vector<json> before = cvcompLines(faces + " --set faces.inputMinNeighbors=2 --video " +
                                               (folder / "before%d.png").string());
  const std::vector<json> after = cvcompLines(faces + " --set faces.inputMinSize=300 --video " +
                                              (folder / "after%d.png").string());
  ASSERT_EQ(before.size(), 4u);
  ASSERT_EQ(after.size(), 4u);
  ASSERT_NE(before[2], after[2]);
  const Played played =
      play("multifilesrc location=" + (folder / "frames/f%d.png").string() +
               " caps=image/png,framerate=30/1 ! pngdec ! videoconvert ! video/x-raw,format=" +
               GetParam() + " ! cvcomp name=c set=faces.inputMinNeighbors=2 output=composition " +
               "composition=" + faceDetect + " ! fakesink name=sink",
           Change{"set", "faces.inputMinSize=300; faces.inputMinNeighbors=2"});
  ASSERT_EQ(played.error, "");
  const std::vector<json> run{before[0], before[1], after[2], after[3]};
  ASSERT_EQ(played.lines.size(), 4u);
  ASSERT_EQ(played.pictures.size(), 4u);
  std::size_t faceCount = 0;
  for (std::size_t i = 0; i < run.size(); ++i) {
    // The line of `cvcomp run`, at the buffer's timestamp in whole nanoseconds.
    json line = played.lines[i];
    EXPECT_NEAR(line["time"].get<double>(), run[i]["time"].get<double>(), 1e-9);
    EXPECT_NEAR(static_cast<double>(played.timestamps[i]) / GST_SECOND,
                run[i]["time"].get<double>(), 1e-9);
    line["time"] = run[i]["time"];
    EXPECT_EQ(line, run[i]) << i;
    // The composition's picture, in the frame's format: a gray frame takes it back in gray.
    const cv::Mat boxed =
        cv::imread((folder / cv::format(i < 2 ? "before%zu.png" : "after%zu.png", i)).string());
    cv::Mat passed = played.pictures[i], expected = boxed;
    if (passed.channels() == 4) cv::cvtColor(passed, passed, cv::COLOR_BGRA2BGR);
    if (passed.channels() == 1) cv::cvtColor(boxed, expected, cv::COLOR_BGR2GRAY);
    EXPECT_TRUE(test::sameBytes(passed, expected)) << i;
    // Each region is a face the overlay boxed in opaque green.
    EXPECT_EQ(played.regions[i].size(), run[i]["faces.outputRects"].size()) << i;
    for (const Region& region : played.regions[i]) {
      EXPECT_EQ(region.type, "faces");
      EXPECT_EQ(boxed.at<cv::Vec3b>(region.rectangle.tl()), cv::Vec3b(0, 255, 0)) << i;
    }
    faceCount += played.regions[i].size();
  }
  EXPECT_GE(faceCount, 3u);
}

INSTANTIATE_TEST_SUITE_P(Formats, GstFormats, testing::Values("BGRx", "BGRA", "BGR", "GRAY8"));

// A composition that cannot load gives the message checking it gives (a FIFO is refused, not
// waited on); the element's own properties are refused with their own.
TEST_F(CvcompElement, RefusesToStartWithoutAUsableComposition) {
  const std::string bad =
      folder.write("bad.json", R"({"patches": {"g": {"class": "OpenCVGray"}}})").string();
  const std::string fifo = (folder / "fifo.json").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const auto& [properties, message] :
       std::initializer_list<std::pair<std::string, std::string>>{
           {"composition=" + bad, test::cvcomp("check " + bad).err},
           {"composition=" + fifo, test::cvcomp("check " + fifo).err},
           {"", "cvcomp: no composition: set the composition property\n"}}) {
    const Played played =
        play(std::string("videotestsrc num-buffers=2 ! video/x-raw,format=BGRx ! cvcomp ") +
             "name=c " + properties + " ! fakesink name=sink");
    EXPECT_EQ("cvcomp: " + played.error + "\n", message) << properties;
    EXPECT_TRUE(played.lines.empty());
  }
  const std::string notUtf8 = test::example("gray.json") + "\xff";
  const Played played = play("videotestsrc num-buffers=2 ! cvcomp name=c ! fakesink name=sink",
                             std::nullopt, Change{"composition", notUtf8.c_str()});
  EXPECT_EQ(played.error, "composition: the path is not valid UTF-8");
}

// Settings refused at the start, like those refused while playing, leave the composition as it
// was with a warning; a composition named while playing is refused with a warning, and the
// property keeps the one that runs.
TEST_F(CvcompElement, RefusedChangesWarnAndLeaveTheCompositionAsItWas) {
  const std::string gray = test::example("gray.json");
  const std::string source =
      "videotestsrc num-buffers=4 ! video/x-raw,format=BGRx ! cvcomp name=c ";
  const std::string expected = "set: \"toCV.inputFlip\": expected ID.PORT=VALUE";
  for (const auto& [later, first, refusal] :
       std::initializer_list<std::tuple<std::optional<Change>, std::optional<Change>, std::string>>{
           {std::nullopt, Change{"set", "toCV.inputFlip"}, expected},
           {std::nullopt, Change{"set", "toCV.inputFlip=\xff"}, "set: the text is not valid UTF-8"},
           {Change{"set", "toCV.inputFlip=\xff"}, std::nullopt,
            "set: the text is not valid UTF-8"}}) {
    const Played played =
        play(source + "composition=" + gray + " ! fakesink name=sink", later, first);
    EXPECT_EQ(played.error, "");
    EXPECT_EQ(played.lines.size(), 4u);
    EXPECT_EQ(played.warnings, std::vector<std::string>{refusal});
  }
  const Played played = play(source + "composition=" + gray + " ! fakesink name=sink",
                             Change{"composition", faceDetect.c_str()});
  EXPECT_EQ(played.error, "");
  EXPECT_EQ(played.changed, gray);
  ASSERT_EQ(played.lines.size(), 4u);
  EXPECT_FALSE(played.lines[3].contains("faces.outputRects"));
  EXPECT_EQ(played.warnings,
            std::vector<std::string>{"composition: the element runs " + gray + " until it stops; " +
                                     faceDetect + " is not loaded"});
}

// The README's pipeline, as gst-launch-1.0 runs it from the shell, on a picture of a face.
TEST_F(CvcompElement, TheReadmePipelinePassesOnThePictureOfCvcompRun) {
  const std::string face = (folder / "face.png").string(), boxed = (folder / "boxed.png").string();
  cv::VideoCapture clip(test::sample("Megamind.avi").string());
  cv::Mat frame;
  for (int f = 0; f <= 40; ++f) clip.read(frame);
  ASSERT_TRUE(cv::imwrite(face, frame));
  ASSERT_EQ(test::cvcomp("run " + faceDetect + " --input " + face + " --quiet --video " +
                         (folder / "run.png").string())
                .status,
            0);
  const test::Outcome launched =
      test::shell("gst-launch-1.0 -q filesrc location=" + face +
                  " ! decodebin ! videoconvert ! cvcomp composition=" + faceDetect +
                  " output=composition ! videoconvert ! pngenc ! filesink location=" + boxed);
  ASSERT_EQ(launched.status, 0) << launched.err;
  EXPECT_TRUE(test::sameBytes(cv::imread(boxed), cv::imread((folder / "run.png").string())));
  EXPECT_FALSE(test::sameBytes(cv::imread(boxed), cv::imread(face)));
  EXPECT_EQ(test::shell("gst-inspect-1.0 cvcomp").status, 0);
}

}  // namespace
}  // namespace cvcomp
