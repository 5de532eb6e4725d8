#include "Composition.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <queue>

#include "Quoted.hpp"

namespace cvcomp {

Composition::~Composition() {
  if (context_) stop(*context_);
  // No input keeps a value whose producer is about to go.
  for (auto c = connections_.rbegin(); c != connections_.rend(); ++c) {
    c->to->setGenericValue(c->inputDefault);
  }
  connections_.clear();
  while (!patches_.empty()) patches_.pop_back();
}

QCPatch& Composition::addPatch(std::string id, std::string_view className, PatchOptions options) {
  if (id.empty() || id.find('.') != std::string::npos) {
    throw CompositionError("patch id " + inQuotes(id) + " must be non-empty and contain no '.'");
  }
  if (patch(id)) throw CompositionError("duplicate patch id " + inQuotes(id));
  const PatchClass* patchClass = manager_.nodeClass(className);
  if (!patchClass) {
    throw CompositionError("patch " + inQuotes(id) + ": unknown class " + inQuotes(className));
  }
  std::unique_ptr<QCPatch> instance = patchClass->create(id);
  if (!instance) {
    throw CompositionError("patch " + inQuotes(id) + ": class " + inQuotes(className) +
                           " could not create it");
  }
  instance->setOptions(std::move(options));
  QCPatch& created = *instance;
  byId_.emplace(id, patches_.size());
  byInstance_.emplace(&created, patches_.size());
  patches_.push_back({std::move(id), patchClass, std::move(instance), {}});
  sorted_ = false;
  if (context_) created.enable(*context_);
  return created;
}

void Composition::removePatch(std::string_view id) {
  QCPatch* removed = patch(id);
  if (!removed) throw CompositionError("unknown patch " + inQuotes(id));
  if (context_) removed->disable(*context_);
  for (std::size_t c = connections_.size(); c-- > 0;) {
    const Connection& connection = connections_[c];
    if (&connection.from->patch() == removed || &connection.to->patch() == removed) {
      disconnect(pathOf(*connection.to));
    }
  }
  std::erase_if(published_, [&](const QCPort* port) {
    if (&port->patch() != removed) return false;
    publishedSet_.erase(port);
    return true;
  });
  positions_.erase(std::string(id));
  patches_.erase(patches_.begin() + static_cast<std::ptrdiff_t>(indexOf(*removed)));
  reindex();
}

void Composition::setPosition(std::string_view id, Position position) {
  if (!patch(id)) throw CompositionError("unknown patch " + inQuotes(id));
  if (!std::isfinite(position.x) || !std::isfinite(position.y)) {
    throw CompositionError("patch " + inQuotes(id) + ": a position must be finite");
  }
  positions_[std::string(id)] = position;
}

const Composition::Position* Composition::position(std::string_view id) const {
  const auto found = positions_.find(std::string(id));
  return found == positions_.end() ? nullptr : &found->second;
}

void Composition::reindex() {
  byId_.clear();
  byInstance_.clear();
  for (std::size_t i = 0; i < patches_.size(); ++i) {
    byId_.emplace(patches_[i].id, i);
    byInstance_.emplace(patches_[i].instance.get(), i);
  }
  sorted_ = false;
}

QCPatch* Composition::patch(std::string_view id) const {
  const auto found = byId_.find(std::string(id));
  return found == byId_.end() ? nullptr : patches_[found->second].instance.get();
}

const QCPort* Composition::sourceOf(const QCPort& input) const {
  const auto found = sourceOf_.find(&input);
  return found == sourceOf_.end() ? nullptr : found->second;
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
  if (const auto existing = sourceOf_.find(&input); existing != sourceOf_.end()) {
    throw CompositionError(inQuotes(to) + " already has a connection, from " +
                           inQuotes(pathOf(*existing->second)));
  }
  if (!output.canConnectToPort(input) || !input.canConnectToPort(output)) {
    throw CompositionError("cannot connect " + inQuotes(from) + " (" +
                           std::string(portKindName(output.kind())) + ") to " + inQuotes(to) +
                           " (" + std::string(portKindName(input.kind())) +
                           "): incompatible ports");
  }
  return {&output, &input};
}

void Composition::connect(std::string_view from, std::string_view to) {
  const auto [output, input] = connectable(from, to);
  if (reaches(input->patch(), output->patch())) {
    throw CompositionError("connecting " + inQuotes(from) + " to " + inQuotes(to) +
                           " would make a cycle");
  }
  addConnection(*output, *input);
}

void Composition::addConnection(QCPort& output, QCPort& input) {
  connections_.push_back({&output, &input, input.genericValue(), 0});
  sourceOf_.emplace(&input, &output);
  sorted_ = false;
}

void Composition::connectAll(const std::vector<std::pair<std::string, std::string>>& pairs) {
  const std::size_t before = connections_.size();
  // Each connection is checked as it is added, cycles once at the end; only when there is one is
  // the first connection that closes it looked for, by halving the list.
  auto refuseCycle = [&] {
    std::size_t acyclic = before, cyclic = connections_.size();
    while (cyclic - acyclic > 1) {
      const std::size_t middle = acyclic + (cyclic - acyclic) / 2;
      (holdsCycle(middle) ? cyclic : acyclic) = middle;
    }
    const std::string from = pathOf(*connections_[cyclic - 1].from);
    const std::string to = pathOf(*connections_[cyclic - 1].to);
    while (connections_.size() > before) disconnect(pathOf(*connections_.back().to));
    throw CompositionError("connecting " + inQuotes(from) + " to " + inQuotes(to) +
                           " would make a cycle");
  };
  for (const auto& [from, to] : pairs) {
    std::pair<QCPort*, QCPort*> ports;
    try {
      ports = connectable(from, to);
    } catch (const CompositionError&) {
      // A cycle among the connections before this one is the first refusal.
      if (holdsCycle(connections_.size())) refuseCycle();
      while (connections_.size() > before) disconnect(pathOf(*connections_.back().to));
      throw;
    }
    addConnection(*ports.first, *ports.second);
  }
  if (holdsCycle(connections_.size())) refuseCycle();
}

bool Composition::holdsCycle(std::size_t count) const {
  return dependencyOrder(count).size() != patches_.size();
}

// The patches in dependency order along the first `count` connections, the earliest added first
// among those that do not depend on each other; the patches on a cycle are left out.
std::vector<std::size_t> Composition::dependencyOrder(std::size_t count) const {
  std::vector<std::size_t> waitingFor(patches_.size(), 0);
  std::vector<std::vector<std::size_t>> outgoing(patches_.size());
  for (std::size_t c = 0; c < count; ++c) {
    const std::size_t target = indexOf(connections_[c].to->patch());
    outgoing[indexOf(connections_[c].from->patch())].push_back(target);
    ++waitingFor[target];
  }
  std::priority_queue<std::size_t, std::vector<std::size_t>, std::greater<>> ready;
  for (std::size_t i = 0; i < patches_.size(); ++i) {
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
  QCPort& input = port(to);
  auto found = std::find_if(connections_.begin(), connections_.end(),
                            [&](const Connection& c) { return c.to == &input; });
  if (found == connections_.end()) throw CompositionError(inQuotes(to) + " has no connection");
  input.setGenericValue(found->inputDefault);
  connections_.erase(found);
  sourceOf_.erase(&input);
  sorted_ = false;
}

void Composition::publish(std::string_view path) {
  QCPort& published = port(path);
  if (!publishedSet_.insert(&published).second) {
    throw CompositionError(inQuotes(path) + " is published twice");
  }
  published_.push_back(&published);
}

void Composition::unpublish(std::string_view path) {
  QCPort& published = port(path);
  if (publishedSet_.erase(&published) == 0) {
    throw CompositionError(inQuotes(path) + " is not published");
  }
  std::erase(published_, &published);
}

// Whether `to` can be reached from `from` along connections (a patch reaches itself).
bool Composition::reaches(const QCPatch& from, const QCPatch& to) const {
  std::vector<std::vector<std::size_t>> outgoing(patches_.size());
  for (const Connection& c : connections_) {
    outgoing[indexOf(c.from->patch())].push_back(indexOf(c.to->patch()));
  }
  const std::size_t target = indexOf(to);
  std::vector<bool> seen(patches_.size(), false);
  std::vector<std::size_t> pending{indexOf(from)};
  while (!pending.empty()) {
    const std::size_t current = pending.back();
    pending.pop_back();
    if (current == target) return true;
    if (seen[current]) continue;
    seen[current] = true;
    for (const std::size_t next : outgoing[current]) pending.push_back(next);
  }
  return false;
}

// Dependency order; patches that do not depend on each other keep the order they were added in.
void Composition::sortPatches() {
  if (sorted_) return;
  for (Patch& entry : patches_) entry.incoming.clear();
  for (std::size_t c = 0; c < connections_.size(); ++c) {
    patches_[indexOf(connections_[c].to->patch())].incoming.push_back(c);
  }
  order_ = dependencyOrder(connections_.size());
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
