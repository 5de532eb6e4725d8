// cvcomp: runs vision compositions over video, camera or picture frames.

#include <algorithm>
#include <cctype>
#include <csignal>
#include <iostream>
#include <optional>

#include <CLI/CLI.hpp>

#include "Commands.hpp"
#include "OpenCVLog.hpp"
#include "host/Log.hpp"
#include "host/NodeSetup.hpp"
#include "host/TextValues.hpp"

namespace {

// A whole-number option's value from `least` up; a message on standard error and nothing for
// any other text.
std::optional<std::uint64_t> numberOption(const char* option, const std::string& text,
                                          std::uint64_t least) {
  const std::optional<std::uint64_t> number = cvcomp::wholeNumber(text);
  if (number >= least) return number;
  std::cerr << "cvcomp: " << option << ": a whole number from " << least
            << " to 18446744073709551615 is required, not \"" << text << "\"\n";
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace cvcomp;
  CLI::App app{"cvcomp: real-time computer-vision compositions over video, camera or pictures"};
  app.require_subcommand(1);

  RunOptions run;
  std::optional<std::string> frames;
  bool verbose = false;
  CLI::App* runApp = app.add_subcommand("run", "Run a composition frame by frame");
  runApp->add_option("composition", run.composition, "Composition file (JSON)")->required();
  runApp->add_option("--input", run.input,
                     "Frames to use instead of the ImageSource's own: a video, a picture, a "
                     "folder of pictures, camera:N or pattern:WxH; @LIST: the line of the "
                     "file LIST that --index picks");
  std::optional<std::string> index;
  runApp->add_option("--index", index,
                     "With --input @LIST: the line of LIST to run, counted from 0");
  runApp->add_option("--frames", frames, "Stop after this many frames (a positive whole number)");
  runApp->add_option("--set", run.settings, "Set an input before the run: ID.PORT=VALUE");
  runApp->add_option("--json", run.json,
                     "Write one JSON line per frame to FILE, - for stdout; {stem} and {index} in "
                     "the name stand for the input's name and the --index");
  runApp->add_option("--video", run.video,
                     "Write the published image to a video file, or numbered pictures when "
                     "the name holds %d; {stem} and {index} as for --json");
  runApp->add_flag("--quiet,-q", run.quiet, "No progress on the terminal");
  const char* verboseHelp =
      "Also show information notes, and OpenCV's and FFmpeg's own warnings and errors";
  runApp->add_flag("--verbose,-v", verbose, verboseHelp);

  std::string checked;
  CLI::App* checkApp = app.add_subcommand("check", "Validate a composition without running it");
  checkApp->add_option("composition", checked, "Composition file (JSON)")->required();
  checkApp->add_flag("--verbose,-v", verbose, verboseHelp);

  bool patchesJson = false;
  CLI::App* patchesApp = app.add_subcommand("patches", "List every patch class and its ports");
  patchesApp->add_flag("--json", patchesJson, "As JSON");

  StudioCommandOptions studio;
  CLI::App* studioApp =
      app.add_subcommand("studio", "Serve a running composition to a browser and to scripts");
  studioApp->add_option("composition", studio.composition, "Composition file (JSON)");
  studioApp->add_option("--input", studio.input, "Frames to use instead of the ImageSource's own");
  studioApp->add_option("--port", studio.port, "Port to listen on, 0 for any free one")
      ->check(CLI::Range(0, 65535));
  studioApp->add_option("--host", studio.host, "Address to listen on (127.0.0.1)");
  // Kept across restarts, an open page reconnects by itself; in the environment it stays out
  // of the process list.
  studioApp
      ->add_option("--token", studio.token,
                   "Access token to keep across restarts, 16 to 128 letters, digits, - or _ "
                   "(default: a fresh random one; better given as CVCOMP_STUDIO_TOKEN)")
      ->envname("CVCOMP_STUDIO_TOKEN")
      ->check(CLI::Validator(
          [](const std::string& token) {
            const bool fits = token.size() >= 16 && token.size() <= 128 &&
                              std::all_of(token.begin(), token.end(), [](unsigned char c) {
                                return std::isalnum(c) || c == '-' || c == '_';
                              });
            return fits ? std::string()
                        : std::string("16 to 128 letters, digits, - or _ are needed");
          },
          "TOKEN"));
  studioApp->add_flag("--no-open", studio.noOpen, "Do not open a browser");
  studioApp->add_flag("--verbose,-v", verbose, verboseHelp);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return status == 0 ? kExitOk : kExitUsageError;
  }

  if (frames && !(run.frames = numberOption("--frames", *frames, 1))) {
    return kExitUsageError;
  }
  if (index && !(run.index = numberOption("--index", *index, 0))) {
    return kExitUsageError;
  }

  // A write to a closed pipe or beyond the file-size limit then fails with an error that names
  // the file, and the outputs are closed properly, instead of the signal ending the process.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  setOpenCVVerbosity(verbose);
  setLogSink(streamLogSink(std::cerr, verbose));
  QCNodeManager manager;
  try {
    registerAllNodes(manager);
  } catch (const std::exception& error) {
    std::cerr << "cvcomp: " << error.what() << "\n";
    return kExitInputError;
  }
  if (*runApp) return runCommand(run, manager);
  if (*checkApp) return checkCommand(checked, manager);
  if (*studioApp) return studioCommand(studio, manager);
  return patchesCommand(patchesJson, manager);
}
