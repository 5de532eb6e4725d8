#pragma once

#include <string>
#include <string_view>

namespace cvcomp {

// `text` in double quotes, as messages name patches, ports and classes.
inline std::string inQuotes(std::string_view text) {
  // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) about the operator+ chain.
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted += '"';
  quoted += text;
  quoted += '"';
  return quoted;
}

}  // namespace cvcomp
