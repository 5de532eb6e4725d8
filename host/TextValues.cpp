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

std::optional<std::size_t> invalidUtf8At(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 1;
    unsigned char low = 0x80;   // the range of the second byte, narrowed for the lead bytes
    unsigned char high = 0xbf;  // that would otherwise allow overlongs or surrogates
    if (lead < 0x80) {
      ++at;
      continue;
    } else if (lead >= 0xc2 && lead <= 0xdf) {
      length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
      length = 3;
      if (lead == 0xe0) low = 0xa0;
      if (lead == 0xed) high = 0x9f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
      length = 4;
      if (lead == 0xf0) low = 0x90;
      if (lead == 0xf4) high = 0x8f;
    } else {
      return at;
    }
    if (at + length > text.size()) return at;
    for (std::size_t i = 1; i < length; ++i) {
      const auto next = static_cast<unsigned char>(text[at + i]);
      if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xbf)) return at;
    }
    at += length;
  }
  return std::nullopt;
}

bool isUtf8(std::string_view text) {
  return !invalidUtf8At(text);
}

std::filesystem::path resolvedPath(const std::string& text, const std::filesystem::path& base) {
  const std::filesystem::path path(text);
  return path.is_absolute() ? path : base / path;
}

}  // namespace cvcomp
