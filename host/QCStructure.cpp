#include "QCStructure.hpp"

#include <functional>

namespace cvcomp {

namespace {

std::size_t hashOf(std::string_view key) {
  return std::hash<std::string_view>{}(key);
}

}  // namespace

const QCStructure::Entry* QCStructure::find(std::string_view key) const {
  if (index_.empty()) {
    for (const Entry& entry : entries_) {
      if (entry.first == key) return &entry;
    }
    return nullptr;
  }
  const std::size_t mask = index_.size() - 1;
  for (std::size_t slot = hashOf(key) & mask; index_[slot] != 0; slot = (slot + 1) & mask) {
    const Entry& entry = entries_[index_[slot] - 1];
    if (entry.first == key) return &entry;
  }
  return nullptr;
}

void QCStructure::indexEntry(std::size_t position) {
  const std::size_t mask = index_.size() - 1;
  std::size_t slot = hashOf(entries_[position].first) & mask;
  while (index_[slot] != 0) slot = (slot + 1) & mask;
  index_[slot] = static_cast<std::uint32_t>(position + 1);
}

void QCStructure::rebuildIndex(std::size_t slots) {
  index_.assign(slots, 0);
  for (std::size_t i = 0; i < entries_.size(); ++i) indexEntry(i);
}

void QCStructure::addMember(StructureMember member, std::string key) {
  if (const Entry* found = find(key)) {
    entries_[static_cast<std::size_t>(found - entries_.data())].second = std::move(member);
    return;
  }
  entries_.emplace_back(std::move(key), std::move(member));
  if (entries_.size() < kIndexedFrom) return;
  if (2 * entries_.size() > index_.size()) {
    std::size_t slots = 4 * kIndexedFrom;
    while (slots < 2 * entries_.capacity()) slots *= 2;
    rebuildIndex(slots);
  } else {
    indexEntry(entries_.size() - 1);
  }
}

const StructureMember* QCStructure::memberForKey(std::string_view key) const {
  const Entry* found = find(key);
  return found ? &found->second : nullptr;
}

void QCStructure::removeAllMembers() {
  entries_.clear();
  index_.clear();
}

const QCNumber* QCStructure::numberForKey(std::string_view key) const {
  const StructureMember* member = memberForKey(key);
  return member ? std::get_if<QCNumber>(member) : nullptr;
}

const QCStructure* QCStructure::structureForKey(std::string_view key) const {
  const StructureMember* member = memberForKey(key);
  if (!member) return nullptr;
  const auto* nested = std::get_if<std::shared_ptr<QCStructure>>(member);
  return nested ? nested->get() : nullptr;
}

}  // namespace cvcomp
