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

}  // namespace
}  // namespace cvcomp
