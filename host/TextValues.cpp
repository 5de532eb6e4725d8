#include "TextValues.hpp"

#include <charconv>

namespace cvcomp {

std::optional<std::uint64_t> wholeNumber(std::string_view text) {
  std::uint64_t number = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, number);
  if (text.empty() || text.front() < '0' || text.front() > '9' || error != std::errc() ||
      stop != end) {
    return std::nullopt;
  }
  return number;
}

std::optional<PortSetting> portSetting(std::string_view entry) {
  const std::size_t equals = entry.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  std::string_view path = entry.substr(0, equals);
  const auto first = path.find_first_not_of(" \t\n");
  path = first == std::string_view::npos
             ? std::string_view()
             : path.substr(first, path.find_last_not_of(" \t\n") - first + 1);
  return PortSetting{std::string(path), std::string(entry.substr(equals + 1))};
}

bool isUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) {
      ++at;
      continue;
    }
    // The length of the sequence and the range its second byte must lie in (which rules out
    // overlong forms, surrogates and code points past U+10FFFF).
    std::size_t length = 0;
    unsigned char least = 0x80, most = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
      length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
      length = 3;
      if (lead == 0xe0) least = 0xa0;
      if (lead == 0xed) most = 0x9f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
      length = 4;
      if (lead == 0xf0) least = 0x90;
      if (lead == 0xf4) most = 0x8f;
    } else {
      return false;
    }
    if (text.size() - at < length) return false;
    for (std::size_t n = 1; n < length; ++n) {
      const auto next = static_cast<unsigned char>(text[at + n]);
      if (next < (n == 1 ? least : 0x80) || next > (n == 1 ? most : 0xbf)) return false;
    }
    at += length;
  }
  return true;
}

std::filesystem::path resolvedPath(const std::string& text, const std::filesystem::path& base) {
  const std::filesystem::path path(text);
  return path.is_absolute() ? path : base / path;
}

}  // namespace cvcomp
