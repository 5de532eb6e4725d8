#include "PythonValues.hpp"

#include <string>

#include <nlohmann/json.hpp>

#include "host/TextValues.hpp"
#include "host/patches/FrameReader.hpp"

namespace cvcomp::python {

namespace {

std::string typeName(const py::handle& value) {
  return py::str(py::type::handle_of(value).attr("__name__"));
}

std::string shapeText(const py::array& array) {
  return py::str(py::tuple(array.attr("shape")));
}

// Built in C++ rather than by Python's json module, which as Python code would let a pending
// Ctrl-C interrupt a frame already evaluated.
py::object fromJson(const nlohmann::ordered_json& json) {
  switch (json.type()) {
    case nlohmann::json::value_t::object: {
      py::dict object;
      for (const auto& [key, member] : json.items()) object[py::str(key)] = fromJson(member);
      return object;
    }
    case nlohmann::json::value_t::array: {
      py::list array;
      for (const auto& element : json) array.append(fromJson(element));
      return array;
    }
    case nlohmann::json::value_t::string:
      return py::str(json.get_ref<const std::string&>());
    case nlohmann::json::value_t::boolean:
      return py::bool_(json.get<bool>());
    case nlohmann::json::value_t::number_integer:
      return py::int_(json.get<std::int64_t>());
    case nlohmann::json::value_t::number_unsigned:
      return py::int_(json.get<std::uint64_t>());
    case nlohmann::json::value_t::number_float:
      return py::float_(json.get<double>());
    default:
      return py::none();
  }
}

}  // namespace

cv::Mat frameFromArray(const py::handle& frame) {
  if (!py::isinstance<py::array>(frame)) {
    throw py::type_error("frame: a numpy array of uint8 is required, not " + typeName(frame));
  }
  const auto array = py::reinterpret_borrow<py::array>(frame);
  if (!array.dtype().is(py::dtype::of<std::uint8_t>())) {
    throw py::type_error("frame: uint8 pixels are required, not " +
                         std::string(py::str(array.dtype())));
  }
  const py::ssize_t channels = array.ndim() == 3 ? array.shape(2) : 1;
  if (array.ndim() < 2 || array.ndim() > 3 || !(channels == 1 || channels == 3 || channels == 4)) {
    throw py::value_error(
        "frame: an H×W gray, H×W×3 BGR or H×W×4 BGRA array is required, not one of shape " +
        shapeText(array));
  }
  if (array.size() == 0) throw py::value_error("frame: the array is empty, " + shapeText(array));
  if (array.shape(0) > kMaxFrameSide || array.shape(1) > kMaxFrameSide) {
    throw py::value_error("frame: " + shapeText(array) + " is larger than the " +
                          std::to_string(kMaxFrameSide) + " pixels a side a frame may have");
  }
  if (!(array.flags() & py::array::c_style)) {
    throw py::value_error(
        "frame: the array is not contiguous (a slice or a view); pass "
        "numpy.ascontiguousarray(frame)");
  }
  return cv::Mat(static_cast<int>(array.shape(0)), static_cast<int>(array.shape(1)),
                 CV_8UC(static_cast<int>(channels)), const_cast<void*>(array.data()));
}

py::object arrayFromPicture(const std::optional<cv::Mat>& picture) {
  if (!picture) return py::none();
  auto* owned = new cv::Mat(*picture);
  const py::capsule owner(owned, [](void* mat) { delete static_cast<cv::Mat*>(mat); });
  std::vector<py::ssize_t> shape{owned->rows, owned->cols};
  if (owned->channels() > 1) shape.push_back(owned->channels());
  return py::array(py::dtype::of<std::uint8_t>(), shape, owned->data, owner);
}

py::object fromJson(std::string_view text) {
  return fromJson(nlohmann::ordered_json::parse(text));
}

std::string toJson(const py::handle& value) {
  // numpy's scalars (numpy.int64, numpy.float32, numpy.bool_...) as the Python numbers they hold.
  const py::object numpyScalar = py::module_::import("numpy").attr("generic");
  const py::cpp_function plain([numpyScalar](const py::object& other) -> py::object {
    if (py::isinstance(other, numpyScalar)) return other.attr("item")();
    throw py::type_error("Object of type " + typeName(other) + " is not JSON serializable");
  });
  py::object text;
  try {
    text = py::module_::import("json").attr("dumps")(value, py::arg("allow_nan") = false,
                                                     py::arg("ensure_ascii") = false,
                                                     py::arg("default") = plain);
  } catch (py::error_already_set& error) {
    if (!error.matches(PyExc_TypeError) && !error.matches(PyExc_ValueError)) throw;
    throw py::type_error("value: " + std::string(py::str(error.value())));
  }
  return utf8Text(text, "value");
}

std::string utf8Text(const py::handle& text, const std::string& what) {
  if (py::isinstance<py::bytes>(text)) {
    std::string bytes = py::reinterpret_borrow<py::bytes>(text);
    if (!isUtf8(bytes)) throw py::value_error(what + ": the text is not valid UTF-8");
    return bytes;
  }
  // A lone surrogate ("\udcff", as os.fsdecode makes of an undecodable byte) has no UTF-8 form.
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
  if (!utf8) {
    PyErr_Clear();
    throw py::value_error(what + ": the text is not valid UTF-8 (it holds a lone surrogate)");
  }
  return std::string(utf8, static_cast<std::size_t>(size));
}

}  // namespace cvcomp::python
