#include "FrameRunner.hpp"

#include <mutex>
#include <stdexcept>

#include "host/CompositionFile.hpp"
#include "host/NodeSetup.hpp"
#include "host/QCObjectPorts.hpp"
#include "host/TextValues.hpp"
#include "host/patches/CentredShapes.hpp"
#include "host/patches/FramePictures.hpp"

namespace cvcomp {

namespace {

// The patches every runner uses, registered once per process.
const QCNodeManager& nodeManager() {
  static QCNodeManager manager;
  static std::once_flag loaded;
  std::call_once(loaded, [] { registerAllNodes(manager); });
  return manager;
}

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\n");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\n") - first + 1);
}

}  // namespace

std::vector<CompositionEdit> settingEdits(const Composition& composition,
                                          std::string_view settings) {
  if (!isUtf8(settings)) throw CompositionError("set: the text is not valid UTF-8");
  std::vector<CompositionEdit> edits;
  while (!settings.empty()) {
    const std::size_t end = settings.find(';');
    const std::string_view entry = trimmed(settings.substr(0, end));
    settings = end == std::string_view::npos ? std::string_view() : settings.substr(end + 1);
    if (entry.empty()) continue;
    std::optional<PortSetting> setting = portSetting(entry);
    if (!setting) {
      throw CompositionError("set: \"" + std::string(entry) + "\": expected ID.PORT=VALUE");
    }
    edits.push_back(CompositionEdit::set(setting->path,
                                         settingValue(composition, setting->path, setting->value)));
  }
  return edits;
}

FrameRunner::FrameRunner(const std::filesystem::path& composition)
    : engine_(Engine::fromFile(composition, nodeManager())) {
  engine_->addObserver([this](const FrameResult& frame) { collect(frame); });
}

void FrameRunner::apply(std::string_view settings) {
  engine_->apply(settingEdits(engine_->composition(), settings));
}

FrameRunner::Result FrameRunner::process(const cv::Mat& frame, std::optional<double> time,
                                         bool withPicture) {
  result_ = Result();
  frameSize_ = frame.size();
  withPicture_ = withPicture;
  const FrameReport report =
      engine_->process(std::make_shared<QCImage>(bitmapFromFrame(frame)), time);
  if (!report.failure.empty()) throw std::runtime_error(report.failure);
  return std::move(result_);
}

void FrameRunner::collect(const FrameResult& frame) {
  result_.jsonLine = frame.jsonLine();
  const cv::Rect inside({}, frameSize_);
  if (withPicture_) {
    if (const QCPort* picture = publishedPicture(frame.composition)) {
      result_.picture = portPicture(*picture);
    }
  }
  for (const QCPort* port : frame.composition.published()) {
    if (port->kind() != PortKind::Structure) continue;
    const auto& structure = static_cast<const QCStructurePort*>(port)->structureValue();
    if (!structure) continue;
    const std::string path = frame.composition.pathOf(*port);
    const std::string patch = path.substr(0, path.find('.'));
    for (const auto& [key, value] : structure->members()) {
      const auto* member = std::get_if<std::shared_ptr<QCStructure>>(&value);
      if (!member || !*member) continue;
      const std::optional<cv::Rect> rectangle =
          pixelRectangle(MemberCoordinates(**member), frameSize_);
      if (rectangle && !(*rectangle & inside).empty()) {
        result_.regions.push_back({patch, *rectangle & inside});
      }
    }
  }
}

}  // namespace cvcomp
