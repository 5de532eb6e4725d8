// cvcomp_cascade_probe FILE SECONDS: reads a cascade file with OpenCV's reader, which some damaged
// files crash or keep busy for ever, in a process of its own. Exit status 0 when it holds a
// usable cascade, 1 when not; a crash ends it by its signal, the time limit by SIGALRM.

#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include <opencv2/objdetect.hpp>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  // A fault ends the probe by its signal even where a sanitizer would catch it and exit.
  for (const int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) std::signal(signal, SIG_DFL);
  alarm(static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)));
  int status = 1;
  try {
    cv::CascadeClassifier cascade;
    if (cascade.load(argv[1]) && !cascade.empty()) status = 0;
  } catch (...) {
    // Refused by OpenCV: the file holds no usable cascade.
  }
  // At once: the answer is all that counts, not what a leak checker would make of OpenCV's exit.
  _exit(status);
}
