#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

// Published points are in centred units.
#include "host/CentredUnit.hpp"
#include "host/QCObjectPorts.hpp"
#include "host/QCStructure.hpp"

namespace cvcomp {

// The key of result `index` (from 0) in a numbered structure: the word followed by the index,
// zero-padded to four digits ("Point0000", "Line0012"); from 10000 on the number simply grows.
std::string numberedKey(std::string_view word, std::size_t index);

// A numbered result structure being built: one member per result ("Point0000", "Point0001", …),
// each a structure of its own. This is the one way a patch publishes a structure: each result
// is built whole in a new NumberedStructure and then handed to the port, so that a structure,
// once published, never changes; what a consumer keeps from an earlier frame stays as it was.
class NumberedStructure {
 public:
  // Room for `results` members, so that a structure of known size allocates once.
  explicit NumberedStructure(std::string_view word, std::size_t results = 0);

  // A new, empty member for result `index`, added under its numbered key, for the caller to
  // fill before publishing.
  QCStructure& add(std::size_t index);

  // Sets the structure on `port`; nothing can be added to it afterwards.
  void publishOn(QCStructurePort& port) &&;

 private:
  std::string_view word_;
  std::shared_ptr<QCStructure> structure_ = std::make_shared<QCStructure>();
};

}  // namespace cvcomp
