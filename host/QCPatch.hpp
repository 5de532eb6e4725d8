#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "QCImageManager.hpp"
#include "QCPort.hpp"
#include "QCStructure.hpp"

namespace cvcomp {

// What the host tells a patch about its surroundings.
struct PatchOptions {
  // The composition file that holds the patch; relative paths resolve next to it.
  std::optional<std::filesystem::path> compositionURL;
};

// How the host schedules a patch.
// Execution mode 0, a processor: executed when one of its inputs received a new value.
// Execution mode 1, a provider: executed on every frame (sources of frames).
// Time mode 0: the patch does not depend on time; 1: it depends on time and runs every frame.
inline constexpr int kExecutionModeProcessor = 0;
inline constexpr int kExecutionModeProvider = 1;
inline constexpr int kTimeModeNone = 0;
inline constexpr int kTimeModeTimeBase = 1;

// How a location's frames come: at a rate of their own (a video file, the test scene), as
// pictures without one (a folder, a picture), or as they happen (a camera).
enum class FramePace { OwnRate, Pictures, Live };

// What a patch that brings frames into a composition tells the host that runs it: a video, a
// folder of pictures or a camera can end or fail, and has a frame rate.
class FrameProvider {
 public:
  // Opens the frames now, so that a failure shows before the first frame. False on failure.
  virtual bool openFrames() = 0;
  // Takes frames from `location` (a file, a folder, camera:N, pattern:WxH) from the next frame.
  virtual void setFrameLocation(const std::string& location) = 0;
  // Takes the next frame from the location ahead of the evaluation, which then gives it: false
  // when there is none, the frames having ended (framesEnded) or failed (framesFailure).
  virtual bool prepareFrame() = 0;
  // Set once there are no more frames.
  virtual bool framesEnded() const = 0;
  // Why the frames could not be opened or read, naming the file; empty while all is well.
  virtual const std::string& framesFailure() const = 0;
  virtual double framesPerSecond() const = 0;
  // Gives `frame` as the next frame instead of one read from the location.
  virtual void supplyFrame(std::shared_ptr<QCImage> frame) = 0;
  // Gives the frame it gave last once more as the next frame (nothing when it gave none).
  virtual void repeatFrame() = 0;
  // How many frames the open location holds, when that is known (a video file, a folder).
  virtual std::optional<std::uint64_t> framesLength() const = 0;
  virtual FramePace framesPace() const = 0;
  // Takes the frames of the open location from frame `frame` on (counted from 0), exactly as
  // reading them all in order would give them. False, with framesFailure(), when it cannot.
  virtual bool seekFrames(std::uint64_t frame) = 0;

 protected:
  ~FrameProvider() = default;
};

// Base class of all patches. Ports are member fields declared with QC_PORT; they register
// themselves here in declaration order. Class traits are static constants that a patch class may
// replace; the values here are the host's defaults.
class QCPatch {
 public:
  static constexpr bool isSafe = false;
  static constexpr int executionMode = kExecutionModeProcessor;
  static constexpr bool allowsSubpatches = false;
  static constexpr int timeMode = kTimeModeNone;

  explicit QCPatch(std::string identifier) : identifier_(std::move(identifier)) {}
  QCPatch(const QCPatch&) = delete;
  QCPatch& operator=(const QCPatch&) = delete;
  virtual ~QCPatch() = default;

  // The host's check of a new patch's identifier: a patch needs a non-empty one.
  static bool acceptsIdentifier(std::string_view identifier) { return !identifier.empty(); }

  virtual std::string_view className() const = 0;
  const std::string& identifier() const { return identifier_; }

  virtual void enable(QCContext& /*context*/) {}
  virtual bool execute(QCContext& context, double time, const QCStructure& arguments) = 0;
  virtual void disable(QCContext& /*context*/) {}

  // The patch's frames, for a patch that brings them into the composition.
  virtual FrameProvider* frameProvider() { return nullptr; }

  const std::vector<QCPort*>& ports() const { return ports_; }
  QCPort* port(std::string_view name) const;

  const PatchOptions& options() const { return options_; }
  void setOptions(PatchOptions options) { options_ = std::move(options); }

 private:
  friend class QCPort;
  void registerPort(QCPort& port) { ports_.push_back(&port); }

  std::string identifier_;
  std::vector<QCPort*> ports_;
  PatchOptions options_;
};

// Declares a port field; the field name is the port's name.
#define QC_PORT(PortClass, field) \
  PortClass field {               \
    *this, #field                 \
  }

// Declares the class name that the host registers a patch class under.
#define QC_PATCH_CLASS(Class)                            \
  static constexpr std::string_view kClassName = #Class; \
  std::string_view className() const override {          \
    return kClassName;                                   \
  }

}  // namespace cvcomp
