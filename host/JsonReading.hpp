#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace cvcomp {

// Reading the JSON documents a host accepts (composition files, edits): each refusal throws
// CompositionError with a message that names where the problem is.

// Parses JSON and refuses text that is not UTF-8 (the message says at which byte),  an object that
// has the same key twice (such as two patches with one id) and values nested too deeply; a syntax
// error gives the parser's message.
nlohmann::ordered_json parseJsonText(std::string_view text);

// Refuses a key of `object` that is not in `allowed`; `where` names the object.
void expectOnly(const nlohmann::ordered_json& object,
                std::initializer_list<std::string_view> allowed, const std::string& where);

// The string at `key`, refused when it is missing or not a string.
std::string stringAt(const nlohmann::ordered_json& object, std::string_view key,
                     const std::string& where);

// The number at `key`, refused when it is missing or not a number.
double numberAt(const nlohmann::ordered_json& object, std::string_view key,
                const std::string& where);

}  // namespace cvcomp
