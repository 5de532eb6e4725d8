#include "TestSupport.hpp"
#include "host/PixelMemory.hpp"

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

// Fills a structure key by key, replacing each value once, and checks every key after each step.
void fillAndCheck(QCStructure& s, int members) {
  for (int i = 0; i < members; ++i) {
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
}

TEST(HostStructure, FindsAndReplacesAtEverySize) {
  // Through several growths of the index, with and without room reserved ahead.
  QCStructure grown;
  fillAndCheck(grown, 300);
  QCStructure reserved;
  reserved.reserve(100);
  fillAndCheck(reserved, 150);

  grown.removeAllMembers();
  EXPECT_EQ(grown.memberForKey("K20"), nullptr);
  grown.addMember(true, "K20");
  EXPECT_EQ(grown.count(), 1u);
  EXPECT_NE(grown.memberForKey("K20"), nullptr);
}

TEST(HostPixelMemory, ReleasedBlocksServeTheNextRequestOfTheirSize) {
  constexpr std::size_t kBytes = 640 * 480 * 4 + 16;
  std::shared_ptr<std::uint8_t[]> first = acquirePixelMemory(kBytes);
  std::uint8_t* const address = first.get();
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(address) % 64, 0u);
  first[kBytes - 1] = 7;

  // A block in use is never handed out twice; another size never gets it.
  std::shared_ptr<std::uint8_t[]> second = acquirePixelMemory(kBytes);
  EXPECT_NE(second.get(), address);
  std::shared_ptr<std::uint8_t[]> copy = first;
  first.reset();
  EXPECT_NE(acquirePixelMemory(kBytes).get(), address);
  copy.reset();
  EXPECT_NE(acquirePixelMemory(kBytes + 64).get(), address);

  // Released by its last owner, it comes back for the same size.
  EXPECT_EQ(acquirePixelMemory(kBytes).get(), address);
}

}  // namespace
}  // namespace cvcomp
