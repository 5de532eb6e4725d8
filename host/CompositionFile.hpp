#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "Composition.hpp"
#include "QCNodeManager.hpp"

namespace cvcomp {

// Reads a composition file (JSON):
//   {"patches": {"id": {"class": "Name", "inputs": {"inputPort": value, ...}}, ...},
//    "connections": [{"from": "id.outputPort", "to": "id.inputPort"}, ...],
//    "publish": ["id.port", ...],
//    "layout": {"id": {"x": 120, "y": 40}, ...}}
// Initial values are JSON numbers, booleans and strings for value ports and objects for
// structure ports. The optional layout, where an editor shows the patches, is kept with the
// composition and plays no part in running it. Every patch gets the file as its "compositionURL"
// option, so relative paths resolve next to it. Throws CompositionError with a message that starts
// with the file's name; nothing is created when the file is refused.
std::unique_ptr<Composition> loadCompositionFile(const std::filesystem::path& file,
                                                 const QCNodeManager& manager);

// The same for text already read; `origin` names it in messages and serves as compositionURL.
std::unique_ptr<Composition> loadCompositionText(std::string_view text,
                                                 const std::filesystem::path& origin,
                                                 const QCNodeManager& manager);
// The same with a name for messages and the file its patches resolve paths against, if any.
std::unique_ptr<Composition> loadCompositionText(std::string_view text, const std::string& name,
                                                 const std::optional<std::filesystem::path>& file,
                                                 const QCNodeManager& manager);

// The composition in the file format: its patches with the inputs whose values differ from a new
// patch's, its connections, its published ports and the layout of the patches that have one.
// Loading it gives the same composition.
std::string compositionDocument(const Composition& composition);

// The value a composition file gives as `value` to `port`; `where` names the port in the
// CompositionError that refuses it.
PortValue inputValue(const QCPort& port, const nlohmann::ordered_json& value,
                     const std::string& where);
// An input's value as a composition file gives it, or nothing for a value no file can hold.
std::optional<nlohmann::ordered_json> fileValue(const PortValue& value);

// The value that text given for the input "id.port" (as --set gives it) stands for: the text read
// as JSON when it is JSON (5, true, {"X": 0.5}, "text") and as a string otherwise; a string port
// takes the text itself unless it reads as a JSON string. Read once, where the text comes in.
nlohmann::ordered_json settingValue(const Composition& composition, std::string_view path,
                                    std::string_view text);
// Sets the input "id.port" to the value that text stands for. Throws CompositionError naming the
// port.
void setInputFromText(Composition& composition, std::string_view path, std::string_view text);

}  // namespace cvcomp
