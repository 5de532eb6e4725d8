#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "PythonValues.hpp"
#include "host/Engine.hpp"

namespace cvcomp::python {

// A composition as the module's Composition class gives it: an engine on a thread of its own,
// which serves the work Python threads hand it (Engine::call) one at a time. The Python thread
// that hands it work waits with the interpreter's lock released and takes the lock back every
// 50 ms, so that Ctrl-C raises KeyboardInterrupt at once, even while a patch is busy for minutes;
// the work then goes on to its end on the engine's thread, and work handed over later waits for
// it.
class PythonComposition {
 public:
  // `source` is a path (str or os.PathLike) or a dict in the file format. Throws
  // CompositionError as checking the file would report, TypeError for another kind of source.
  PythonComposition(const py::handle& source, const QCNodeManager& manager);
  PythonComposition(const PythonComposition&) = delete;
  PythonComposition& operator=(const PythonComposition&) = delete;
  // Waits for the work handed over to end.
  ~PythonComposition();

  // Stops the engine and releases the composition; later calls raise ValueError.
  void close();
  bool closed() const;
  void set(const std::string& path, const py::handle& value);
  py::object get(const std::string& path);
  std::vector<std::string> published();

  // One frame through the composition: the published outputs by "id.port".
  py::dict process(const py::handle& frame, std::optional<double> time);

  // Points the frame sources at `location` and opens them; throws CompositionError when there
  // is no frame source and OSError when the input cannot be opened.
  void startRun(const std::optional<std::string>& location);
  // The next frame of the input with "frame" and "time" first, or nothing once it ended. Throws
  // OSError when the input fails.
  std::optional<py::dict> nextFrame();

 private:
  // What a produced frame published, taken while the engine still holds it.
  struct Output {
    std::string name;
    bool json;
    std::optional<cv::Mat> picture;
  };
  struct Produced {
    std::string jsonLine;
    std::vector<Output> outputs;
  };

  // Runs `work` on the engine's thread; raises ValueError once the composition is closed.
  template <typename Work>
  auto withEngine(Work work);
  // The frame the observer caught during the last step, taken away.
  std::optional<Produced> takeProduced();
  static py::dict outputsDict(const Produced& produced, bool withFrame);

  // Serves the engine's work until close() posts its end.
  void serve();

  std::unique_ptr<Engine> engine_;    // gone once closed
  bool closing_ = false;              // set with the interpreter's lock held
  std::optional<Produced> produced_;  // the engine's thread only
  bool served_ = false;               // the engine's thread only: no more work is taken
  std::thread thread_;
};

// The generator that Composition.run returns: frames until the input ends, `frames` were
// produced, or Ctrl-C.
class FrameRun {
 public:
  FrameRun(py::object composition, std::optional<std::uint64_t> frames)
      : composition_(std::move(composition)), remaining_(frames) {}
  py::dict next();

 private:
  py::object composition_;  // keeps the composition alive while the generator is
  std::optional<std::uint64_t> remaining_;
  bool done_ = false;
};

}  // namespace cvcomp::python
