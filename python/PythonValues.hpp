#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <opencv2/core/mat.hpp>

namespace cvcomp::python {

namespace py = pybind11;

// A frame given to the module as OpenCV's Python bindings give pictures: a C-contiguous uint8
// numpy array, H×W gray, H×W×1, H×W×3 BGR or H×W×4 BGRA, at most 8192 pixels a side. The
// matrix shares the array's memory. Throws TypeError or ValueError naming what is wrong.
cv::Mat frameFromArray(const py::handle& frame);

// A continuous picture as a numpy array (H×W or H×W×C uint8) sharing the matrix's memory and
// keeping it alive; None for no picture.
py::object arrayFromPicture(const std::optional<cv::Mat>& picture);

// JSON text as Python values: objects as dicts in member order, numbers as floats or ints.
py::object fromJson(std::string_view text);
// A Python value as JSON text; strings stay strings, numpy's scalars become the numbers they
// hold. Throws TypeError for what JSON cannot hold, ValueError for text that is not UTF-8.
std::string toJson(const py::handle& value);
// A str or bytes as UTF-8 text; throws ValueError naming `what` for text without a UTF-8 form.
std::string utf8Text(const py::handle& text, const std::string& what);

}  // namespace cvcomp::python
