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

// `text` with each NUL character written as "\0", so that a message can show a path that holds
// one.
inline std::string withNulShown(std::string_view text) {
  std::string shown;
  for (const char c : text) {
    if (c == '\0')
      shown += "\\0";
    else
      shown += c;
  }
  return shown;
}

}  // namespace cvcomp
