#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cvcomp {

// Who may use the studio's server. A request must name the server in its Host header, as one of
// the names it answers to, with or without its port, so that a page of another site whose name
// was made to point here (DNS rebinding) is refused. A browser's request that changes something,
// and every WebSocket, must come from a page of the server itself (its Origin header), so that
// other pages cannot drive it. The API needs the access token, as "Authorization: Bearer TOKEN"
// or the query parameter "token".
class AccessRules {
 public:
  // `hostName` is the address given to listen on (127.0.0.1, localhost, ::1, a host name).
  AccessRules(std::string token, const std::string& hostName, int port);

  // A new random token of 32 hexadecimal digits.
  static std::string randomToken();

  bool hostAllowed(std::string_view host) const;
  // A missing Origin (a program, not a browser page) is allowed.
  bool originAllowed(std::optional<std::string_view> origin) const;
  // Compares in time that does not depend on where the texts differ.
  bool tokenAllowed(std::optional<std::string_view> authorization,
                    std::optional<std::string_view> queryToken) const;

 private:
  std::string token_;
  std::vector<std::string> hosts_;  // name:port
  std::vector<std::string> names_;  // without the port
};

}  // namespace cvcomp
