#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "LiveHub.hpp"
#include "host/Engine.hpp"

namespace cvcomp {

// Where undo and redo stand: the composition's revision and the steps each can take.
struct HistoryState {
  std::uint64_t revision = 0;
  std::size_t undo = 0;
  std::size_t redo = 0;
};

// The studio's undo and redo, on the engine's revisions. Every batch applied through it is one
// step, unless it carries the same step key as the batch just before (a slider dragged): then both
// are one. Undo applies the inverses of the last step, its last batch first, as one batch; redo
// applies the inverse of that undo. A new step clears what could be redone, and so does a
// change the history did not make (a replaced composition): then there is nothing to undo either.
// Every applied batch, whoever applied it, reaches the live clients with the client it came from.
//
// Only on the engine's thread (StudioSession::call), like the engine itself.
class EditHistory {
 public:
  static constexpr std::size_t kKeptSteps = 500;

  explicit EditHistory(LiveHub& hub);

  // What the engine is to be told to tell the live clients of every applied batch.
  Engine::EditObserver relay() const;

  // Applies a batch from `origin` (a client's id, or empty) as a step; throws as Engine::apply.
  const AppliedBatch& apply(Engine& engine, const std::vector<CompositionEdit>& edits,
                            const std::string& origin, const std::string& step);
  // The revision the undo or redo made, or none when there is nothing to undo or redo.
  // Undo and redo come from no client: every page shows them.
  std::optional<std::uint64_t> undo(Engine& engine);
  std::optional<std::uint64_t> redo(Engine& engine);
  HistoryState state(const Engine& engine);

 private:
  struct Step {
    std::string key;                       // empty: never merged
    std::vector<CompositionEdit> inverse;  // brings the composition back to before the step
  };
  // Forgets every step when the engine's revision is not the one the history last left.
  void checkRevision(const Engine& engine);
  // Applies the last step of `from` and makes its inverse the last of `to`.
  std::optional<std::uint64_t> takeBack(Engine& engine, std::vector<Step>& from,
                                        std::vector<Step>& to);
  const AppliedBatch& applyFrom(Engine& engine, const std::vector<CompositionEdit>& edits,
                                const std::string& origin);

  // The client whose batch the engine applies now, shared with the relay.
  std::shared_ptr<std::string> origin_;
  LiveHub& hub_;
  std::vector<Step> undo_;
  std::vector<Step> redo_;
  std::uint64_t revision_ = 0;
};

}  // namespace cvcomp
