#include <civetweb.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

#include <nlohmann/json.hpp>

#include "Comparison.hpp"

extern char** environ;

namespace cvcomp::bench {

namespace {

const std::string kComposition = std::string(CVCOMP_SOURCE_DIR) + "/examples/face-detect.json";

int ignoreData(mg_connection*, int, char*, std::size_t, void*) {
  return 1;
}

// The transport's state, after `request` when one is given.
nlohmann::json transport(int port, const std::string& token, const std::string& request = {}) {
  char error[256] = "";
  mg_connection* connection = mg_download(
      "127.0.0.1", port, 0, error, sizeof error,
      "%s /api/transport HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nAuthorization: Bearer %s\r\n"
      "Content-Length: %zu\r\n\r\n%s",
      request.empty() ? "GET" : "POST", port, token.c_str(), request.size(), request.c_str());
  if (!connection) throw std::runtime_error(std::string("studio: ") + error);
  std::string body;
  char chunk[1024];
  for (int got; (got = mg_read(connection, chunk, sizeof chunk)) > 0;) body.append(chunk, got);
  mg_close_connection(connection);
  return nlohmann::json::parse(body);
}

// One whole play of the example by `cvcomp studio` at maximum speed, from its start to the end of
// the clip, in ms; its frames go to `frames`. With `watching`, one client watches the rectangles
// and the overlaid picture at 15 fps meanwhile.
double studioRound(const std::string& program, bool watching, std::size_t& frames) {
  std::vector<std::string> arguments{program, "studio", kComposition, "--no-open", "--port", "0"};
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  int out[2];
  if (pipe(out) != 0) throw std::runtime_error("no pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  const Clock::time_point start = Clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string line;
  for (char c = 0; spawned == 0 && read(out[0], &c, 1) == 1 && c != '\n';) line += c;
  close(out[0]);
  const std::string prefix = "http://127.0.0.1:";
  const std::size_t query = line.find("/?token=");
  if (!line.starts_with(prefix) || query == std::string::npos) {
    throw std::runtime_error("the studio did not start: " + line);
  }
  const int port = std::stoi(line.substr(prefix.size(), query - prefix.size()));
  const std::string token = line.substr(query + 8);
  // As fast as it goes, to the clip's end.
  transport(port, token, R"({"speed": "max", "loop": false})");
  mg_connection* client = nullptr;
  if (watching) {
    char error[256] = "";
    const std::string path = "/api/live?token=" + token;
    const std::string origin = "http://127.0.0.1:" + std::to_string(port);
    client = mg_connect_websocket_client("127.0.0.1", port, 0, error, sizeof error, path.c_str(),
                                         origin.c_str(), ignoreData, nullptr, nullptr);
    const std::string watch =
        R"({"watch": ["faces.outputRects", "overlay.outputImage"], "maxSide": 640, "fps": 15})";
    if (client)
      mg_websocket_client_write(client, MG_WEBSOCKET_OPCODE_TEXT, watch.data(), watch.size());
  }
  nlohmann::json state;
  while (!(state = transport(port, token))["ended"]) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const double ms = millisecondsSince(start);
  if (client) mg_close_connection(client);
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  frames = state["frame"].get<std::size_t>() + 1;
  return ms;
}

// One whole `cvcomp run` of the example, in ms.
double runRound(const std::string& program) {
  const std::string command = "'" + program + "' run '" + kComposition + "' --quiet";
  const Clock::time_point start = Clock::now();
  if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
  return millisecondsSince(start);
}

}  // namespace

Measurement compareStudio(int rounds, const std::string& program, bool watching) {
  Measurement m;
  for (int r = 0; r < rounds; ++r) {
    if (r % 2 == 1) m.compositionRounds.push_back(studioRound(program, watching, m.frames));
    m.handRounds.push_back(runRound(program));
    if (r % 2 == 0) m.compositionRounds.push_back(studioRound(program, watching, m.frames));
  }
  for (double& round : m.compositionRounds) round /= static_cast<double>(m.frames);
  for (double& round : m.handRounds) round /= static_cast<double>(m.frames);
  m.compositionMs = median(m.compositionRounds);
  m.handMs = median(m.handRounds);
  return m;
}

}  // namespace cvcomp::bench
