// The Python module `cvcomp`: compositions as functions of numpy frames.

#include <iostream>

#include <pybind11/stl.h>

#include "PythonComposition.hpp"
#include "PythonValues.hpp"
#include "host/Log.hpp"
#include "host/NodeSetup.hpp"
#include "host/PatchCatalog.hpp"

namespace py = pybind11;
using namespace cvcomp;
using namespace cvcomp::python;

namespace {

constexpr const char* kModuleDoc = R"(Vision compositions over numpy frames.

A composition is a graph of patches (see patches()) loaded from a file or a dict in the file
format. Composition.process(frame) sends one picture through it, as OpenCV's Python bindings give
pictures; Composition.run() steps it over a video, picture, folder, camera or test pattern. Both
give the published outputs as a dict by "id.port": structures as dicts with their members in
order, numbers as floats, nil as None, pictures as numpy arrays, with exactly the values that
`cvcomp run --json` writes.

Patches report problems (an OpenCV error inside a patch, a cascade that cannot be read) on
standard error as "origin: message".)";

constexpr const char* kCompositionDoc = R"(A composition ready to run.

Composition(source): source is a path to a composition file or a dict in the file format
({"patches": {...}, "connections": [...], "publish": [...]}); relative paths in a dict resolve
from the working folder. A composition that cannot be built raises CompositionError with the
message `cvcomp check` prints.

One thread at a time uses it; the others wait. It is a context manager: leaving the block closes
it.)";

constexpr const char* kProcessDoc = R"(process(frame, time=None) -> dict

Evaluates one frame: `frame` goes where the composition's ImageSource would feed its picture.
frame is a C-contiguous uint8 numpy array: H×W gray, H×W×3 BGR or H×W×4 BGRA (what cv2.imread
and cv2.VideoCapture.read give), at most 8192 pixels a side. time is the frame's time in seconds;
without one the frame's number divided by the input's frame rate.

Returns the published outputs by "id.port": structures as dicts in member order, numbers as
floats, booleans, strings, nil as None, and pictures as new numpy arrays (H×W gray, H×W×3 BGR
or H×W×4 BGRA), upright. A composition without an ImageSource raises CompositionError; a frame
that is not such an array raises TypeError or ValueError. The frame is copied before the
interpreter's lock is released for its evaluation, so another thread may change the array
meanwhile; Ctrl-C is honoured as in run().)";

constexpr const char* kRunDoc = R"(run(src=None, frames=None) -> iterator of dicts

Steps the composition over its frame source: src is a video, a picture, a folder of pictures,
"camera:N" or "pattern:WxH", which stays the composition's input for later runs; None keeps the
current one (the composition's own until a src is given). Each frame gives the dict that process
gives, with "frame" (its number) and "time" (seconds) first. Stops when the input ends or after
`frames` frames; an input that cannot be opened or read raises OSError naming it. Frame numbers,
and an input left open by an earlier run, continue where they were.

Ctrl-C raises KeyboardInterrupt within a tenth of a second, also while a frame is evaluated
(the frame then ends on the composition's own thread, and the next call waits for it); the
interpreter's lock is released while a frame is evaluated. Abandoning the iterator halfway is
fine.)";

}  // namespace

PYBIND11_MODULE(cvcomp, m) {
  m.doc() = kModuleDoc;
  // Never destroyed: the plug-in's classes must outlive every composition, however late the
  // interpreter lets go of them.
  static QCNodeManager& manager = *new QCNodeManager;
  setLogSink(streamLogSink(std::cerr, false));
  try {
    registerAllNodes(manager);
  } catch (const std::runtime_error& error) {
    throw py::import_error(error.what());
  }

  auto compositionError =
      py::register_exception<CompositionError>(m, "CompositionError", PyExc_ValueError);
  compositionError.doc() =
      "A composition refused: the message names the patch, port or file, as `cvcomp check` "
      "prints it.";

  m.def(
      "patches", [] { return fromJson(patchCatalogJson(manager)); },
      "patches() -> list of dicts\n\nEvery patch class: its name, traits (isSafe, executionMode, "
      "allowsSubpatches, timeMode) and ports with their direction, kind, default and bounds; the "
      "content of `cvcomp patches --json`.");

  py::class_<FrameRun>(m, "FrameRun", "The frames of Composition.run, one dict each.")
      .def(
          "__iter__", [](py::object self) { return self; }, "The frames themselves.")
      .def("__next__", &FrameRun::next,
           "The next frame's dict; StopIteration once the input ended or the count is reached.");

  py::class_<PythonComposition>(m, "Composition", kCompositionDoc)
      .def(py::init([](const py::object& source) {
             return std::make_unique<PythonComposition>(source, manager);
           }),
           py::arg("source"),
           "Loads the composition at a path, or from a dict in the file format; raises "
           "CompositionError when it is refused.")
      .def("close", &PythonComposition::close,
           "Stops the composition and releases what it holds; using it afterwards raises "
           "ValueError. Closing again does nothing.")
      .def(
          "__enter__",
          [](py::object self) {
            if (self.cast<PythonComposition&>().closed()) {
              throw py::value_error("the composition is closed");
            }
            return self;
          },
          "The composition itself; raises ValueError once it is closed.")
      .def(
          "__exit__", [](PythonComposition& composition, const py::args&) { composition.close(); },
          "Closes the composition.")
      .def("set", &PythonComposition::set, py::arg("port"), py::arg("value"),
           "set(\"id.port\", value)\n\nGives an input a value as the composition file would: a "
           "number, boolean, string, or a dict for a structure. Raises CompositionError for an "
           "unknown port or a value it cannot take.")
      .def("get", &PythonComposition::get, py::arg("port"),
           "get(\"id.port\")\n\nThe port's current value, converted as process converts the "
           "published outputs; None for nil.")
      .def_property_readonly("published", &PythonComposition::published,
                             "The published ports, \"id.port\", in publishing order.")
      .def("process", &PythonComposition::process, py::arg("frame"), py::arg("time") = py::none(),
           kProcessDoc)
      .def(
          "run",
          [](py::object self, const py::object& src, std::optional<std::uint64_t> frames) {
            std::optional<std::string> location;
            if (!src.is_none()) {
              location = utf8Text(py::module_::import("os").attr("fspath")(src), "src");
            }
            self.cast<PythonComposition&>().startRun(location);
            return FrameRun(std::move(self), frames);
          },
          py::arg("src") = py::none(), py::arg("frames") = py::none(), kRunDoc);
}
