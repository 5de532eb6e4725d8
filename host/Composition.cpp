#include "Composition.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <queue>
#include <unordered_set>

#include "Quoted.hpp"

namespace cvcomp {

Composition::~Composition() {
  if (context_) stop(*context_);
  // No input keeps a value whose producer is about to go.
  const std::vector<Connection>& connections = connections_.items();
  for (auto c = connections.rbegin(); c != connections.rend(); ++c) {
    c->to->setGenericValue(c->inputDefault);
  }
  std::vector<Patch>& patches = patches_.items();
  while (!patches.empty()) patches.pop_back();
}

void Composition::onUndo(std::function<void()> undo) {
  undo_.push_back(std::move(undo));
}

void Composition::keepChanges() {
  batching_ = false;
  unchecked_ = kEnd;
  undo_.clear();
  const std::vector<std::pair<bool, std::size_t>> lifecycle = std::exchange(lifecycle_, {});
  for (const auto& [enable, slot] : lifecycle) {
    Patch& entry = patches_[slot];
    if (enable) {
      if (context_) entry.instance->enable(*context_);
    } else {
      if (context_) entry.instance->disable(*context_);
      links_.erase(entry.instance.get());
      entry.instance.reset();
    }
  }
  compact();
}

void Composition::undoChanges() {
  batching_ = false;
  unchecked_ = kEnd;
  lifecycle_.clear();
  for (auto undo = undo_.rbegin(); undo != undo_.rend(); ++undo) (*undo)();
  undo_.clear();
  compact();
}

void Composition::compact() {
  if (!patches_.inOrder()) {
    patches_.compact([](Patch&&) {});
    byId_.clear();
    byInstance_.clear();
    for (std::size_t i = 0; i < patches_.items().size(); ++i) {
      byId_.emplace(patches_[i].id, i);
      byInstance_.emplace(patches_[i].instance.get(), i);
    }
  }
  if (!connections_.inOrder()) {
    connections_.compact([](Connection&&) {});
    into_.clear();
    links_.clear();
    for (std::size_t c = 0; c < connections_.items().size(); ++c) {
      into_.emplace(connections_[c].to, c);
      links_[&connections_[c].from->patch()].push_back(c);
      links_[&connections_[c].to->patch()].push_back(c);
    }
  }
  if (!published_.inOrder()) {
    published_.compact([](QCPort*&&) {});
    publishedAt_.clear();
    for (std::size_t p = 0; p < published_.items().size(); ++p)
      publishedAt_.emplace(published_[p], p);
  }
}

QCPatch& Composition::addPatch(std::string id, std::string_view className, PatchOptions options,
                               std::string_view before) {
  if (id.empty() || id.find('.') != std::string::npos) {
    throw CompositionError("patch id " + inQuotes(id) + " must be non-empty and contain no '.'");
  }
  if (patch(id)) throw CompositionError("duplicate patch id " + inQuotes(id));
  const PatchClass* patchClass = manager_.nodeClass(className);
  if (!patchClass) {
    throw CompositionError("patch " + inQuotes(id) + ": unknown class " + inQuotes(className));
  }
  std::size_t next = kEnd;
  if (!before.empty()) {
    const auto found = byId_.find(std::string(before));
    if (found == byId_.end()) {
      throw CompositionError("patch " + inQuotes(id) + ": unknown patch " + inQuotes(before) +
                             " to go before");
    }
    next = found->second;
  }
  std::unique_ptr<QCPatch> instance = patchClass->create(id);
  if (!instance) {
    throw CompositionError("patch " + inQuotes(id) + ": class " + inQuotes(className) +
                           " could not create it");
  }
  instance->setOptions(std::move(options));
  QCPatch& created = *instance;
  changeAll([&] {
    const std::size_t slot = patches_.insert({id, patchClass, std::move(instance), {}}, next);
    byId_.emplace(std::move(id), slot);
    byInstance_.emplace(&created, slot);
    sorted_ = false;
    lifecycle_.emplace_back(true, slot);
    onUndo([this, slot] {
      byId_.erase(patches_[slot].id);
      byInstance_.erase(patches_[slot].instance.get());
      patches_.unlink(slot);
      sorted_ = false;
    });
  });
  return created;
}

void Composition::removePatch(std::string_view id) {
  QCPatch* removed = patch(id);
  if (!removed) throw CompositionError("unknown patch " + inQuotes(id));
  changeAll([&] {
    for (const QCPort* input : connectedInputs(*removed)) disconnect(pathOf(*input));
    for (const QCPort* port : removed->ports()) {
      if (isPublished(*port)) unpublish(pathOf(*port));
    }
    setPosition(id, std::nullopt);
    const std::size_t slot = indexOf(*removed);
    byId_.erase(patches_[slot].id);
    byInstance_.erase(removed);
    patches_.unlink(slot);
    sorted_ = false;
    lifecycle_.emplace_back(false, slot);
    onUndo([this, slot] {
      patches_.link(slot);
      byId_.emplace(patches_[slot].id, slot);
      byInstance_.emplace(patches_[slot].instance.get(), slot);
      sorted_ = false;
    });
  });
}

void Composition::setPosition(std::string_view id, std::optional<Position> position) {
  if (!patch(id)) throw CompositionError("unknown patch " + inQuotes(id));
  if (position && (!std::isfinite(position->x) || !std::isfinite(position->y))) {
    throw CompositionError("patch " + inQuotes(id) + ": a position must be finite");
  }
  std::string key(id);
  const auto found = positions_.find(key);
  std::optional<Position> previous;
  if (found != positions_.end()) previous = found->second;
  if (!position && !previous) return;
  changeAll([&] {
    if (position) {
      positions_[key] = *position;
    } else {
      positions_.erase(key);
    }
    onUndo([this, key = std::move(key), previous] {
      if (previous) {
        positions_[key] = *previous;
      } else {
        positions_.erase(key);
      }
    });
  });
}

const Composition::Position* Composition::position(std::string_view id) const {
  const auto found = positions_.find(std::string(id));
  return found == positions_.end() ? nullptr : &found->second;
}

void Composition::setInputValue(QCPort& input, const PortValue& value) {
  PortValue previous = input.genericValue();
  changeAll([&] {
    input.setGenericValue(value);
    onUndo([&input, previous = std::move(previous)] { input.setGenericValue(previous); });
  });
}

std::string Composition::patchAfter(std::string_view id) const {
  const std::size_t next = patches_.next(byId_.at(std::string(id)));
  return next == kEnd ? std::string() : patches_[next].id;
}

std::string Composition::connectionAfter(const QCPort& input) const {
  const std::size_t next = connections_.next(into_.at(&input));
  return next == kEnd ? std::string() : pathOf(*connections_[next].to);
}

std::string Composition::publishedAfter(const QCPort& port) const {
  const std::size_t next = published_.next(publishedAt_.at(&port));
  return next == kEnd ? std::string() : pathOf(*published_[next]);
}

std::vector<const QCPort*> Composition::connectedInputs(const QCPatch& patch) const {
  std::vector<const QCPort*> inputs;
  const auto links = links_.find(&patch);
  if (links == links_.end()) return inputs;
  for (const std::size_t c : links->second) {
    const Connection& connection = connections_[c];
    // A connection into the patch from itself is listed twice; the second is not its slot.
    if (connections_.linked(c) && into_.at(connection.to) == c &&
        std::find(inputs.begin(), inputs.end(), connection.to) == inputs.end()) {
      inputs.push_back(connection.to);
    }
  }
  return inputs;
}

QCPatch* Composition::patch(std::string_view id) const {
  const Patch* found = entry(id);
  return found ? found->instance.get() : nullptr;
}

const Composition::Patch* Composition::entry(std::string_view id) const {
  const auto found = byId_.find(std::string(id));
  return found == byId_.end() ? nullptr : &patches_[found->second];
}

const QCPort* Composition::sourceOf(const QCPort& input) const {
  const auto found = into_.find(&input);
  return found == into_.end() ? nullptr : connections_[found->second].from;
}

QCPort& Composition::port(std::string_view path) const {
  const std::size_t dot = path.find('.');
  if (dot == std::string_view::npos) {
    throw CompositionError(inQuotes(path) + " does not name a port as \"patch.port\"");
  }
  const std::string_view id = path.substr(0, dot);
  const std::string_view name = path.substr(dot + 1);
  QCPatch* owner = patch(id);
  if (!owner) throw CompositionError("unknown patch " + inQuotes(id) + " in " + inQuotes(path));
  QCPort* found = owner->port(name);
  if (!found) {
    throw CompositionError("patch " + inQuotes(id) + " (" + std::string(owner->className()) +
                           ") has no port " + inQuotes(name));
  }
  return *found;
}

std::string Composition::pathOf(const QCPort& port) const {
  const auto found = byInstance_.find(&port.patch());
  return (found == byInstance_.end() ? std::string("?") : patches_[found->second].id) + "." +
         port.name();
}

std::size_t Composition::indexOf(const QCPatch& patch) const {
  return byInstance_.at(&patch);
}

std::pair<QCPort*, QCPort*> Composition::connectable(std::string_view from,
                                                     std::string_view to) const {
  QCPort& output = port(from);
  QCPort& input = port(to);
  if (output.isInput()) throw CompositionError(inQuotes(from) + " is an input, not an output");
  if (!input.isInput()) throw CompositionError(inQuotes(to) + " is an output, not an input");
  if (const QCPort* existing = sourceOf(input)) {
    throw CompositionError(inQuotes(to) + " already has a connection, from " +
                           inQuotes(pathOf(*existing)));
  }
  if (!output.canConnectToPort(input) || !input.canConnectToPort(output)) {
    // Kinds as the catalogue and the studio's legend name them.
    throw CompositionError("cannot connect " + inQuotes(from) + " (" +
                           std::string(output.kindName()) + ") to " + inQuotes(to) + " (" +
                           std::string(input.kindName()) + "): incompatible ports");
  }
  return {&output, &input};
}

std::size_t Composition::connectionInto(std::string_view to) const {
  const auto found = into_.find(&port(to));
  if (found == into_.end()) throw CompositionError(inQuotes(to) + " has no connection");
  return found->second;
}

void Composition::connect(std::string_view from, std::string_view to, std::string_view before) {
  const std::pair<QCPort*, QCPort*> ports = connectable(from, to);
  const std::size_t next = before.empty() ? kEnd : connectionInto(before);
  changeAll([&] {
    const std::size_t slot = addConnection(*ports.first, *ports.second, next);
    if (unchecked_ == kEnd) unchecked_ = slot;
  });
}

std::size_t Composition::addConnection(QCPort& output, QCPort& input, std::size_t before) {
  const std::size_t slot = connections_.insert({&output, &input, input.genericValue(), 0}, before);
  into_.emplace(&input, slot);
  links_[&output.patch()].push_back(slot);
  links_[&input.patch()].push_back(slot);
  sorted_ = false;
  onUndo([this, slot] {
    into_.erase(connections_[slot].to);
    connections_.unlink(slot);
    sorted_ = false;
  });
  return slot;
}

void Composition::connectAll(const std::vector<std::pair<std::string, std::string>>& pairs) {
  changeAll([&] {
    for (const auto& [from, to] : pairs) connect(from, to);
  });
}

// A few new connections are each checked by a walk downstream of their input; many, by ordering
// the whole composition once, and only when that finds a cycle, the first connection that closes
// it by halving their list.
void Composition::refuseCycles() {
  if (unchecked_ == kEnd) return;
  const std::size_t first = std::exchange(unchecked_, kEnd);
  const std::size_t end = connections_.items().size();
  constexpr std::size_t kWalked = 8;
  std::size_t closing = kEnd;
  if (end - first <= kWalked) {
    for (std::size_t c = first; c < end && closing == kEnd; ++c) {
      const Connection& connection = connections_[c];
      if (connections_.linked(c) &&
          reaches(connection.to->patch(), connection.from->patch(), c + 1)) {
        closing = c;
      }
    }
  } else if (holdsCycle(end)) {
    std::size_t acyclic = first, cyclic = end;
    while (cyclic - acyclic > 1) {
      const std::size_t middle = acyclic + (cyclic - acyclic) / 2;
      (holdsCycle(middle) ? cyclic : acyclic) = middle;
    }
    closing = cyclic - 1;
  }
  if (closing == kEnd) return;
  throw CompositionError("connecting " + inQuotes(pathOf(*connections_[closing].from)) + " to " +
                         inQuotes(pathOf(*connections_[closing].to)) + " would make a cycle");
}

bool Composition::holdsCycle(std::size_t slots) const {
  const std::size_t patches = patches_.items().size();
  std::vector<std::size_t> waitingFor(patches, 0);
  std::vector<std::vector<std::size_t>> outgoing(patches);
  for (std::size_t c = 0; c < slots; ++c) {
    if (!connections_.linked(c)) continue;
    const std::size_t target = indexOf(connections_[c].to->patch());
    outgoing[indexOf(connections_[c].from->patch())].push_back(target);
    ++waitingFor[target];
  }
  std::vector<std::size_t> ready;
  std::size_t waiting = 0;
  for (std::size_t i = 0; i < patches; ++i) {
    if (!patches_.linked(i)) continue;
    ++waiting;
    if (waitingFor[i] == 0) ready.push_back(i);
  }
  while (!ready.empty()) {
    const std::size_t next = ready.back();
    ready.pop_back();
    --waiting;
    for (const std::size_t target : outgoing[next]) {
      if (--waitingFor[target] == 0) ready.push_back(target);
    }
  }
  return waiting != 0;
}

// The patches in dependency order, the earliest added first among those that do not depend on
// each other; the patches and connections are laid out in order.
std::vector<std::size_t> Composition::dependencyOrder() const {
  const std::size_t patches = patches_.items().size();
  std::vector<std::size_t> waitingFor(patches, 0);
  std::vector<std::vector<std::size_t>> outgoing(patches);
  for (const Connection& connection : connections_.items()) {
    const std::size_t target = indexOf(connection.to->patch());
    outgoing[indexOf(connection.from->patch())].push_back(target);
    ++waitingFor[target];
  }
  std::priority_queue<std::size_t, std::vector<std::size_t>, std::greater<>> ready;
  for (std::size_t i = 0; i < patches; ++i) {
    if (waitingFor[i] == 0) ready.push(i);
  }
  std::vector<std::size_t> order;
  while (!ready.empty()) {
    const std::size_t next = ready.top();
    ready.pop();
    order.push_back(next);
    for (const std::size_t target : outgoing[next]) {
      if (--waitingFor[target] == 0) ready.push(target);
    }
  }
  return order;
}

void Composition::disconnect(std::string_view to) {
  const std::size_t slot = connectionInto(to);
  // A cycle a connection of the batch closed is refused before a connection goes.
  refuseCycles();
  Connection& connection = connections_[slot];
  QCPort& input = *connection.to;
  PortValue delivered = input.genericValue();
  changeAll([&] {
    input.setGenericValue(connection.inputDefault);
    connections_.unlink(slot);
    into_.erase(&input);
    sorted_ = false;
    onUndo([this, slot, delivered = std::move(delivered)] {
      connections_.link(slot);
      into_.emplace(connections_[slot].to, slot);
      connections_[slot].to->setGenericValue(delivered);
      sorted_ = false;
    });
  });
}

void Composition::publish(std::string_view path, std::string_view before) {
  QCPort& published = port(path);
  if (isPublished(published)) throw CompositionError(inQuotes(path) + " is published twice");
  std::size_t next = kEnd;
  if (!before.empty()) {
    const QCPort& anchor = port(before);
    if (!isPublished(anchor)) throw CompositionError(inQuotes(before) + " is not published");
    next = publishedAt_.at(&anchor);
  }
  changeAll([&] {
    const std::size_t slot = published_.insert(&published, next);
    publishedAt_.emplace(&published, slot);
    onUndo([this, slot] {
      publishedAt_.erase(published_[slot]);
      published_.unlink(slot);
    });
  });
}

void Composition::unpublish(std::string_view path) {
  QCPort& published = port(path);
  const auto found = publishedAt_.find(&published);
  if (found == publishedAt_.end()) throw CompositionError(inQuotes(path) + " is not published");
  const std::size_t slot = found->second;
  changeAll([&] {
    published_.unlink(slot);
    publishedAt_.erase(&published);
    onUndo([this, slot] {
      published_.link(slot);
      publishedAt_.emplace(published_[slot], slot);
    });
  });
}

// A patch reaches itself; a walk of what lies downstream of `from`.
bool Composition::reaches(const QCPatch& from, const QCPatch& to, std::size_t slots) const {
  std::unordered_set<const QCPatch*> seen;
  std::vector<const QCPatch*> pending{&from};
  while (!pending.empty()) {
    const QCPatch* current = pending.back();
    pending.pop_back();
    if (current == &to) return true;
    if (!seen.insert(current).second) continue;
    const auto links = links_.find(current);
    if (links == links_.end()) continue;
    for (const std::size_t c : links->second) {
      const Connection& connection = connections_[c];
      if (c < slots && connections_.linked(c) && &connection.from->patch() == current) {
        pending.push_back(&connection.to->patch());
      }
    }
  }
  return false;
}

// Dependency order; patches that do not depend on each other keep the order they were added in.
void Composition::sortPatches() {
  if (sorted_) return;
  std::vector<Patch>& patches = patches_.items();
  for (Patch& entry : patches) entry.incoming.clear();
  const std::vector<Connection>& connections = connections_.items();
  for (std::size_t c = 0; c < connections.size(); ++c) {
    patches[indexOf(connections[c].to->patch())].incoming.push_back(c);
  }
  order_ = dependencyOrder();
  sorted_ = true;
}

void Composition::start(QCContext& context) {
  if (context_) return;
  context_ = &context;
  sortPatches();
  for (std::size_t index : order_) patches_[index].instance->enable(context);
}

void Composition::stop(QCContext& context) {
  if (!context_) return;
  sortPatches();
  for (std::size_t index : order_) patches_[index].instance->disable(context);
  context_ = nullptr;
}

bool Composition::isDue(const Patch& entry) const {
  if (entry.executions == 0 || entry.failedLastFrame) return true;
  if (entry.patchClass->traits.executionMode == kExecutionModeProvider) return true;
  if (entry.patchClass->traits.timeMode != kTimeModeNone) return true;
  for (const QCPort* candidate : entry.instance->ports()) {
    if (candidate->isInput() && candidate->stamp() > entry.executedAt) return true;
  }
  return false;
}

namespace {
// Where the patch executing on this thread keeps its last error.
thread_local std::string* executingPatchError = nullptr;

struct ExecutingPatch {
  explicit ExecutingPatch(std::string& lastError) { executingPatchError = &lastError; }
  ExecutingPatch(const ExecutingPatch&) = delete;
  ExecutingPatch& operator=(const ExecutingPatch&) = delete;
  ~ExecutingPatch() { executingPatchError = nullptr; }
};
}  // namespace

void notePatchError(std::string message) {
  if (executingPatchError) *executingPatchError = std::move(message);
}

void Composition::renderFrame(QCContext& context, std::uint64_t frame, double time) {
  using Clock = std::chrono::steady_clock;
  QCStructure arguments;
  arguments.addMember(QCNumber::withDouble(static_cast<double>(frame)), "frame");
  sortPatches();
  for (std::size_t index : order_) {
    Patch& entry = patches_[index];
    for (std::size_t c : entry.incoming) {
      Connection& connection = connections_[c];
      if (connection.from->stamp() == connection.deliveredStamp) continue;
      connection.to->setGenericValue(connection.from->genericValue());
      connection.deliveredStamp = connection.from->stamp();
    }
    entry.executedLastFrame = isDue(entry);
    entry.lastMilliseconds = 0.0;
    if (!entry.executedLastFrame) continue;
    const Clock::time_point start = Clock::now();
    entry.lastError.clear();
    const ExecutingPatch executing(entry.lastError);
    entry.failedLastFrame = !entry.instance->execute(context, time, arguments);
    entry.lastMilliseconds =
        std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    entry.executedAt = QCPort::latestStamp();
    ++entry.executions;
  }
}

std::uint64_t Composition::executions(std::string_view id) const {
  const auto found = byId_.find(std::string(id));
  return found == byId_.end() ? 0 : patches_[found->second].executions;
}

}  // namespace cvcomp
