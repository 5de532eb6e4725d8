#pragma once

// Values that people write as text on a command line or in a property: whole numbers, settings
// "ID.PORT=VALUE", paths relative to a folder, and the check that text is UTF-8.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace cvcomp {

// A whole number from 0 to 2^64 - 1 in decimal digits; nullopt for anything else (a sign,
// empty, out of range, not a number).
std::optional<std::uint64_t> wholeNumber(std::string_view text);

// One setting "ID.PORT=VALUE": the port's path, without the blanks around it, and the value's
// text as written.
struct PortSetting {
  std::string path;
  std::string value;
};
// The setting `entry` writes; nullopt when it holds no "=".
std::optional<PortSetting> portSetting(std::string_view entry);

// Where `text` stops being well-formed UTF-8 (an overlong form, a surrogate, a code point past
// U+10FFFF or a cut sequence), or nothing when all of it is; JSON requires it of every string.
std::optional<std::size_t> invalidUtf8At(std::string_view text);
bool isUtf8(std::string_view text);

// `text` as a path: as it is when absolute, else from `base`.
std::filesystem::path resolvedPath(const std::string& text, const std::filesystem::path& base);

}  // namespace cvcomp
