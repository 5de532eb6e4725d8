#include "Composition.hpp"

#include <algorithm>

#include "Quoted.hpp"

namespace cvcomp {

Composition::~Composition() {
  if (context_) stop(*context_);
  // No input keeps a value whose producer is about to go.
  while (!connections_.empty()) disconnect(pathOf(*connections_.back().to));
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
  patches_.push_back({std::move(id), patchClass, std::move(instance), {}, 0, 0});
  sorted_ = false;
  return created;
}

QCPatch* Composition::patch(std::string_view id) const {
  for (const Patch& entry : patches_) {
    if (entry.id == id) return entry.instance.get();
  }
  return nullptr;
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
  const Patch* owner = entryOf(port.patch());
  return (owner ? owner->id : std::string("?")) + "." + port.name();
}

void Composition::connect(std::string_view from, std::string_view to) {
  QCPort& output = port(from);
  QCPort& input = port(to);
  if (output.isInput()) throw CompositionError(inQuotes(from) + " is an input, not an output");
  if (!input.isInput()) throw CompositionError(inQuotes(to) + " is an output, not an input");
  for (const Connection& existing : connections_) {
    if (existing.to == &input) {
      throw CompositionError(inQuotes(to) + " already has a connection, from " +
                             inQuotes(pathOf(*existing.from)));
    }
  }
  if (!output.canConnectToPort(input) || !input.canConnectToPort(output)) {
    throw CompositionError("cannot connect " + inQuotes(from) + " (" +
                           std::string(portKindName(output.kind())) + ") to " + inQuotes(to) +
                           " (" + std::string(portKindName(input.kind())) +
                           "): incompatible ports");
  }
  if (reaches(input.patch(), output.patch())) {
    throw CompositionError("connecting " + inQuotes(from) + " to " + inQuotes(to) +
                           " would make a cycle");
  }
  connections_.push_back({&output, &input, input.genericValue(), 0});
  sorted_ = false;
}

void Composition::disconnect(std::string_view to) {
  QCPort& input = port(to);
  auto found = std::find_if(connections_.begin(), connections_.end(),
                            [&](const Connection& c) { return c.to == &input; });
  if (found == connections_.end()) throw CompositionError(inQuotes(to) + " has no connection");
  input.setGenericValue(found->inputDefault);
  connections_.erase(found);
  sorted_ = false;
}

void Composition::publish(std::string_view path) {
  QCPort& published = port(path);
  if (std::find(published_.begin(), published_.end(), &published) != published_.end()) {
    throw CompositionError(inQuotes(path) + " is published twice");
  }
  published_.push_back(&published);
}

const Composition::Patch* Composition::entryOf(const QCPatch& patch) const {
  for (const Patch& entry : patches_) {
    if (entry.instance.get() == &patch) return &entry;
  }
  return nullptr;
}

// Whether `to` can be reached from `from` along connections (a patch reaches itself).
bool Composition::reaches(const QCPatch& from, const QCPatch& to) const {
  std::vector<const QCPatch*> pending{&from};
  std::vector<const QCPatch*> seen;
  while (!pending.empty()) {
    const QCPatch* current = pending.back();
    pending.pop_back();
    if (current == &to) return true;
    if (std::find(seen.begin(), seen.end(), current) != seen.end()) continue;
    seen.push_back(current);
    for (const Connection& c : connections_) {
      if (&c.from->patch() == current) pending.push_back(&c.to->patch());
    }
  }
  return false;
}

// Dependency order; patches that do not depend on each other keep the order they were added in.
void Composition::sortPatches() {
  if (sorted_) return;
  sorted_ = true;
  const std::size_t count = patches_.size();
  std::vector<std::size_t> waitingFor(count, 0);
  for (Patch& entry : patches_) entry.incoming.clear();
  auto indexOf = [&](const QCPatch& patch) {
    return static_cast<std::size_t>(entryOf(patch) - patches_.data());
  };
  for (std::size_t c = 0; c < connections_.size(); ++c) {
    const std::size_t target = indexOf(connections_[c].to->patch());
    patches_[target].incoming.push_back(c);
    ++waitingFor[target];
  }
  order_.clear();
  std::vector<bool> placed(count, false);
  while (order_.size() < count) {
    std::size_t next = 0;
    while (placed[next] || waitingFor[next] != 0) ++next;
    placed[next] = true;
    order_.push_back(next);
    for (const Connection& c : connections_) {
      if (&c.from->patch() == patches_[next].instance.get()) --waitingFor[indexOf(c.to->patch())];
    }
  }
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
  if (entry.executions == 0) return true;
  if (entry.patchClass->traits.executionMode == kExecutionModeProvider) return true;
  if (entry.patchClass->traits.timeMode != kTimeModeNone) return true;
  for (const QCPort* candidate : entry.instance->ports()) {
    if (candidate->isInput() && candidate->stamp() > entry.executedAt) return true;
  }
  return false;
}

void Composition::renderFrame(QCContext& context, std::uint64_t frame, double time) {
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
    if (!isDue(entry)) continue;
    entry.instance->execute(context, time, arguments);
    // Inputs a patch writes back during its own execution do not make it due again.
    entry.executedAt = QCPort::latestStamp();
    ++entry.executions;
  }
}

std::uint64_t Composition::executions(std::string_view id) const {
  for (const Patch& entry : patches_) {
    if (entry.id == id) return entry.executions;
  }
  return 0;
}

}  // namespace cvcomp
