#pragma once
// A `cvcomp studio` run in the background for the tests, and the HTTP clients they drive it with.

#include <arpa/inet.h>
#include <civetweb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <thread>

#include "TestSupport.hpp"

namespace cvcomp::test {

using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;

struct Response {
  int status = 0;
  std::string body;
  Json json() const { return Json::parse(body); }
};

// A TCP connection to the studio that sends what it is given, as a careless or hostile client.
class RawConnection {
 public:
  explicit RawConnection(int port) : socket_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const timeval limit{10, 0};
    ::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;
  ~RawConnection() { ::close(socket_); }

  void send(const std::string& text) const {
    EXPECT_EQ(::send(socket_, text.data(), text.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(text.size()));
  }
  // All the server sends until it closes the connection (or 10 s pass).
  std::string answer() {
    std::string text;
    char chunk[4096];
    ssize_t got = 0;
    while ((got = ::recv(socket_, chunk, sizeof chunk, 0)) > 0) {
      text.append(chunk, static_cast<std::size_t>(got));
    }
    closed_ = got == 0;
    return text;
  }
  // Whether the server closed the connection while answer() waited.
  bool closed() const { return closed_; }

 private:
  int socket_;
  bool closed_ = false;
};

// The header lines of an HTTP answer whose name starts with `prefix` (case-insensitively).
inline std::vector<std::string> headerLines(const std::string& answer, const std::string& prefix) {
  std::vector<std::string> lines;
  std::istringstream in(answer.substr(0, answer.find("\r\n\r\n")));
  for (std::string line; std::getline(in, line);) {
    if (line.size() >= prefix.size() &&
        std::equal(prefix.begin(), prefix.end(), line.begin(),
                   [](char a, char b) { return std::tolower(a) == std::tolower(b); })) {
      lines.push_back(line.substr(0, line.find('\r')));
    }
  }
  return lines;
}

inline std::vector<std::string> studioCommand(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), {CVCOMP_PROGRAM, "studio", "--no-open", "--port", "0"});
  return arguments;
}

// `cvcomp studio ARGUMENTS --no-open --port 0`, with the port and token it prints.
class Studio : public test::BackgroundProgram {
 public:
  explicit Studio(std::vector<std::string> arguments)
      : BackgroundProgram(studioCommand(std::move(arguments)), true) {
    char printed[65] = "";
    std::sscanf(firstLine.c_str(), "http://127.0.0.1:%d/?token=%64s", &port, printed);
    token = printed;
    EXPECT_NE(port, 0) << "printed: " << firstLine;
  }

  std::string host() const { return "127.0.0.1:" + std::to_string(port); }
  std::string origin() const { return "http://" + host(); }

  Response request(const std::string& method, const std::string& path, const std::string& body = {},
                   const std::string& headers = {}) const {
    return raw(method, path, body,
               "Host: " + host() + "\r\nAuthorization: Bearer " + token + "\r\n" + headers);
  }
  Response raw(const std::string& method, const std::string& path, const std::string& body,
               const std::string& headers) const {
    char error[256] = "";
    mg_connection* connection =
        mg_download("127.0.0.1", port, 0, error, sizeof error,
                    "%s %s HTTP/1.1\r\n%sContent-Length: %zu\r\n\r\n%s", method.c_str(),
                    path.c_str(), headers.c_str(), body.size(), body.c_str());
    if (!connection) return {0, error};
    Response response{mg_get_response_info(connection)->status_code, {}};
    char chunk[4096];
    for (int got; (got = mg_read(connection, chunk, sizeof chunk)) > 0;) {
      response.body.append(chunk, static_cast<std::size_t>(got));
    }
    mg_close_connection(connection);
    return response;
  }
  Json post(const std::string& path, const std::string& body) const {
    const Response response = request("POST", path, body);
    EXPECT_EQ(response.status, 200) << response.body;
    return response.json();
  }
  // The transport's state, after `action` (play, pause or step) when one is given.
  Json transport(const std::string& action = {}) const {
    if (action.empty()) return request("GET", "/api/transport").json();
    return post("/api/transport", R"({"action":")" + action + "\"}");
  }
  std::string document() const { return request("GET", "/api/composition").body; }
  // Waits up to 60 s for the transport's state to be `done`.
  void await(const std::function<bool(const Json&)>& done) const {
    for (const Clock::time_point end = Clock::now() + std::chrono::seconds(60);
         Clock::now() < end && !done(transport());) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  int port = 0;
  std::string token;
};

}  // namespace cvcomp::test
