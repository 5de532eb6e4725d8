#include "GstCvcomp.hpp"

#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include <gst/video/gstvideofilter.h>
#include <gst/video/gstvideometa.h>
#include <opencv2/imgproc.hpp>

#include "FrameRunner.hpp"
#include "host/TextValues.hpp"

GST_DEBUG_CATEGORY(cvcomp_debug);

namespace {

using cvcomp::FrameRunner;

enum class Output { Passthrough, Composition };

enum Property { kComposition = 1, kSet, kOutput };

// What the element holds besides its GObject parts. The properties are read and written under
// `mutex`, and the runner is made and let go under it; the streaming thread uses the runner
// between start and stop.
struct State {
  std::mutex mutex;
  std::string composition;
  std::string settings;
  Output output = Output::Passthrough;
  std::unique_ptr<FrameRunner> runner;  // between start and stop: the composition loaded
};

struct GstCvcomp {
  GstVideoFilter parent;
  State* state;
};

struct GstCvcompClass {
  GstVideoFilterClass parent;
};

GType outputType() {
  static const GEnumValue values[] = {
      {static_cast<gint>(Output::Passthrough), "The input frame, unchanged", "passthrough"},
      {static_cast<gint>(Output::Composition),
       "The composition's first published picture, in the frame's format and size", "composition"},
      {0, nullptr, nullptr}};
  static const GType type = g_enum_register_static("CvcompOutput", values);
  return type;
}

void warn(GstCvcomp* self, const std::exception& error);

}  // namespace

G_DEFINE_TYPE(GstCvcomp, gst_cvcomp, GST_TYPE_VIDEO_FILTER)

namespace {

GstCvcomp* elementOf(gpointer object) {
  return G_TYPE_CHECK_INSTANCE_CAST(object, gst_cvcomp_get_type(), GstCvcomp);
}

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* param) {
  State& state = *elementOf(object)->state;
  std::unique_lock lock(state.mutex);
  switch (id) {
    case kComposition: {
      const std::string composition = g_value_get_string(value) ? g_value_get_string(value) : "";
      if (!state.runner) {
        state.composition = composition;
        break;
      }
      // Posted without the lock: a bus handler may read the properties.
      const std::string running = state.composition;
      lock.unlock();
      if (composition != running) {
        GST_ELEMENT_WARNING(elementOf(object), LIBRARY, SETTINGS,
                            ("composition: the element runs %s until it stops; %s is not loaded",
                             running.c_str(), composition.c_str()),
                            (nullptr));
      }
      break;
    }
    case kSet:
      state.settings = g_value_get_string(value) ? g_value_get_string(value) : "";
      // Applied on the streaming thread, before the next frame.
      if (state.runner) {
        state.runner->engine().post([self = elementOf(object), runner = state.runner.get(),
                                     settings = state.settings](cvcomp::Engine&) {
          try {
            runner->apply(settings);
          } catch (const std::exception& error) {
            warn(self, error);
          }
        });
      }
      break;
    case kOutput:
      state.output = static_cast<Output>(g_value_get_enum(value));
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
  }
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* param) {
  State& state = *elementOf(object)->state;
  const std::lock_guard lock(state.mutex);
  switch (id) {
    case kComposition:
      g_value_set_string(value, state.composition.c_str());
      break;
    case kSet:
      g_value_set_string(value, state.settings.c_str());
      break;
    case kOutput:
      g_value_set_enum(value, static_cast<gint>(state.output));
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
  }
}

void warn(GstCvcomp* self, const std::exception& error) {
  GST_ELEMENT_WARNING(self, LIBRARY, SETTINGS, ("%s", error.what()), (nullptr));
}

gboolean start(GstBaseTransform* transform) {
  GstCvcomp* self = elementOf(transform);
  State& state = *self->state;
  std::string composition, settings, failure;
  {
    // Settings set from now on go to the runner.
    const std::lock_guard lock(state.mutex);
    composition = state.composition;
    settings = state.settings;
    try {
      if (!composition.empty()) {
        if (!cvcomp::isUtf8(composition)) {
          throw std::invalid_argument("composition: the path is not valid UTF-8");
        }
        state.runner = std::make_unique<FrameRunner>(composition);
      }
    } catch (const std::exception& error) {
      state.runner.reset();
      failure = error.what();
    }
  }
  if (composition.empty()) {
    GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("no composition: set the composition property"),
                      (nullptr));
    return FALSE;
  }
  if (!failure.empty()) {
    GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ, ("%s", failure.c_str()), (nullptr));
    return FALSE;
  }
  // Refused settings leave the composition as it was, with a warning, as they do while playing.
  try {
    state.runner->apply(settings);
  } catch (const std::exception& error) {
    warn(self, error);
  }
  return TRUE;
}

gboolean stop(GstBaseTransform* transform) {
  State& state = *elementOf(transform)->state;
  std::unique_ptr<FrameRunner> stopped;
  {
    const std::lock_guard lock(state.mutex);
    stopped = std::move(state.runner);
  }
  return TRUE;
}

// The frame's pixels as an image over the buffer's memory.
cv::Mat pixelsOf(GstVideoFrame* frame) {
  int type = CV_8UC4;
  if (GST_VIDEO_FRAME_FORMAT(frame) == GST_VIDEO_FORMAT_BGR) type = CV_8UC3;
  if (GST_VIDEO_FRAME_FORMAT(frame) == GST_VIDEO_FORMAT_GRAY8) type = CV_8UC1;
  return cv::Mat(GST_VIDEO_FRAME_HEIGHT(frame), GST_VIDEO_FRAME_WIDTH(frame), type,
                 GST_VIDEO_FRAME_PLANE_DATA(frame, 0),
                 static_cast<std::size_t>(GST_VIDEO_FRAME_PLANE_STRIDE(frame, 0)));
}

// The colour conversion from a picture's channels to a frame's (1, 3 or 4); -1 when they match.
int conversion(int from, int to) {
  if (from == to) return -1;
  if (from == 1) return to == 3 ? cv::COLOR_GRAY2BGR : cv::COLOR_GRAY2BGRA;
  if (from == 3) return to == 1 ? cv::COLOR_BGR2GRAY : cv::COLOR_BGR2BGRA;
  return to == 1 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGRA2BGR;
}

// Writes a picture of 1, 3 or 4 channels over the frame, converted to its channels and size.
void writePicture(const cv::Mat& picture, cv::Mat& pixels) {
  cv::Mat converted = picture;
  if (const int code = conversion(picture.channels(), pixels.channels()); code >= 0) {
    cv::cvtColor(picture, converted, code);
  }
  if (converted.size() == pixels.size()) {
    converted.copyTo(pixels);
  } else {
    cv::resize(converted, pixels, pixels.size(), 0, 0, cv::INTER_AREA);
  }
}

GstFlowReturn transformFrame(GstVideoFilter* filter, GstVideoFrame* frame) {
  GstCvcomp* self = elementOf(filter);
  State& state = *self->state;
  Output output;
  {
    const std::lock_guard lock(state.mutex);
    output = state.output;
  }
  GstBuffer* buffer = frame->buffer;
  const GstClockTime timestamp = GST_BUFFER_PTS(buffer);
  std::optional<double> time;
  if (GST_CLOCK_TIME_IS_VALID(timestamp)) time = static_cast<double>(timestamp) / GST_SECOND;
  cv::Mat pixels = pixelsOf(frame);
  FrameRunner::Result result;
  try {
    result = state.runner->process(pixels, time, output == Output::Composition);
  } catch (const std::exception& error) {
    GST_ELEMENT_ERROR(self, LIBRARY, FAILED, ("%s", error.what()), (nullptr));
    return GST_FLOW_ERROR;
  }
  if (result.picture) writePicture(*result.picture, pixels);
  for (const FrameRunner::Region& region : result.regions) {
    const cv::Rect& r = region.rectangle;
    gst_buffer_add_video_region_of_interest_meta(buffer, region.patch.c_str(), r.x, r.y, r.width,
                                                 r.height);
  }
  GstStructure* message =
      gst_structure_new("cvcomp", "json", G_TYPE_STRING, result.jsonLine.c_str(), "timestamp",
                        G_TYPE_UINT64, timestamp, nullptr);
  gst_element_post_message(GST_ELEMENT(self), gst_message_new_element(GST_OBJECT(self), message));
  return GST_FLOW_OK;
}

void finalize(GObject* object) {
  delete elementOf(object)->state;
  G_OBJECT_CLASS(gst_cvcomp_parent_class)->finalize(object);
}

}  // namespace

static void gst_cvcomp_init(GstCvcomp* self) {
  self->state = new State;
}

static void gst_cvcomp_class_init(GstCvcompClass* klass) {
  GObjectClass* object = G_OBJECT_CLASS(klass);
  object->set_property = setProperty;
  object->get_property = getProperty;
  object->finalize = finalize;
  const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
  g_object_class_install_property(
      object, kComposition,
      g_param_spec_string(
          "composition", "Composition",
          "The composition file (JSON) to run on every frame; frames go where "
          "its ImageSource would feed its own. Read when the element starts; a change "
          "while it runs is refused with a warning.",
          nullptr, flags));
  g_object_class_install_property(
      object, kSet,
      g_param_spec_string("set", "Settings",
                          "Inputs to set, \"id.port=value;id.port=value...\", as cvcomp run's "
                          "--set; applied before the next frame, also while playing",
                          nullptr, static_cast<GParamFlags>(flags | GST_PARAM_MUTABLE_PLAYING)));
  g_object_class_install_property(
      object, kOutput,
      g_param_spec_enum("output", "Output", "What the element passes on", outputType(),
                        static_cast<gint>(Output::Passthrough), flags));

  GstElementClass* element = GST_ELEMENT_CLASS(klass);
  gst_element_class_set_static_metadata(
      element, "cvcomp composition", "Filter/Analyzer/Video",
      "Runs a cvcomp composition on every frame: its rectangles become region-of-interest metas, "
      "and each frame posts an element message \"cvcomp\" with the frame's JSON line (\"json\") "
      "and the buffer's timestamp (\"timestamp\")",
      "cvcomp");
  // Frames up to the size the frame sources take.
  GstCaps* caps = gst_caps_from_string(
      "video/x-raw, format=(string){ BGRx, BGRA, BGR, GRAY8 }, width=(int)[1, 8192], "
      "height=(int)[1, 8192], framerate=(fraction)[0/1, 2147483647/1]");
  gst_element_class_add_pad_template(
      element, gst_pad_template_new("sink", GST_PAD_SINK, GST_PAD_ALWAYS, caps));
  gst_element_class_add_pad_template(
      element, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, caps));
  gst_caps_unref(caps);

  GstBaseTransformClass* transform = GST_BASE_TRANSFORM_CLASS(klass);
  transform->start = start;
  transform->stop = stop;
  GST_VIDEO_FILTER_CLASS(klass)->transform_frame_ip = transformFrame;
}
