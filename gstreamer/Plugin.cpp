// The GStreamer plug-in "cvcomp", which holds the element of the same name.

#include <gst/gst.h>

#include "GstCvcomp.hpp"
#include "host/Log.hpp"

namespace {

gboolean initialize(GstPlugin* plugin) {
  GST_DEBUG_CATEGORY_INIT(cvcomp_debug, "cvcomp", 0, "cvcomp compositions");
  // The library's reports (OpenCV errors in a patch, unreadable cascades) go to the debug log.
  cvcomp::setLogSink([](const cvcomp::LogRecord& record) {
    static constexpr GstDebugLevel levels[] = {GST_LEVEL_DEBUG, GST_LEVEL_INFO, GST_LEVEL_WARNING,
                                               GST_LEVEL_ERROR};
    GST_CAT_LEVEL_LOG(cvcomp_debug, levels[static_cast<int>(record.level)], nullptr, "%s: %s",
                      record.origin.c_str(), record.message.c_str());
  });
  return gst_element_register(plugin, "cvcomp", GST_RANK_NONE, gst_cvcomp_get_type());
}

}  // namespace

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, cvcomp,
                  "Runs cvcomp compositions on video frames", initialize, VERSION,
                  GST_LICENSE_UNKNOWN, "cvcomp", "cvcomp")
