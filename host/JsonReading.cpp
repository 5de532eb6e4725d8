#include "JsonReading.hpp"

#include <algorithm>
#include <set>
#include <vector>

#include "Composition.hpp"
#include "Quoted.hpp"
#include "TextValues.hpp"

namespace cvcomp {

namespace {

using Json = nlohmann::ordered_json;

// Deeper nesting than any composition needs; refusing it keeps the recursive reading of
// structures and messages within the stack.
constexpr int kMaxNesting = 64;

// nlohmann's messages start with an internal tag such as "[json.exception.parse_error.101] ".
std::string withoutTag(const std::string& message) {
  const std::size_t end = message.find("] ");
  return message.starts_with("[json.") && end != std::string::npos ? message.substr(end + 2)
                                                                   : message;
}

}  // namespace

Json parseJsonText(std::string_view text) {
  // Refused before parsing, so that no message quotes the bytes that are not text.
  if (const std::optional<std::size_t> at = invalidUtf8At(text)) {
    throw CompositionError("invalid JSON: byte " + std::to_string(*at + 1) + " is not UTF-8");
  }
  std::vector<std::set<std::string>> keysPerObject;
  std::string duplicate;
  Json::parser_callback_t callback = [&](int depth, Json::parse_event_t event, Json& parsed) {
    switch (event) {
      case Json::parse_event_t::object_start:
      case Json::parse_event_t::array_start:
        if (depth >= kMaxNesting) {
          throw CompositionError("values are nested more than " + std::to_string(kMaxNesting) +
                                 " levels deep");
        }
        if (event == Json::parse_event_t::object_start) keysPerObject.emplace_back();
        break;
      case Json::parse_event_t::object_end:
        keysPerObject.pop_back();
        break;
      case Json::parse_event_t::key:
        if (!keysPerObject.back().insert(parsed.get<std::string>()).second && duplicate.empty()) {
          duplicate = parsed.get<std::string>();
        }
        break;
      default:
        break;
    }
    return true;
  };
  Json document;
  try {
    document = Json::parse(text.begin(), text.end(), callback);
  } catch (const Json::exception& error) {
    throw CompositionError("invalid JSON: " + withoutTag(error.what()));
  }
  if (!duplicate.empty())
    throw CompositionError("the key " + inQuotes(duplicate) + " appears twice");
  return document;
}

void expectOnly(const Json& object, std::initializer_list<std::string_view> allowed,
                const std::string& where) {
  for (const auto& [key, value] : object.items()) {
    if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
      throw CompositionError(where + ": unknown key " + inQuotes(key));
    }
  }
}

std::string stringAt(const Json& object, std::string_view key, const std::string& where) {
  const auto found = object.find(key);
  if (found == object.end()) throw CompositionError(where + ": " + inQuotes(key) + " is missing");
  if (!found->is_string())
    throw CompositionError(where + ": " + inQuotes(key) + " must be a string");
  return found->get<std::string>();
}

double numberAt(const Json& object, std::string_view key, const std::string& where) {
  const auto found = object.find(key);
  if (found == object.end()) throw CompositionError(where + ": " + inQuotes(key) + " is missing");
  if (!found->is_number())
    throw CompositionError(where + ": " + inQuotes(key) + " must be a number");
  return found->get<double>();
}

}  // namespace cvcomp
