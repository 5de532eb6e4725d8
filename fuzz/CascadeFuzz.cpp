// Feeds arbitrary bytes to the cascade loader as the file it reads: a file that holds no usable
// cascade must give a box holding null, never a crash or a hang.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "detection/OpenCVLoad.hpp"
#include "host/QCStructure.hpp"

namespace {

const std::filesystem::path& cascadeFile() {
  static const std::filesystem::path file =
      std::filesystem::temp_directory_path() /
      ("cvcomp-cascade-fuzz-" + std::to_string(getpid()) + ".xml");
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    std::ofstream out(cascadeFile(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  cvcomp::OpenCVLoad load("load");
  load.inputPath.setStringValue(cascadeFile().string());
  cvcomp::QCContext context;
  load.execute(context, 0.0, cvcomp::QCStructure());
  const auto box = load.outputData.cvObjectValue();
  if (!box) std::abort();  // a path was given: the output is a box, holding null or a cascade
  const cv::CascadeClassifier* cascade = cvcomp::cascadeValue(load.outputData);
  if (cascade && cascade->empty()) std::abort();  // an empty cascade is published as null
  return 0;
}
