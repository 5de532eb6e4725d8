#include "AccessRules.hpp"

#include <algorithm>
#include <cctype>
#include <random>

namespace cvcomp {

namespace {

bool sameInConstantTime(std::string_view given, std::string_view expected) {
  unsigned char difference = given.size() == expected.size() ? 0 : 1;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    difference |= static_cast<unsigned char>(expected[i] ^ (i < given.size() ? given[i] : 0));
  }
  return difference == 0;
}

bool holds(const std::vector<std::string>& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

AccessRules::AccessRules(std::string token, const std::string& hostName, int port)
    : token_(std::move(token)) {
  names_ = {"127.0.0.1", "localhost", "[::1]"};
  const std::string named =
      hostName.find(':') != std::string::npos ? "[" + hostName + "]" : hostName;
  if (!holds(names_, named)) names_.push_back(named);
  for (const std::string& name : names_) hosts_.push_back(name + ":" + std::to_string(port));
}

std::string AccessRules::randomToken() {
  std::random_device device;
  std::uniform_int_distribution<int> digit(0, 15);
  std::string token;
  for (int i = 0; i < 32; ++i) token += "0123456789abcdef"[digit(device)];
  return token;
}

bool AccessRules::hostAllowed(std::string_view host) const {
  return holds(hosts_, host) || holds(names_, host);
}

bool AccessRules::originAllowed(std::optional<std::string_view> origin) const {
  if (!origin) return true;
  return origin->starts_with("http://") && holds(hosts_, origin->substr(7));
}

bool AccessRules::tokenAllowed(std::optional<std::string_view> authorization,
                               std::optional<std::string_view> queryToken) const {
  // The scheme's name is case-insensitive, as every HTTP authentication scheme's.
  constexpr std::string_view kBearer = "bearer ";
  if (authorization && authorization->size() >= kBearer.size() &&
      std::equal(kBearer.begin(), kBearer.end(), authorization->begin(),
                 [](char expected, char given) {
                   return std::tolower(static_cast<unsigned char>(given)) == expected;
                 })) {
    return sameInConstantTime(authorization->substr(kBearer.size()), token_);
  }
  return queryToken && sameInConstantTime(*queryToken, token_);
}

}  // namespace cvcomp
