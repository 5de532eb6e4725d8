#pragma once

#include <gst/gst.h>

// The GStreamer element "cvcomp": runs a composition on every video frame that passes through it.
GType gst_cvcomp_get_type();

// Where the element writes what the library's logger reports.
GST_DEBUG_CATEGORY_EXTERN(cvcomp_debug);
