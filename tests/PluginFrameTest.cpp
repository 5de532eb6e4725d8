#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "host/PluginModule.hpp"
#include "host/QCObjectPorts.hpp"
#include "host/QCValuePorts.hpp"
#include "plugin/OpenCVPlugin.hpp"
#include "plugin/OpenCVTypePort.hpp"

namespace cvcomp {
namespace {

std::vector<std::string> namesOf(const QCNodeManager& manager) {
  std::vector<std::string> names;
  for (const PatchClass& patchClass : manager.nodeClasses()) names.push_back(patchClass.name);
  return names;
}

std::vector<std::string> tableNames() {
  std::vector<std::string> names;
  for (const PatchClass& patchClass : OpenCVPlugin::patchClasses())
    names.push_back(patchClass.name);
  return names;
}

TEST(Registration, RegistersTheTableInOrder) {
  QCNodeManager manager;
  OpenCVPlugin::registerNodesWithManager(manager);
  EXPECT_EQ(namesOf(manager), tableNames());

  // The table keeps the plug-in's fixed order of all thirteen classes.
  const std::vector<std::string> order{
      "OpenCVBGR2Gray",      "OpenCVGoodFeaturesToTrack",   "OpenCVCalcOpticalFlowPyrLK",
      "OpenCVCanny",         "OpenCVEqualizeHist",          "OpenCVResize",
      "OpenCVLoad",          "OpenCVHaarDetectObjects",     "OpenCVHoughLines2",
      "OpenCVLogPolar",      "OpenCVFindChessboardCorners", "OpenCVImageToQCImage",
      "QCImageToOpenCVImage"};
  std::vector<std::string> present;
  for (const std::string& name : order) {
    if (manager.isNodeRegisteredWithName(name)) present.push_back(name);
  }
  EXPECT_EQ(present, tableNames());
  EXPECT_GE(present.size(), 3u);
}

TEST(Registration, SkipsNamesAlreadyRegistered) {
  const std::vector<std::string> table = tableNames();
  ASSERT_GE(table.size(), 3u);
  // Another class already holds the name of the second table entry.
  auto refuse = [](const std::string&) -> std::unique_ptr<QCPatch> { return nullptr; };
  QCNodeManager manager;
  manager.registerNodeWithClass({table[1], {false, 0, false, 0}, refuse});
  OpenCVPlugin::registerNodesWithManager(manager);

  std::vector<std::string> expected{table[1], table[0]};
  expected.insert(expected.end(), table.begin() + 2, table.end());
  EXPECT_EQ(namesOf(manager), expected);
  EXPECT_EQ(manager.nodeClass(table[1])->create("x"), nullptr) << "the earlier class was replaced";
  EXPECT_NE(manager.nodeClass(table[0])->create("x"), nullptr);
  EXPECT_EQ(manager.nodeClass(table[0])->create(""), nullptr) << "empty identifiers are refused";
}

TEST(Registration, ClassTraits) {
  QCNodeManager manager;
  OpenCVPlugin::registerNodesWithManager(manager);
  for (const PatchClass& patchClass : manager.nodeClasses()) {
    // The cascade loader reads files and keeps the host's default safety trait.
    EXPECT_EQ(patchClass.traits.isSafe, patchClass.name != "OpenCVLoad") << patchClass.name;
    EXPECT_EQ(patchClass.traits.executionMode, 0) << patchClass.name;
    EXPECT_FALSE(patchClass.traits.allowsSubpatches) << patchClass.name;
    EXPECT_EQ(patchClass.traits.timeMode, 0) << patchClass.name;
  }
}

TEST(PluginModule, LoadsAndExportsOnlyItsEntryPoint) {
  QCNodeManager manager;
  loadPluginModule(CVCOMP_PLUGIN_MODULE, manager);
  EXPECT_EQ(namesOf(manager), tableNames());
  auto patch = manager.nodeClass("OpenCVBGR2Gray")->create("gray");
  ASSERT_NE(patch, nullptr);
  EXPECT_EQ(patch->className(), "OpenCVBGR2Gray");

  std::unique_ptr<FILE, int (*)(FILE*)> nm(popen("nm -D --defined-only " CVCOMP_PLUGIN_MODULE, "r"),
                                           pclose);
  ASSERT_NE(nm, nullptr);
  std::vector<std::string> exported;
  std::array<char, 512> line{};
  while (fgets(line.data(), line.size(), nm.get())) {
    std::string text(line.data());
    text.erase(text.find_last_not_of("\r\n") + 1);
    exported.push_back(text.substr(text.rfind(' ') + 1));
  }
  EXPECT_EQ(exported, std::vector<std::string>{kPluginEntryPoint});

  EXPECT_THROW(loadPluginModule("/nonexistent/module.so", manager), std::runtime_error);
}

struct PortBench final : QCPatch {
  QC_PATCH_CLASS(PortBench)
  using QCPatch::QCPatch;
  bool execute(QCContext&, double, const QCStructure&) override { return true; }
};

struct DerivedVirtualPort final : QCVirtualPort {
  using QCVirtualPort::QCVirtualPort;
};

TEST(OpenCVTypePort, ConnectsOnlyEqualNonZeroCodesAndThePlainVirtualPort) {
  PortBench patch("p");
  OpenCVTypePort image1(patch, "outputA"), image2(patch, "inputB");
  OpenCVTypePort cascade(patch, "inputC"), untyped(patch, "inputD"), untyped2(patch, "inputE");
  image1.setType(kOpenCVTypeImage);
  image2.setType(kOpenCVTypeImage);
  cascade.setType(kOpenCVTypeCascade);
  QCVirtualPort sink(patch, "inputSink");
  DerivedVirtualPort derived(patch, "inputDerived");
  QCObjectPort object(patch, "inputObject");
  QCImagePort hostImage(patch, "inputImage");

  EXPECT_TRUE(image1.canConnectToPort(image2));
  EXPECT_TRUE(image2.canConnectToPort(image1));
  EXPECT_FALSE(image1.canConnectToPort(cascade));
  EXPECT_FALSE(cascade.canConnectToPort(image1));
  EXPECT_FALSE(untyped.canConnectToPort(untyped2));
  EXPECT_FALSE(untyped.canConnectToPort(image1));
  EXPECT_FALSE(image1.canConnectToPort(untyped));
  for (OpenCVTypePort* port : {&image1, &cascade, &untyped}) {
    EXPECT_TRUE(port->canConnectToPort(sink));
    EXPECT_FALSE(port->canConnectToPort(derived));
    EXPECT_FALSE(port->canConnectToPort(object));
    EXPECT_FALSE(port->canConnectToPort(hostImage));
  }
}

TEST(OpenCVObject, BoxNeverOwnsItsValue) {
  auto value = std::make_shared<int>(42);
  {
    auto box = std::make_shared<OpenCVObject>(value.get());
    EXPECT_EQ(box->value(), value.get());
    box->setValue(nullptr);
    EXPECT_EQ(box->value(), nullptr);
  }
  EXPECT_EQ(value.use_count(), 1);
  EXPECT_EQ(*value, 42);
  OpenCVObject again(value.get());
  EXPECT_EQ(static_cast<int*>(again.value()), value.get());
}

}  // namespace
}  // namespace cvcomp
