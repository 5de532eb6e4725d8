#include "PythonComposition.hpp"

#include <chrono>
#include <future>
#include <type_traits>
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

EngineThread::EngineThread() : thread_([this] { serve(); }) {}

EngineThread::~EngineThread() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  const py::gil_scoped_release unlocked;
  thread_.join();
}

void EngineThread::serve() {
  for (;;) {
    std::function<void()> work;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;
      work = std::move(queue_.front());
      queue_.pop_front();
    }
    work();
  }
}

void EngineThread::run(std::function<void()> work) {
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> finished = done->get_future();
  {
    const std::lock_guard lock(mutex_);
    queue_.push_back([work = std::move(work), done] {
      try {
        work();
        done->set_value();
      } catch (...) {
        done->set_exception(std::current_exception());
      }
    });
  }
  changed_.notify_all();
  for (;;) {
    {
      const py::gil_scoped_release unlocked;
      if (finished.wait_for(std::chrono::milliseconds(50)) == std::future_status::ready) break;
    }
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
  }
  finished.get();
}

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
}

template <typename Work>
auto PythonComposition::withEngine(Work work) {
  using Result = std::invoke_result_t<Work&, Engine&>;
  auto result =
      std::make_shared<std::conditional_t<std::is_void_v<Result>, bool, std::optional<Result>>>();
  thread_.run([this, work = std::move(work), result]() mutable {
    if (!engine_) throw py::value_error("the composition is closed");
    if constexpr (std::is_void_v<Result>) {
      work(*engine_);
    } else {
      result->emplace(work(*engine_));
    }
  });
  if constexpr (!std::is_void_v<Result>) return std::move(**result);
}

std::optional<PythonComposition::Produced> PythonComposition::takeProduced() {
  return std::exchange(produced_, std::nullopt);
}

void PythonComposition::close() {
  thread_.run([this] { engine_.reset(); });
}

bool PythonComposition::closed() {
  const auto closed = std::make_shared<bool>();
  thread_.run([this, closed] { *closed = !engine_; });
  return *closed;
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
