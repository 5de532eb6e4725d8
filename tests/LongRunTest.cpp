// Every example composition over 2000 frames of generated input: after a warm-up, frames
// allocate no image buffer and the resident memory stays put.

#include <climits>

#include "TestSupport.hpp"
#include "detection/OpenCVLoad.hpp"
#include "host/Engine.hpp"
#include "host/patches/HostPatches.hpp"
#include "plugin/OpenCVPlugin.hpp"

namespace cvcomp {
namespace {

constexpr std::uint64_t kWarmUpFrames = 200, kFrames = 2000;
#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer keeps freed memory in quarantine, so the resident size grows with every free.
constexpr long kMaxGrowthKiB = LONG_MAX;
#else
constexpr long kMaxGrowthKiB = 1024;
#endif

class LongRun : public testing::TestWithParam<std::string> {};

TEST_P(LongRun, SteadyFramesAllocateNoBufferAndKeepTheirMemory) {
  QCNodeManager manager;
  registerHostPatches(manager);
  OpenCVPlugin::registerNodesWithManager(manager);
  const auto engine = Engine::fromFile(test::example(GetParam() + ".json"), manager);
  engine->setInput("pattern:160x120");
  ASSERT_EQ(engine->run(kWarmUpFrames).frames, kWarmUpFrames);
  const std::uint64_t allocations = ImageBuffer::allocationCount();
  const long resident = test::residentKiB("self");
  ASSERT_EQ(engine->run(kFrames - kWarmUpFrames).frames, kFrames - kWarmUpFrames);
  const Composition& composition = engine->composition();

  EXPECT_EQ(ImageBuffer::allocationCount() - allocations, 0u);
  EXPECT_LT(test::residentKiB("self") - resident, kMaxGrowthKiB);
  // A cascade is loaded once and stays loaded for the whole run.
  for (const Composition::Patch& entry : composition.patches()) {
    if (const auto* load = dynamic_cast<const OpenCVLoad*>(entry.instance.get())) {
      EXPECT_EQ(composition.executions(entry.id), 1u);
      EXPECT_NE(cascadeValue(load->outputData), nullptr);
    }
  }
  // The composition kept running: its published pictures are still there.
  for (const QCPort* port : composition.published()) {
    EXPECT_TRUE(port->kind() != PortKind::Image ||
                static_cast<const QCImagePort*>(port)->imageValue())
        << composition.pathOf(*port);
  }
}

INSTANTIATE_TEST_SUITE_P(Examples, LongRun,
                         testing::Values("chessboard", "edges-lines", "face-detect", "gray",
                                         "logpolar", "track-features"),
                         [](const testing::TestParamInfo<std::string>& example) {
                           std::string name = example.param;
                           std::erase(name, '-');
                           return name;
                         });

}  // namespace
}  // namespace cvcomp
