#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace cvcomp {

// A message as compact JSON text. Bytes that are not UTF-8 (a path or a patch's error may hold
// them) are written as U+FFFD instead of failing, so that no answer, least of all an error's,
// can throw.
inline std::string jsonText(const nlohmann::ordered_json& message) {
  return message.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace cvcomp
