#include "EditHistory.hpp"

#include <algorithm>

#include "host/EditJson.hpp"

namespace cvcomp {

namespace {

// A batch of values and positions that were already so: its inverse is itself, in some order.
bool changesNothing(const AppliedBatch& batch) {
  using Kind = CompositionEdit::Kind;
  if (std::any_of(batch.edits.begin(), batch.edits.end(), [](const CompositionEdit& edit) {
        return edit.kind != Kind::Set && edit.kind != Kind::Move;
      })) {
    return false;
  }
  const auto sorted = [](const std::vector<CompositionEdit>& edits) {
    std::vector<std::string> texts;
    for (const auto& edit : editsJson(edits)) texts.push_back(edit.dump());
    std::sort(texts.begin(), texts.end());
    return texts;
  };
  return sorted(batch.edits) == sorted(batch.inverse);
}

}  // namespace

EditHistory::EditHistory(LiveHub& hub) : origin_(std::make_shared<std::string>()), hub_(hub) {}

Engine::EditObserver EditHistory::relay() const {
  return [hub = &hub_, origin = origin_](const AppliedBatch& batch) { hub->edits(batch, *origin); };
}

void EditHistory::checkRevision(const Engine& engine) {
  if (engine.revision() == revision_) return;
  undo_.clear();
  redo_.clear();
  revision_ = engine.revision();
}

const AppliedBatch& EditHistory::applyFrom(Engine& engine,
                                           const std::vector<CompositionEdit>& edits,
                                           const std::string& origin) {
  *origin_ = origin;
  try {
    const AppliedBatch& applied = engine.apply(edits);
    origin_->clear();
    revision_ = applied.revision;
    return applied;
  } catch (...) {
    origin_->clear();
    throw;
  }
}

const AppliedBatch& EditHistory::apply(Engine& engine, const std::vector<CompositionEdit>& edits,
                                       const std::string& origin, const std::string& step) {
  checkRevision(engine);
  const AppliedBatch& applied = applyFrom(engine, edits, origin);
  if (changesNothing(applied)) return applied;
  redo_.clear();
  if (!step.empty() && !undo_.empty() && undo_.back().key == step) {
    // The newer batch is undone first.
    std::vector<CompositionEdit>& inverse = undo_.back().inverse;
    inverse.insert(inverse.begin(), applied.inverse.begin(), applied.inverse.end());
  } else {
    undo_.push_back({step, applied.inverse});
    if (undo_.size() > kKeptSteps) undo_.erase(undo_.begin());
  }
  return applied;
}

std::optional<std::uint64_t> EditHistory::undo(Engine& engine) {
  return takeBack(engine, undo_, redo_);
}

std::optional<std::uint64_t> EditHistory::redo(Engine& engine) {
  return takeBack(engine, redo_, undo_);
}

std::optional<std::uint64_t> EditHistory::takeBack(Engine& engine, std::vector<Step>& from,
                                                   std::vector<Step>& to) {
  checkRevision(engine);
  if (from.empty()) return std::nullopt;
  const AppliedBatch& applied = applyFrom(engine, from.back().inverse, {});
  from.pop_back();
  to.push_back({{}, applied.inverse});
  return applied.revision;
}

HistoryState EditHistory::state(const Engine& engine) {
  checkRevision(engine);
  return {revision_, undo_.size(), redo_.size()};
}

}  // namespace cvcomp
