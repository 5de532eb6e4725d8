#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Published points are in centred units.
#include "host/CentredUnit.hpp"

namespace cvcomp {

// The key of result `index` (from 0) in a numbered structure: the word followed by the index,
// zero-padded to four digits ("Point0000", "Line0012"); from 10000 on the number simply grows.
std::string numberedKey(std::string_view word, std::size_t index);

}  // namespace cvcomp
