// Remembered cascade verdicts: a file is read in this process without a probe only while it
// holds exactly what the probe found loads.

#include <stdlib.h>

#include <gtest/gtest.h>

#include "TestSupport.hpp"
#include "detection/CascadeVerdicts.hpp"
#include "detection/OpenCVLoad.hpp"

namespace cvcomp {
namespace {

namespace fs = std::filesystem;

// Each test keeps its verdicts in a cache folder of its own.
class CascadeVerdicts : public testing::Test {
 protected:
  void SetUp() override { setenv("XDG_CACHE_HOME", cache.path().c_str(), 1); }
  void TearDown() override { unsetenv("XDG_CACHE_HOME"); }
  std::size_t entries() const {
    const fs::path folder = cache / "cvcomp" / "cascades";
    if (!fs::exists(folder)) return 0;
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), {}));
  }
  const test::TempFolder cache;
  const test::TempFolder files;
};

TEST_F(CascadeVerdicts, AChangedFileIsProbedAgainAndOnlyLoadsAreKept) {
  const std::string face = test::contents(test::frontalFace());
  // OpenCV's reader dereferences null on this one.
  const std::string crash = "<?xml n =";
  const fs::path file = files / "cascade.xml";
  const std::string crashed =
      "OpenCVLoad: " + file.string() + ": OpenCV's cascade reader crashes on this file\n";
  for (const bool loads : {false, true, false, true, true}) {
    const std::string& content = loads ? face : crash;
    files.write("cascade.xml", content);
    OpenCVLoad load("load");
    load.inputPath.setStringValue(file.string());
    EXPECT_EQ(test::stderrOf([&] { test::execute(load); }), loads ? "" : crashed);
    EXPECT_EQ(cascadeValue(load.outputData) != nullptr, loads);
    EXPECT_EQ(knownToLoad(file, content), loads);
  }
  EXPECT_EQ(entries(), 1u);
}

TEST_F(CascadeVerdicts, EntriesOfFilesGoneAreDroppedOnceTheyPileUp) {
  for (int n = 0; n < 80; ++n)
    rememberLoads(files.write("gone" + std::to_string(n) + ".xml", "<x/>"), "<x/>");
  EXPECT_EQ(entries(), 80u);
  for (int n = 0; n < 80; ++n) fs::remove(files / ("gone" + std::to_string(n) + ".xml"));
  const fs::path kept = files.write("kept.xml", "<x/>");
  rememberLoads(kept, "<x/>");
  EXPECT_EQ(entries(), 1u);
  EXPECT_TRUE(knownToLoad(kept, "<x/>"));
}

}  // namespace
}  // namespace cvcomp
