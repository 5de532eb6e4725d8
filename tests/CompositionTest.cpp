

#include "TestSupport.hpp"
#include "host/Composition.hpp"
#include "plugin/OpenCVPlugin.hpp"

namespace cvcomp {
namespace {

std::vector<std::string> executionLog;

// Adds one to its input; logs its lifecycle and every execution.
struct Step final : QCPatch {
  QC_PATCH_CLASS(Step)
  using QCPatch::QCPatch;
  ~Step() override { executionLog.push_back(identifier() + ":destroy"); }
  void enable(QCContext&) override { executionLog.push_back(identifier() + ":enable"); }
  void disable(QCContext&) override { executionLog.push_back(identifier() + ":disable"); }
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

class CompositionTest : public testing::Test {
 protected:
  void SetUp() override {
    executionLog.clear();
    OpenCVPlugin::registerNodesWithManager(manager);
    manager.registerNodeWithClass(PatchClass::of<Step>());
    manager.registerNodeWithClass(PatchClass::of<Refill>());
    manager.registerNodeWithClass(PatchClass::of<Reader>());
  }
  void frames(int count) {
    for (int i = 0; i < count; ++i, ++frame) {
      composition.renderFrame(test::context(), static_cast<std::uint64_t>(frame), frame / 30.0);
    }
  }
  double number(const std::string& path) {
    return static_cast<QCNumberPort&>(composition.port(path)).doubleValue();
  }
  QCNodeManager manager;
  Composition composition{manager};
  int frame = 0;
};

TEST_F(CompositionTest, RunsInDependencyOrderAndOnlyWhatChanged) {
  for (const char* id : {"c", "b", "a"}) composition.addPatch(id, "Step");
  static_cast<QCNumberPort&>(composition.port("c.inputValue")).setDoubleValue(7.5);
  composition.connect("a.outputValue", "b.inputValue");
  composition.connect("b.outputValue", "c.inputValue");
  composition.start(test::context());
  executionLog.clear();
  frames(1);
  EXPECT_EQ(executionLog, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(number("c.outputValue"), 3.0);

  // Nothing changed: nothing runs, outputs stay.
  executionLog.clear();
  frames(3);
  EXPECT_TRUE(executionLog.empty());
  EXPECT_EQ(composition.executions("a"), 1u);

  // A new value upstream runs what depends on it, and only that.
  static_cast<QCIndexPort&>(composition.port("b.inputIndex")).setIndexValue(4);
  frames(1);
  EXPECT_EQ(executionLog, (std::vector<std::string>{"b", "c"}));

  // Disconnecting gives the input its own value back.
  EXPECT_EQ(number("c.inputValue"), 2.0);
  composition.disconnect("c.inputValue");
  EXPECT_EQ(number("c.inputValue"), 7.5);
  EXPECT_EQ(composition.connections().size(), 1u);
}

TEST_F(CompositionTest, AnInPlaceRefilledStructureReachesDownstreamEveryFrame) {
  composition.addPatch("reader", "Reader");
  composition.addPatch("refill", "Refill");
  composition.connect("refill.outputStructure", "reader.inputStructure");
  composition.start(test::context());
  for (int expected = 1; expected <= 4; ++expected) {
    frames(1);
    EXPECT_EQ(number("reader.outputValue"), expected);
  }
  EXPECT_EQ(composition.executions("reader"), 4u);
}

TEST_F(CompositionTest, RefusesWhatCannotBeConnected) {
  composition.addPatch("a", "Step");
  composition.addPatch("b", "Step");
  composition.addPatch("toCV", "QCImageToOpenCVImage");
  composition.addPatch("gray", "OpenCVBGR2Gray");
  composition.addPatch("reader", "Reader");
  composition.connect("a.outputValue", "b.inputIndex");
  composition.connect("toCV.outputImage", "gray.inputImage");
  const std::vector<std::array<std::string, 3>> refused{
      {"a.outputValue", "b.inputIndex",
       "\"b.inputIndex\" already has a connection, from \"a.outputValue\""},
      {"b.outputValue", "a.inputValue",
       "connecting \"b.outputValue\" to \"a.inputValue\" would make a cycle"},
      {"a.outputValue", "a.inputValue",
       "connecting \"a.outputValue\" to \"a.inputValue\" would make a cycle"},
      {"gray.outputImage", "reader.inputStructure",
       "cannot connect \"gray.outputImage\" (object) to \"reader.inputStructure\" (structure): "
       "incompatible ports"},
      {"a.outputValue", "toCV.inputImage",
       "cannot connect \"a.outputValue\" (number) to \"toCV.inputImage\" (image): incompatible "
       "ports"},
      {"a.inputValue", "b.inputValue", "\"a.inputValue\" is an input, not an output"},
      {"a.outputValue", "b.outputValue", "\"b.outputValue\" is an output, not an input"},
      {"x.outputValue", "b.inputValue", "unknown patch \"x\" in \"x.outputValue\""},
      {"a.outputNothing", "b.inputValue", "patch \"a\" (Step) has no port \"outputNothing\""}};
  for (const auto& [from, to, message] : refused) {
    try {
      composition.connect(from, to);
      ADD_FAILURE() << from << " -> " << to << " accepted";
    } catch (const CompositionError& error) {
      EXPECT_EQ(error.what(), message);
    }
  }
  EXPECT_THROW(composition.addPatch("a", "Step"), CompositionError);
  EXPECT_THROW(composition.addPatch("z", "NoSuchClass"), CompositionError);
}

TEST(Composition, DestroysItsPatchesAfterStopping) {
  executionLog.clear();
  QCNodeManager manager;
  manager.registerNodeWithClass(PatchClass::of<Step>());
  {
    Composition composition(manager);
    composition.addPatch("one", "Step");
    composition.addPatch("two", "Step");
    composition.start(test::context());
    composition.stop(test::context());
  }
  EXPECT_EQ(executionLog, (std::vector<std::string>{"one:enable", "two:enable", "one:disable",
                                                    "two:disable", "two:destroy", "one:destroy"}));
}

}  // namespace
}  // namespace cvcomp
