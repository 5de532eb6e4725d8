#include "QCStructure.hpp"

namespace cvcomp {

void QCStructure::addMember(StructureMember member, std::string key) {
  if (auto found = index_.find(key); found != index_.end()) {
    entries_[found->second].second = std::move(member);
    return;
  }
  index_.emplace(key, entries_.size());
  entries_.emplace_back(std::move(key), std::move(member));
}

const StructureMember* QCStructure::memberForKey(std::string_view key) const {
  auto found = index_.find(key);
  return found == index_.end() ? nullptr : &entries_[found->second].second;
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
