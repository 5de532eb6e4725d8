#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace cvcomp {

class QCStructure;

// A number member remembers whether it was made in single or double precision, so that it can be
// written back in the shortest form that reads back to the same value.
struct QCNumber {
  double value = 0.0;
  bool single = false;

  static QCNumber withFloat(float v) { return {static_cast<double>(v), true}; }
  static QCNumber withDouble(double v) { return {v, false}; }
  friend bool operator==(const QCNumber&, const QCNumber&) = default;
};

using StructureMember = std::variant<QCNumber, bool, std::string, std::shared_ptr<QCStructure>>;

// Members under string keys, kept in insertion order. Adding a member under a key that is already
// present replaces its value in place.
class QCStructure {
 public:
  using Entry = std::pair<std::string, StructureMember>;

  void addMember(StructureMember member, std::string key);
  const StructureMember* memberForKey(std::string_view key) const;
  std::size_t count() const { return entries_.size(); }
  // Room for `members` members, so that filling a structure of known size allocates once.
  void reserve(std::size_t members) { entries_.reserve(members); }
  void removeAllMembers();

  const std::vector<Entry>& members() const { return entries_; }

  // The member under `key` when it is a number (or a structure), nullptr otherwise.
  const QCNumber* numberForKey(std::string_view key) const;
  const QCStructure* structureForKey(std::string_view key) const;

 private:
  // Small structures (a point's few coordinates) are searched in order, which costs less than
  // keeping a hash index; from this many members on, the index serves every search.
  static constexpr std::size_t kIndexedFrom = 16;
  const Entry* find(std::string_view key) const;

  // The index is an open-addressing table of entry positions plus one (0 marks a free slot),
  // at most half full, so that building a large structure allocates only a few times and copies
  // no key. Positions fit in 32 bits: four billion members would not fit in memory.
  void indexEntry(std::size_t position);
  void rebuildIndex(std::size_t slots);

  std::vector<Entry> entries_;
  std::vector<std::uint32_t> index_;
};

}  // namespace cvcomp
