#include "QCStructure.hpp"

namespace cvcomp {

const QCStructure::Entry* QCStructure::find(std::string_view key) const {
  if (entries_.size() < kIndexedFrom) {
    for (const Entry& entry : entries_) {
      if (entry.first == key) return &entry;
    }
    return nullptr;
  }
  auto found = index_.find(key);
  return found == index_.end() ? nullptr : &entries_[found->second];
}

void QCStructure::addMember(StructureMember member, std::string key) {
  if (const Entry* found = find(key)) {
    entries_[static_cast<std::size_t>(found - entries_.data())].second = std::move(member);
    return;
  }
  entries_.emplace_back(std::move(key), std::move(member));
  if (entries_.size() == kIndexedFrom) {
    for (std::size_t i = 0; i < entries_.size(); ++i) index_.emplace(entries_[i].first, i);
  } else if (entries_.size() > kIndexedFrom) {
    index_.emplace(entries_.back().first, entries_.size() - 1);
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
