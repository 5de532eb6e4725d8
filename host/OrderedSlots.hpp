#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace cvcomp {

// Items in an order that edits change one at a time, each in constant time: an item keeps the
// slot it was given while others are inserted before it or taken out of the order, and one taken
// out can be put back where it was. compact() lays the items still in the order out in slots
// 0, 1, 2..., so that items() is the order again.
template <class T>
class OrderedSlots {
 public:
  static constexpr std::size_t kEnd = static_cast<std::size_t>(-1);

  // Every slot, in the order only while inOrder().
  std::vector<T>& items() { return items_; }
  const std::vector<T>& items() const { return items_; }
  T& operator[](std::size_t slot) { return items_[slot]; }
  const T& operator[](std::size_t slot) const { return items_[slot]; }
  bool linked(std::size_t slot) const { return linked_[slot]; }
  // Whether slot i holds the i-th item, for every item.
  bool inOrder() const { return inOrder_; }

  // Puts `item` in a new slot before the item in slot `next` (kEnd: at the end).
  std::size_t insert(T item, std::size_t next = kEnd) {
    const std::size_t slot = items_.size();
    const std::size_t previous = next == kEnd ? last_ : previous_[next];
    items_.push_back(std::move(item));
    previous_.push_back(previous);
    next_.push_back(next);
    linked_.push_back(false);
    inOrder_ = inOrder_ && next == kEnd;
    link(slot);
    return slot;
  }
  // Takes the item out of the order; it keeps its slot.
  void unlink(std::size_t slot) {
    const std::size_t previous = previous_[slot], next = next_[slot];
    (previous == kEnd ? first_ : next_[previous]) = next;
    (next == kEnd ? last_ : previous_[next]) = previous;
    linked_[slot] = false;
    inOrder_ = false;
  }
  // Puts an item taken out back where it was; undoes unlinks in the reverse of their order.
  void link(std::size_t slot) {
    const std::size_t previous = previous_[slot], next = next_[slot];
    (previous == kEnd ? first_ : next_[previous]) = slot;
    (next == kEnd ? last_ : previous_[next]) = slot;
    linked_[slot] = true;
  }
  // The slot of the item after the one in `slot`, kEnd for the last.
  std::size_t next(std::size_t slot) const { return next_[slot]; }

  // Lays the items in the order out in slots 0, 1, 2...; gives each old slot its new one (kEnd
  // for an item no longer in the order), and hands the items out of the order to `dropped`.
  template <class Drop>
  std::vector<std::size_t> compact(Drop&& dropped) {
    std::vector<std::size_t> moved(items_.size(), kEnd);
    std::vector<T> kept;
    kept.reserve(items_.size());
    for (std::size_t slot = first_; slot != kEnd; slot = next_[slot]) {
      moved[slot] = kept.size();
      kept.push_back(std::move(items_[slot]));
    }
    for (std::size_t slot = 0; slot < items_.size(); ++slot) {
      if (moved[slot] == kEnd) dropped(std::move(items_[slot]));
    }
    items_ = std::move(kept);
    const std::size_t count = items_.size();
    previous_.resize(count);
    next_.resize(count);
    linked_.assign(count, true);
    for (std::size_t slot = 0; slot < count; ++slot) {
      previous_[slot] = slot == 0 ? kEnd : slot - 1;
      next_[slot] = slot + 1 == count ? kEnd : slot + 1;
    }
    first_ = count == 0 ? kEnd : 0;
    last_ = count == 0 ? kEnd : count - 1;
    inOrder_ = true;
    return moved;
  }

 private:
  std::vector<T> items_;
  std::vector<std::size_t> previous_, next_;
  std::vector<bool> linked_;
  std::size_t first_ = kEnd, last_ = kEnd;
  bool inOrder_ = true;
};

}  // namespace cvcomp
