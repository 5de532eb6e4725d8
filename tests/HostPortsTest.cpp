#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "host/QCObjectPorts.hpp"
#include "host/QCPatch.hpp"
#include "host/QCValuePorts.hpp"

namespace cvcomp {
namespace {

struct Ports final : QCPatch {
  QC_PATCH_CLASS(Ports)
  using QCPatch::QCPatch;
  bool execute(QCContext&, double, const QCStructure&) override { return true; }

  QC_PORT(QCIndexPort, inputIndex);
  QC_PORT(QCNumberPort, inputNumber);
  QC_PORT(QCBooleanPort, inputFlag);
  QC_PORT(QCStructurePort, outputStructure);
};

TEST(HostPorts, RegisterUnderFieldNamesInDeclarationOrder) {
  Ports patch("p");
  ASSERT_EQ(patch.ports().size(), 4u);
  EXPECT_EQ(patch.ports()[0]->name(), "inputIndex");
  EXPECT_EQ(patch.ports()[3]->name(), "outputStructure");
  EXPECT_TRUE(patch.ports()[2]->isInput());
  EXPECT_FALSE(patch.ports()[3]->isInput());
  EXPECT_EQ(patch.port("inputNumber"), &patch.inputNumber);
  EXPECT_EQ(patch.port("inputMissing"), nullptr);
}

TEST(HostPorts, IndexNeverAboveItsMaximum) {
  Ports patch("p");
  patch.inputIndex.setIndexValue(7);
  patch.inputIndex.setMaxIndexValue(3);
  EXPECT_EQ(patch.inputIndex.indexValue(), 3u);
  patch.inputIndex.setIndexValue(9);
  EXPECT_EQ(patch.inputIndex.indexValue(), 3u);
  patch.inputIndex.setIndexValue(2);
  EXPECT_EQ(patch.inputIndex.indexValue(), 2u);

  // Numbers arriving on an index: truncated, negative and NaN to 0, huge ones to the maximum.
  EXPECT_TRUE(patch.inputIndex.setGenericValue(2.9));
  EXPECT_EQ(patch.inputIndex.indexValue(), 2u);
  EXPECT_TRUE(patch.inputIndex.setGenericValue(-5.0));
  EXPECT_EQ(patch.inputIndex.indexValue(), 0u);
  EXPECT_TRUE(patch.inputIndex.setGenericValue(1e300));
  EXPECT_EQ(patch.inputIndex.indexValue(), 3u);
  EXPECT_TRUE(patch.inputIndex.setGenericValue(std::nan("")));
  EXPECT_EQ(patch.inputIndex.indexValue(), 0u);
  EXPECT_FALSE(patch.inputIndex.setGenericValue(std::string("2")));
}

TEST(HostPorts, NumberClampedToItsBounds) {
  Ports patch("p");
  patch.inputNumber.setDoubleValue(5.0);
  patch.inputNumber.setMinDoubleValue(10.0);
  EXPECT_EQ(patch.inputNumber.doubleValue(), 10.0);
  patch.inputNumber.setMaxDoubleValue(20.0);
  patch.inputNumber.setDoubleValue(25.5);
  EXPECT_EQ(patch.inputNumber.doubleValue(), 20.0);
  patch.inputNumber.setDoubleValue(-std::numeric_limits<double>::infinity());
  EXPECT_EQ(patch.inputNumber.doubleValue(), 10.0);
  patch.inputNumber.setDoubleValue(std::nan(""));
  EXPECT_EQ(patch.inputNumber.doubleValue(), 10.0);
  patch.inputNumber.setMaxDoubleValue(15.0);
  patch.inputNumber.setDoubleValue(12.25);
  EXPECT_EQ(patch.inputNumber.doubleValue(), 12.25);

  EXPECT_TRUE(patch.inputFlag.setGenericValue(std::size_t{2}));
  EXPECT_TRUE(patch.inputFlag.booleanValue());
  EXPECT_TRUE(patch.inputNumber.setGenericValue(true));
  EXPECT_EQ(patch.inputNumber.doubleValue(), 10.0);
}

TEST(HostPorts, EverySetIsANewValueEvenWhenUnchanged) {
  Ports patch("p");
  auto structure = std::make_shared<QCStructure>();
  patch.outputStructure.setStructureValue(structure);
  const auto first = patch.outputStructure.stamp();
  patch.outputStructure.setStructureValue(structure);
  EXPECT_GT(patch.outputStructure.stamp(), first);
}

TEST(HostStructure, KeepsInsertionOrderAndReplacesInPlace) {
  QCStructure s;
  s.addMember(QCNumber::withFloat(0.5f), "Y");
  s.addMember(QCNumber::withDouble(0.25), "X");
  s.addMember(std::string("text"), "Name");
  s.addMember(QCNumber::withDouble(1.5), "Y");
  ASSERT_EQ(s.count(), 3u);
  EXPECT_EQ(s.members()[0].first, "Y");
  EXPECT_EQ(s.members()[1].first, "X");
  EXPECT_EQ(*s.numberForKey("Y"), QCNumber::withDouble(1.5));
  EXPECT_EQ(s.memberForKey("Z"), nullptr);
  EXPECT_EQ(s.numberForKey("Name"), nullptr);
  s.removeAllMembers();
  EXPECT_EQ(s.count(), 0u);
  EXPECT_EQ(s.memberForKey("X"), nullptr);
}

// Small structures are searched in order, large ones through an index: every key is found, and
// replaced in place, whatever the size, also across the point where the index is built.
std::string keyOf(int i) {
  std::string key = "K";
  key += std::to_string(i);
  return key;
}

TEST(HostStructure, FindsAndReplacesAtEverySize) {
  QCStructure s;
  for (int i = 0; i < 40; ++i) {
    const std::string key = keyOf(i);
    s.addMember(QCNumber::withDouble(i), key);
    s.addMember(QCNumber::withDouble(-i), key);
    ASSERT_EQ(s.count(), static_cast<std::size_t>(i + 1));
    for (int j = 0; j <= i; ++j) {
      const QCNumber* found = s.numberForKey(keyOf(j));
      ASSERT_NE(found, nullptr) << i << " " << j;
      EXPECT_EQ(found->value, -j);
    }
    EXPECT_EQ(s.memberForKey(keyOf(i + 1)), nullptr);
    EXPECT_EQ(s.members().back().first, key);
  }
  s.removeAllMembers();
  EXPECT_EQ(s.memberForKey("K20"), nullptr);
  s.addMember(true, "K20");
  EXPECT_EQ(s.count(), 1u);
  EXPECT_NE(s.memberForKey("K20"), nullptr);
}

}  // namespace
}  // namespace cvcomp
