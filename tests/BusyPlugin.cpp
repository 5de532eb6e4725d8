// A plug-in module for tests of stopping: the OpenCV patches and a patch that can be made busy
// for as long as a test likes, as a patch deep in a long OpenCV call would be.

#include <chrono>
#include <thread>

#include "host/PluginModule.hpp"
#include "host/QCValuePorts.hpp"
#include "plugin/OpenCVPlugin.hpp"

namespace cvcomp {

// Publishes its frame number every frame; from frame inputBusyFrom on, each frame keeps it busy
// for inputSeconds first.
class Busy final : public QCPatch {
 public:
  QC_PATCH_CLASS(Busy)
  static constexpr int executionMode = kExecutionModeProvider;
  using QCPatch::QCPatch;
  bool execute(QCContext& /*context*/, double /*time*/, const QCStructure& arguments) override {
    const double frame = arguments.numberForKey("frame")->value;
    if (frame >= static_cast<double>(inputBusyFrom.indexValue())) {
      std::this_thread::sleep_for(std::chrono::duration<double>(inputSeconds.doubleValue()));
    }
    outputFrame.setDoubleValue(frame);
    return true;
  }
  QC_PORT(QCIndexPort, inputBusyFrom);
  QC_PORT(QCNumberPort, inputSeconds);
  QC_PORT(QCNumberPort, outputFrame);
};

}  // namespace cvcomp

extern "C" __attribute__((visibility("default"))) void cvcompRegisterNodesWithManager(
    cvcomp::QCNodeManager* manager) {
  cvcomp::OpenCVPlugin::registerNodesWithManager(*manager);
  manager->registerNodeWithClass(cvcomp::PatchClass::of<cvcomp::Busy>(
      "tests", "Publishes its frame number, busy for a while from a given frame on"));
}
