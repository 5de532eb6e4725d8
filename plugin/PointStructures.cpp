#include "PointStructures.hpp"

#include <algorithm>
#include <charconv>

namespace cvcomp {

std::string numberedKey(std::string_view word, std::size_t index) {
  // std::to_chars rather than a printf format: large structures make a key per member per frame.
  char digits[24];
  const std::size_t length =
      static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, index).ptr - digits);
  constexpr std::size_t kPadded = 4;
  std::string key;
  key.reserve(word.size() + std::max(length, kPadded));
  key += word;
  if (length < kPadded) key.append(kPadded - length, '0');
  key.append(digits, length);
  return key;
}

NumberedStructure::NumberedStructure(std::string_view word, std::size_t results) : word_(word) {
  structure_->reserve(results);
}

QCStructure& NumberedStructure::add(std::size_t index) {
  auto member = std::make_shared<QCStructure>();
  QCStructure& filled = *member;
  structure_->addMember(std::move(member), numberedKey(word_, index));
  return filled;
}

void NumberedStructure::publishOn(QCStructurePort& port) && {
  port.setStructureValue(std::move(structure_));
}

}  // namespace cvcomp
