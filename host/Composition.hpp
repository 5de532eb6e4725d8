#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "QCNodeManager.hpp"
#include "QCPatch.hpp"
#include "QCPort.hpp"

namespace cvcomp {

// A composition that cannot be built as asked; the message names the patch and port.
class CompositionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Patch instances wired by connections, evaluated frame by frame.
//
// Each frame the patches run in dependency order. Before a patch runs, every connected input
// whose upstream output received a new value is given that value. A patch executes when it has
// not executed yet, when it is a provider or depends on time, when its last execution reported
// failure, or when one of its inputs received a new value since its last execution; otherwise it
// keeps its outputs. Every set of an output counts as a new value, even when the same object is
// set again; a value a patch sets on its own inputs while it executes does not make it due.
//
// Patches, connections and published ports can be added and removed at any time between frames;
// a patch added to a running composition is enabled, a removed one disabled first.
class Composition {
 public:
  struct Patch {
    std::string id;
    const PatchClass* patchClass;
    std::unique_ptr<QCPatch> instance;
    std::vector<std::size_t> incoming;  // indices of the connections into this patch
    std::uint64_t executedAt = 0;       // the newest port stamp when it last executed
    std::uint64_t executions = 0;
    // The last frame's part: whether the patch executed, how long it took, whether it failed.
    bool executedLastFrame = false;
    bool failedLastFrame = false;
    double lastMilliseconds = 0.0;
    // The last error reported while it executed (an OpenCV error it caught); empty once it
    // executes without one.
    std::string lastError{};
  };
  struct Connection {
    QCPort* from;
    QCPort* to;
    PortValue inputDefault;  // what the input had before it was connected
    std::uint64_t deliveredStamp = 0;
  };
  // Where an editor shows a patch: kept with the composition, no part of its evaluation.
  struct Position {
    double x = 0.0;
    double y = 0.0;
  };

  explicit Composition(const QCNodeManager& manager) : manager_(manager) {}
  Composition(const Composition&) = delete;
  Composition& operator=(const Composition&) = delete;
  // Stops the composition if it runs, then destroys the patches, last created first.
  ~Composition();

  QCPatch& addPatch(std::string id, std::string_view className, PatchOptions options = {});
  // Removes the patch with its connections and published ports.
  void removePatch(std::string_view id);
  void connect(std::string_view from, std::string_view to);
  // Connects "from" to "to" for every pair, as connect would one after the other, in time linear
  // in the size of the composition; on a refusal none of them is kept.
  void connectAll(const std::vector<std::pair<std::string, std::string>>& pairs);
  // Removes the connection into `input` and gives the input back the value it had before.
  void disconnect(std::string_view to);
  void publish(std::string_view port);
  void unpublish(std::string_view port);
  // Throws CompositionError for an unknown patch or a coordinate that is not finite.
  void setPosition(std::string_view id, Position position);
  // The patch's position, or nullptr when it has none.
  const Position* position(std::string_view id) const;

  QCPatch* patch(std::string_view id) const;
  // The output connected to `input`, or nullptr.
  const QCPort* sourceOf(const QCPort& input) const;
  // "id.port" to the port; throws CompositionError naming what is unknown.
  QCPort& port(std::string_view path) const;

  const std::vector<Patch>& patches() const { return patches_; }
  const std::vector<Connection>& connections() const { return connections_; }
  const std::vector<QCPort*>& published() const { return published_; }
  // "id.port" of a port of this composition.
  std::string pathOf(const QCPort& port) const;

  void start(QCContext& context);  // enable, in dependency order
  void renderFrame(QCContext& context, std::uint64_t frame, double time);
  void stop(QCContext& context);  // disable
  bool running() const { return context_ != nullptr; }
  // How often the patch with this id has executed so far.
  std::uint64_t executions(std::string_view id) const;

 private:
  std::size_t indexOf(const QCPatch& patch) const;
  // Checks everything about a new connection but cycles; gives the two ports.
  std::pair<QCPort*, QCPort*> connectable(std::string_view from, std::string_view to) const;
  void addConnection(QCPort& output, QCPort& input);
  bool reaches(const QCPatch& from, const QCPatch& to) const;
  bool isDue(const Patch& patch) const;
  // Whether the first `count` connections hold a cycle.
  bool holdsCycle(std::size_t count) const;
  std::vector<std::size_t> dependencyOrder(std::size_t count) const;
  // Orders the patches once after the last change, not after every patch and connection added.
  void sortPatches();
  void reindex();

  const QCNodeManager& manager_;
  std::vector<Patch> patches_;
  std::unordered_map<std::string, std::size_t> byId_;
  std::unordered_map<const QCPatch*, std::size_t> byInstance_;
  std::vector<Connection> connections_;
  std::unordered_map<const QCPort*, const QCPort*> sourceOf_;  // input to its output
  std::vector<QCPort*> published_;
  std::set<const QCPort*> publishedSet_;
  std::unordered_map<std::string, Position> positions_;
  std::vector<std::size_t> order_;
  bool sorted_ = true;
  QCContext* context_ = nullptr;
};

// Records `message` as the last error of the patch executing on this thread; outside a patch's
// execution it is dropped.
void notePatchError(std::string message);

}  // namespace cvcomp
