#include "TestSupport.hpp"

namespace cvcomp {
namespace {

struct Ports final : QCPatch {
  QC_PATCH_CLASS(Ports)
  using QCPatch::QCPatch;
  bool execute(QCContext&, double, const QCStructure&) override { return true; }

  QC_PORT(QCIndexPort, inputIndex);
  QC_PORT(QCNumberPort, inputNumber);
  QC_PORT(QCBooleanPort, inputFlag);
};

TEST(HostPorts, IndexAndNumberPortsStayWithinTheirBounds) {
  Ports patch("p");
  QCIndexPort& index = patch.inputIndex;
  index.setIndexValue(7);
  index.setMaxIndexValue(3);
  EXPECT_EQ(index.indexValue(), 3u);
  // Numbers arriving on an index: truncated, negative and NaN to 0, huge ones to the maximum.
  for (const auto& [value, expected] : std::initializer_list<std::pair<PortValue, std::size_t>>{
           {std::size_t{9}, 3}, {std::size_t{2}, 2}, {2.9, 2}, {-5.0, 0}, {1e300, 3}, {NAN, 0}}) {
    EXPECT_TRUE(index.setGenericValue(value));
    EXPECT_EQ(index.indexValue(), expected);
  }
  EXPECT_FALSE(index.setGenericValue(std::string("2")));

  QCNumberPort& number = patch.inputNumber;
  number.setDoubleValue(5.0);
  number.setMinDoubleValue(10.0);
  EXPECT_EQ(number.doubleValue(), 10.0);
  number.setMaxDoubleValue(20.0);
  for (const auto& [value, expected] : {std::pair{25.5, 20.0},
                                        {12.25, 12.25},
                                        {-std::numeric_limits<double>::infinity(), 10.0},
                                        {std::nan(""), 10.0}}) {
    number.setDoubleValue(value);
    EXPECT_EQ(number.doubleValue(), expected) << value;
  }
  EXPECT_TRUE(patch.inputFlag.setGenericValue(std::size_t{2}));
  EXPECT_TRUE(patch.inputFlag.booleanValue());
  EXPECT_TRUE(number.setGenericValue(true));
  EXPECT_EQ(number.doubleValue(), 10.0);
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
