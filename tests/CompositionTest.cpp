#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.hpp"
#include "host/Composition.hpp"
#include "host/QCObjectPorts.hpp"
#include "host/QCValuePorts.hpp"
#include "plugin/OpenCVPlugin.hpp"

namespace cvcomp {
namespace {

std::vector<std::string> executionLog;

// Adds one to its input; logs every execution.
struct Step final : QCPatch {
  QC_PATCH_CLASS(Step)
  using QCPatch::QCPatch;
  bool execute(QCContext&, double, const QCStructure&) override {
    executionLog.push_back(identifier());
    outputValue.setDoubleValue(inputValue.doubleValue() + 1.0);
    return true;
  }
  QC_PORT(QCNumberPort, inputValue);
  QC_PORT(QCIndexPort, inputIndex);
  QC_PORT(QCNumberPort, outputValue);
};

// Refills one structure object in place on every frame and sets it again.
struct Refill final : QCPatch {
  QC_PATCH_CLASS(Refill)
  static constexpr int timeMode = kTimeModeTimeBase;
  using QCPatch::QCPatch;
  bool execute(QCContext&, double, const QCStructure&) override {
    structure->removeAllMembers();
    structure->addMember(QCNumber::withDouble(static_cast<double>(++count)), "N");
    outputStructure.setStructureValue(structure);
    return true;
  }
  QC_PORT(QCStructurePort, outputStructure);
  std::shared_ptr<QCStructure> structure = std::make_shared<QCStructure>();
  int count = 0;
};

struct Reader final : QCPatch {
  QC_PATCH_CLASS(Reader)
  using QCPatch::QCPatch;
  bool execute(QCContext&, double, const QCStructure&) override {
    const auto& structure = inputStructure.structureValue();
    const QCNumber* n = structure ? structure->numberForKey("N") : nullptr;
    outputValue.setDoubleValue(n ? n->value : -1.0);
    return true;
  }
  QC_PORT(QCStructurePort, inputStructure);
  QC_PORT(QCNumberPort, outputValue);
};

struct Lifecycle final : QCPatch {
  QC_PATCH_CLASS(Lifecycle)
  using QCPatch::QCPatch;
  ~Lifecycle() override { executionLog.push_back(identifier() + ":destroy"); }
  void enable(QCContext&) override { executionLog.push_back(identifier() + ":enable"); }
  bool execute(QCContext&, double, const QCStructure&) override { return true; }
  void disable(QCContext&) override { executionLog.push_back(identifier() + ":disable"); }
};

class CompositionTest : public testing::Test {
 protected:
  void SetUp() override {
    executionLog.clear();
    OpenCVPlugin::registerNodesWithManager(manager);
    manager.registerNodeWithClass(PatchClass::of<Step>());
    manager.registerNodeWithClass(PatchClass::of<Refill>());
    manager.registerNodeWithClass(PatchClass::of<Reader>());
    manager.registerNodeWithClass(PatchClass::of<Lifecycle>());
  }
  void frames(Composition& composition, int count) {
    for (int i = 0; i < count; ++i) {
      composition.renderFrame(test::context(), static_cast<std::uint64_t>(frame), frame / 30.0);
      ++frame;
    }
  }
  std::string refusal(Composition& composition, const std::string& from, const std::string& to) {
    try {
      composition.connect(from, to);
    } catch (const CompositionError& error) {
      return error.what();
    }
    return "accepted";
  }
  QCNodeManager manager;
  int frame = 0;
};

TEST_F(CompositionTest, RunsInDependencyOrderAndOnlyWhatChanged) {
  Composition composition(manager);
  composition.addPatch("c", "Step");
  composition.addPatch("b", "Step");
  composition.addPatch("a", "Step");
  composition.connect("a.outputValue", "b.inputValue");
  composition.connect("b.outputValue", "c.inputValue");
  composition.start(test::context());
  frames(composition, 1);
  EXPECT_EQ(executionLog, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(static_cast<QCNumberPort*>(&composition.port("c.outputValue"))->doubleValue(), 3.0);

  // Nothing changed: nothing runs, outputs stay.
  executionLog.clear();
  frames(composition, 3);
  EXPECT_TRUE(executionLog.empty());
  EXPECT_EQ(composition.executions("a"), 1u);

  // A new value upstream runs what depends on it, and only that.
  static_cast<QCIndexPort&>(composition.port("b.inputIndex")).setIndexValue(4);
  frames(composition, 1);
  EXPECT_EQ(executionLog, (std::vector<std::string>{"b", "c"}));
}

TEST_F(CompositionTest, AnInPlaceRefilledStructureReachesDownstreamEveryFrame) {
  Composition composition(manager);
  composition.addPatch("reader", "Reader");
  composition.addPatch("refill", "Refill");
  composition.connect("refill.outputStructure", "reader.inputStructure");
  composition.start(test::context());
  auto& seen = static_cast<QCNumberPort&>(composition.port("reader.outputValue"));
  for (int expected = 1; expected <= 4; ++expected) {
    frames(composition, 1);
    EXPECT_EQ(seen.doubleValue(), expected);
  }
  EXPECT_EQ(composition.executions("reader"), 4u);
}

TEST_F(CompositionTest, RefusesWhatCannotBeConnected) {
  Composition composition(manager);
  composition.addPatch("a", "Step");
  composition.addPatch("b", "Step");
  composition.addPatch("toCV", "QCImageToOpenCVImage");
  composition.addPatch("gray", "OpenCVBGR2Gray");
  composition.addPatch("reader", "Reader");

  EXPECT_EQ(refusal(composition, "a.outputValue", "b.inputIndex"), "accepted");
  EXPECT_EQ(refusal(composition, "toCV.outputImage", "gray.inputImage"), "accepted");
  EXPECT_EQ(refusal(composition, "a.outputValue", "b.inputIndex"),
            "\"b.inputIndex\" already has a connection, from \"a.outputValue\"");
  EXPECT_EQ(refusal(composition, "b.outputValue", "a.inputValue"),
            "connecting \"b.outputValue\" to \"a.inputValue\" would make a cycle");
  EXPECT_EQ(refusal(composition, "a.outputValue", "a.inputValue"),
            "connecting \"a.outputValue\" to \"a.inputValue\" would make a cycle");
  EXPECT_EQ(refusal(composition, "gray.outputImage", "reader.inputStructure"),
            "cannot connect \"gray.outputImage\" (object) to \"reader.inputStructure\" "
            "(structure): incompatible ports");
  EXPECT_EQ(refusal(composition, "a.outputValue", "toCV.inputImage"),
            "cannot connect \"a.outputValue\" (number) to \"toCV.inputImage\" (image): "
            "incompatible ports");
  EXPECT_EQ(refusal(composition, "a.inputValue", "b.inputValue"),
            "\"a.inputValue\" is an input, not an output");
  EXPECT_EQ(refusal(composition, "a.outputValue", "b.outputValue"),
            "\"b.outputValue\" is an output, not an input");
  EXPECT_EQ(refusal(composition, "x.outputValue", "b.inputValue"),
            "unknown patch \"x\" in \"x.outputValue\"");
  EXPECT_EQ(refusal(composition, "a.outputNothing", "b.inputValue"),
            "patch \"a\" (Step) has no port \"outputNothing\"");
  EXPECT_THROW(composition.addPatch("a", "Step"), CompositionError);
  EXPECT_THROW(composition.addPatch("z", "NoSuchClass"), CompositionError);
}

TEST_F(CompositionTest, DisconnectingGivesTheInputItsValueBack) {
  Composition composition(manager);
  composition.addPatch("a", "Step");
  composition.addPatch("b", "Step");
  auto& input = static_cast<QCNumberPort&>(composition.port("b.inputValue"));
  input.setDoubleValue(7.5);
  composition.connect("a.outputValue", "b.inputValue");
  composition.start(test::context());
  frames(composition, 1);
  EXPECT_EQ(input.doubleValue(), 1.0);
  composition.disconnect("b.inputValue");
  EXPECT_EQ(input.doubleValue(), 7.5);
  EXPECT_TRUE(composition.connections().empty());
}

TEST_F(CompositionTest, EnablesBeforeTheFirstFrameAndDisablesThenDestroys) {
  {
    Composition composition(manager);
    composition.addPatch("one", "Lifecycle");
    composition.addPatch("two", "Lifecycle");
    composition.start(test::context());
    frames(composition, 2);
    composition.stop(test::context());
  }
  EXPECT_EQ(executionLog, (std::vector<std::string>{"one:enable", "two:enable", "one:disable",
                                                    "two:disable", "two:destroy", "one:destroy"}));
}

}  // namespace
}  // namespace cvcomp
