#include "PythonComposition.hpp"

#include <chrono>
#include <future>
#include <utility>
#include <variant>

#include "host/CompositionFile.hpp"
#include "host/JsonOutput.hpp"
#include "host/JsonReading.hpp"
#include "host/patches/FramePictures.hpp"

namespace cvcomp::python {

namespace {

[[noreturn]] void raiseOSError(const std::string& message) {
  PyErr_SetString(PyExc_OSError, message.c_str());
  throw py::error_already_set();
}

std::unique_ptr<Engine> loadEngine(const py::handle& source, const QCNodeManager& manager) {
  if (py::isinstance<py::dict>(source)) {
    const std::string name = "composition";
    return std::make_unique<Engine>(
        loadCompositionText(toJson(source), name, std::nullopt, manager), manager, name,
        std::nullopt);
  }
  if (py::isinstance<py::str>(source) || py::hasattr(source, "__fspath__")) {
    const py::object path = py::module_::import("os").attr("fspath")(source);
    // As the file system names it, also when that is not UTF-8.
    if (py::isinstance<py::str>(path)) {
      return Engine::fromFile(
          std::string(py::bytes(py::module_::import("os").attr("fsencode")(path))), manager);
    }
  }
  throw py::type_error("a composition is a path or a dict in the file format, not " +
                       std::string(py::str(py::type::handle_of(source).attr("__name__"))));
}

}  // namespace

PythonComposition::PythonComposition(const py::handle& source, const QCNodeManager& manager)
    : engine_(loadEngine(source, manager)) {
  engine_->addObserver([this](const FrameResult& result) {
    Produced produced{result.jsonLine(), {}};
    for (const QCPort* port : result.composition.published()) {
      const bool json = writesAsJson(port->kind());
      produced.outputs.push_back(
          {result.composition.pathOf(*port), json, json ? std::nullopt : portPicture(*port)});
    }
    produced_ = std::move(produced);
  });
  thread_ = std::thread([this] { serve(); });
}

PythonComposition::~PythonComposition() {
  close();
}

void PythonComposition::serve() {
  while (!served_) {
    engine_->waitForWork();
    engine_->runPosted();
  }
}

template <typename Work>
auto PythonComposition::withEngine(Work work) {
  if (closing_) throw py::value_error("the composition is closed");
  auto done = engine_->call(std::move(work));
  for (;;) {
    {
      const py::gil_scoped_release unlocked;
      if (done.wait_for(std::chrono::milliseconds(50)) == std::future_status::ready) break;
    }
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
  }
  return done.get();
}

std::optional<PythonComposition::Produced> PythonComposition::takeProduced() {
  return std::exchange(produced_, std::nullopt);
}

void PythonComposition::close() {
  if (closing_) return;
  // No Python thread hands work over from now on: the end posted here is the last work taken.
  closing_ = true;
  engine_->post([this](Engine&) { served_ = true; });
  const py::gil_scoped_release unlocked;
  thread_.join();
  engine_.reset();
}

bool PythonComposition::closed() const {
  return closing_;
}

void PythonComposition::set(const std::string& path, const py::handle& value) {
  // Read here, where the value's Python objects may be touched.
  withEngine([edit = CompositionEdit::set(path, parseJsonText(toJson(value)))](Engine& engine) {
    engine.apply({edit});
  });
}

py::object PythonComposition::get(const std::string& path) {
  using Reading = std::variant<std::string, std::optional<cv::Mat>>;
  const Reading reading = withEngine([path](Engine& engine) -> Reading {
    const QCPort& port = engine.composition().port(path);
    if (!writesAsJson(port.kind())) {
      return portPicture(port);
    }
    std::string text;
    appendJsonValue(text, port.genericValue());
    return text;
  });
  if (const auto* text = std::get_if<std::string>(&reading)) return fromJson(*text);
  return arrayFromPicture(std::get<std::optional<cv::Mat>>(reading));
}

std::vector<std::string> PythonComposition::published() {
  return withEngine([](Engine& engine) {
    std::vector<std::string> names;
    for (const QCPort* port : engine.composition().published())
      names.push_back(engine.composition().pathOf(*port));
    return names;
  });
}

py::dict PythonComposition::process(const py::handle& frame, std::optional<double> time) {
  // Copied while the interpreter's lock is held: another thread may resize the array once it is
  // released.
  auto image = std::make_shared<QCImage>(bitmapFromFrame(frameFromArray(frame)));
  const std::optional<Produced> produced = withEngine([this, image, time](Engine& engine) {
    engine.process(image, time);
    return takeProduced();
  });
  return outputsDict(produced.value(), false);
}

void PythonComposition::startRun(const std::optional<std::string>& location) {
  const std::optional<std::string> failure = withEngine([location](Engine& engine) {
    if (location) engine.setInput(*location);
    return engine.open();
  });
  if (failure) raiseOSError(*failure);
}

std::optional<py::dict> PythonComposition::nextFrame() {
  auto [report, produced] = withEngine([this](Engine& engine) {
    const FrameReport step = engine.step();
    return std::pair(step, takeProduced());
  });
  if (!report.failure.empty()) raiseOSError(report.failure);
  if (!produced) return std::nullopt;
  return outputsDict(*produced, true);
}

py::dict PythonComposition::outputsDict(const Produced& produced, bool withFrame) {
  const py::dict line = fromJson(produced.jsonLine);
  py::dict outputs;
  if (withFrame) {
    outputs["frame"] = line["frame"];
    outputs["time"] = line["time"];
  }
  for (const Output& output : produced.outputs) {
    const py::str name(output.name);
    outputs[name] = output.json ? py::object(line[name]) : arrayFromPicture(output.picture);
  }
  return outputs;
}

py::dict FrameRun::next() {
  if (done_ || remaining_ == std::uint64_t{0}) throw py::stop_iteration();
  // Ctrl-C and other signals take effect between frames as well as during them.
  if (PyErr_CheckSignals() != 0) throw py::error_already_set();
  std::optional<py::dict> frame = composition_.cast<PythonComposition&>().nextFrame();
  if (!frame) {
    done_ = true;
    throw py::stop_iteration();
  }
  if (remaining_) --*remaining_;
  return *std::move(frame);
}

}  // namespace cvcomp::python
