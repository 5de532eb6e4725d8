// cvcomp_python_bench: Composition.process of the Python module against the engine driven in
// C++, on the same frames in memory, side by side in one process.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <pybind11/embed.h>
#include <pybind11/numpy.h>
#include <opencv2/videoio.hpp>

#include "bench/Comparison.hpp"
#include "host/Engine.hpp"
#include "host/NodeSetup.hpp"
#include "host/patches/FramePictures.hpp"

namespace py = pybind11;
using namespace cvcomp;
using bench::Clock;
using bench::median;
using bench::millisecondsSince;

namespace {

std::vector<cv::Mat> decodedFrames(const std::string& clip, int count) {
  cv::VideoCapture video(clip);
  std::vector<cv::Mat> frames;
  cv::Mat frame;
  while (static_cast<int>(frames.size()) < count && video.read(frame))
    frames.push_back(frame.clone());
  return frames;
}

// What a C++ host does to get what process() gives: the frame handed over, the JSON line and a
// copy of every published picture.
std::unique_ptr<Engine> cppEngine(const std::string& composition, const QCNodeManager& manager,
                                  std::size_t& kept) {
  auto engine = Engine::fromFile(composition, manager);
  engine->addObserver([&kept, &engine = *engine](const FrameResult& result) {
    kept += result.jsonLine().size();
    for (const QCPort* port : result.composition.published()) {
      if (auto picture = portPicture(*port)) kept += picture->total();
    }
  });
  return engine;
}

struct Round {
  double cppMs = 0.0;
  double pythonMs = 0.0;
};

// A fresh composition on each side over all frames, taking turns frame by frame; frame 0 (which
// loads the cascade) is left out.
Round runRound(const std::string& composition, const std::vector<cv::Mat>& frames,
               const std::vector<py::array>& arrays, const QCNodeManager& manager) {
  std::size_t kept = 0;
  const std::unique_ptr<Engine> engine = cppEngine(composition, manager, kept);
  const py::object python = py::module_::import("cvcomp").attr("Composition")(composition);
  const py::object process = python.attr("process");
  Round round;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const double counted = i > 0 ? 1.0 : 0.0;
    auto inCpp = [&] {
      const Clock::time_point start = Clock::now();
      engine->process(std::make_shared<QCImage>(bitmapFromFrame(frames[i])));
      round.cppMs += counted * millisecondsSince(start);
    };
    auto inPython = [&] {
      const Clock::time_point start = Clock::now();
      const py::object outputs = process(arrays[i]);
      round.pythonMs += counted * millisecondsSince(start);
    };
    if (i % 2 == 0) {
      inCpp();
      inPython();
    } else {
      inPython();
      inCpp();
    }
  }
  python.attr("close")();
  round.cppMs /= static_cast<double>(frames.size() - 1);
  round.pythonMs /= static_cast<double>(frames.size() - 1);
  return round;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
  const py::scoped_interpreter interpreter;
  py::module_::import("sys").attr("path").attr("insert")(0, CVCOMP_PYTHON_DIR);
  py::module_::import("cvcomp");
  QCNodeManager manager;
  registerAllNodes(manager);

  std::printf(
      "Composition.process in Python against Engine::process in C++ (ms per frame, "
      "medians of %d rounds; ratio = Python / C++)\n",
      rounds);
  std::printf("%-28s %6s %9s %9s %7s\n", "case", "frames", "C++", "Python", "ratio");
  const std::string clip = std::string(CVCOMP_SAMPLE_DATA) + "/Megamind.avi";
  for (const auto& [name, example, count] : std::vector<std::tuple<std::string, std::string, int>>{
           {"face-detect.json, Megamind", "face-detect.json", 60},
           {"gray.json, Megamind", "gray.json", 200}}) {
    const std::vector<cv::Mat> frames = decodedFrames(clip, count);
    std::vector<py::array> arrays;
    for (const cv::Mat& frame : frames) {
      arrays.emplace_back(py::dtype::of<std::uint8_t>(),
                          std::vector<py::ssize_t>{frame.rows, frame.cols, frame.channels()},
                          frame.data, py::none());
    }
    const std::string composition = std::string(CVCOMP_SOURCE_DIR) + "/examples/" + example;
    runRound(composition, frames, arrays, manager);  // warms caches and OpenCV's tables
    std::vector<double> cpp, python, ratios;
    for (int r = 0; r < rounds; ++r) {
      const Round round = runRound(composition, frames, arrays, manager);
      cpp.push_back(round.cppMs);
      python.push_back(round.pythonMs);
      ratios.push_back(round.pythonMs / round.cppMs);
    }
    std::printf("%-28s %6zu %9.3f %9.3f %7.4f\n", name.c_str(), frames.size(), median(cpp),
                median(python), median(ratios));
  }
  return 0;
}
