#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "OrderedSlots.hpp"
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
// a patch added to a running composition is enabled, a removed one disabled first. Changes made
// in a batch (changeAll) are kept or undone together, each in time of its own size: a batch of n
// changes costs n, and the order of everything is laid out again once, when it is kept.
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

  // Adds the patch at the end, or before the patch `before` when one is named.
  QCPatch& addPatch(std::string id, std::string_view className, PatchOptions options = {},
                    std::string_view before = {});
  // Removes the patch with its connections and published ports.
  void removePatch(std::string_view id);
  // Adds the connection at the end of the list, or before the one into the input `before`.
  void connect(std::string_view from, std::string_view to, std::string_view before = {});
  // Connects "from" to "to" for every pair, as connect would one after the other, as one batch:
  // on a refusal none of them is kept; the cycles are looked for once.
  void connectAll(const std::vector<std::pair<std::string, std::string>>& pairs);
  // Removes the connection into `input` and gives the input back the value it had before.
  void disconnect(std::string_view to);
  // Publishes the port at the end, or before the published port `before`.
  void publish(std::string_view port, std::string_view before = {});
  void unpublish(std::string_view port);
  bool isPublished(const QCPort& port) const { return publishedAt_.contains(&port); }
  // Gives an input a value, as an edit does (the input is not checked).
  void setInputValue(QCPort& input, const PortValue& value);
  // Throws CompositionError for an unknown patch or a coordinate that is not finite; no position
  // takes the patch's away.
  void setPosition(std::string_view id, std::optional<Position> position);
  // The patch's position, or nullptr when it has none.
  const Position* position(std::string_view id) const;

  // What comes after a patch, a connection (named by its input) and a published port, as
  // `before` names it; empty for the last.
  std::string patchAfter(std::string_view id) const;
  std::string connectionAfter(const QCPort& input) const;
  std::string publishedAfter(const QCPort& port) const;
  // The inputs of the connections from and into the patch.
  std::vector<const QCPort*> connectedInputs(const QCPatch& patch) const;

  // Makes the changes `change` makes one batch, kept whole or undone whole when it throws. While
  // it runs, patches added are not enabled yet and removed ones neither disabled nor destroyed,
  // and patches(), connections() and published() are not to be read. A connection that closes a
  // cycle is found once, when the batch ends or before a connection goes, and its refusal comes
  // first: before that of a later change. Once kept, the patches are enabled and disabled in the
  // order the batch added and removed them, the removed destroyed, and everything laid out in
  // order. Changes outside such a batch are each a batch of their own.
  template <class Change>
  void changeAll(Change&& change);

  QCPatch* patch(std::string_view id) const;
  // The patch's entry (also while a batch runs), or nullptr.
  const Patch* entry(std::string_view id) const;
  // The output connected to `input`, or nullptr.
  const QCPort* sourceOf(const QCPort& input) const;
  // "id.port" to the port; throws CompositionError naming what is unknown.
  QCPort& port(std::string_view path) const;

  const std::vector<Patch>& patches() const { return patches_.items(); }
  const std::vector<Connection>& connections() const { return connections_.items(); }
  const std::vector<QCPort*>& published() const { return published_.items(); }
  // "id.port" of a port of this composition.
  std::string pathOf(const QCPort& port) const;

  void start(QCContext& context);  // enable, in dependency order
  void renderFrame(QCContext& context, std::uint64_t frame, double time);
  void stop(QCContext& context);  // disable
  bool running() const { return context_ != nullptr; }
  // How often the patch with this id has executed so far.
  std::uint64_t executions(std::string_view id) const;

 private:
  void keepChanges();
  void undoChanges();
  // Remembers how to undo a change of the open batch.
  void onUndo(std::function<void()> undo);
  // Refuses the first connection since the last check that closed a cycle.
  void refuseCycles();
  std::size_t indexOf(const QCPatch& patch) const;
  // Checks everything about a new connection but cycles; gives the two ports.
  std::pair<QCPort*, QCPort*> connectable(std::string_view from, std::string_view to) const;
  std::size_t addConnection(QCPort& output, QCPort& input, std::size_t before = kEnd);
  // The slot of the connection into `to`, of which there must be one.
  std::size_t connectionInto(std::string_view to) const;
  // Whether `to` can be reached from `from` along the connections in slots below `slots`.
  bool reaches(const QCPatch& from, const QCPatch& to, std::size_t slots) const;
  bool isDue(const Patch& patch) const;
  // Whether the connections in slots below `slots` hold a cycle.
  bool holdsCycle(std::size_t slots) const;
  std::vector<std::size_t> dependencyOrder() const;
  // Orders the patches once after the last change, not after every patch and connection added.
  void sortPatches();
  // Lays patches, connections and published ports out in their order.
  void compact();

  static constexpr std::size_t kEnd = OrderedSlots<Patch>::kEnd;

  const QCNodeManager& manager_;
  OrderedSlots<Patch> patches_;
  std::unordered_map<std::string, std::size_t> byId_;           // the slots of the patches
  std::unordered_map<const QCPatch*, std::size_t> byInstance_;  // by instance
  OrderedSlots<Connection> connections_;
  std::unordered_map<const QCPort*, std::size_t> into_;  // the slot of the connection into an input
  // The slots of the connections from and into each patch, and of some since removed.
  std::unordered_map<const QCPatch*, std::vector<std::size_t>> links_;
  OrderedSlots<QCPort*> published_;
  std::unordered_map<const QCPort*, std::size_t> publishedAt_;
  std::unordered_map<std::string, Position> positions_;
  std::vector<std::size_t> order_;
  bool sorted_ = true;
  QCContext* context_ = nullptr;

  // The open batch: how to undo it, and the patches it added (enable) and removed (retire).
  bool batching_ = false;
  std::size_t unchecked_ = kEnd;  // the first connection's slot not checked for cycles
  std::vector<std::function<void()>> undo_;
  std::vector<std::pair<bool, std::size_t>> lifecycle_;
};

template <class Change>
void Composition::changeAll(Change&& change) {
  if (batching_) {
    change();
    return;
  }
  batching_ = true;
  try {
    change();
    refuseCycles();
  } catch (const CompositionError& error) {
    std::string message = error.what();
    try {
      refuseCycles();
    } catch (const CompositionError& cycle) {
      message = cycle.what();
    }
    undoChanges();
    throw CompositionError(message);
  } catch (...) {
    undoChanges();
    throw;
  }
  keepChanges();
}

// Records `message` as the last error of the patch executing on this thread; outside a patch's
// execution it is dropped.
void notePatchError(std::string message);

}  // namespace cvcomp
