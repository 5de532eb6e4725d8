// The host's ports, structures and pixel memory, and its own patches.

#include "TestSupport.hpp"
#include "host/PixelMemory.hpp"
#include "host/patches/Overlay.hpp"
#include "host/patches/Pulse.hpp"

namespace cvcomp {
namespace {

TEST(HostPorts, IndexAndNumberPortsStayWithinTheirBounds) {
  Pulse patch("p");  // any patch can hold the ports
  QCIndexPort index(patch, "inputIndex");
  QCNumberPort number(patch, "inputNumber");
  QCBooleanPort flag(patch, "inputFlag");
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

  number.setDoubleValue(5.0);
  number.setMinDoubleValue(10.0);
  EXPECT_EQ(number.doubleValue(), 10.0);
  number.setMaxDoubleValue(20.0);
  for (const auto& [value, expected] :
       {std::pair{25.5, 20.0}, {12.25, 12.25}, {-HUGE_VAL, 10.0}, {std::nan(""), 10.0}}) {
    number.setDoubleValue(value);
    EXPECT_EQ(number.doubleValue(), expected) << value;
  }
  EXPECT_TRUE(flag.setGenericValue(std::size_t{2}));
  EXPECT_TRUE(flag.booleanValue());
  EXPECT_TRUE(number.setGenericValue(true));
  EXPECT_EQ(number.doubleValue(), 10.0);
}

// Small structures are searched in order, large ones through an index: every key is found, and
// replaced in place, whatever the size, across the point where the index is built and through
// several growths of it, with and without room reserved ahead.
TEST(HostStructure, FindsAndReplacesAtEverySize) {
  for (const std::size_t reserved : {0u, 100u}) {
    QCStructure s;
    s.reserve(reserved);
    for (int i = 0; i < 300; ++i) {
      s.addMember(QCNumber::withDouble(i), std::to_string(i));
      s.addMember(QCNumber::withDouble(-i), std::to_string(i));
      ASSERT_EQ(s.count(), i + 1u);
      EXPECT_EQ(s.members().back().first, std::to_string(i));
      EXPECT_EQ(s.memberForKey(std::to_string(i + 1)), nullptr);
      for (int j = 0; j <= i; ++j) {
        const QCNumber* found = s.numberForKey(std::to_string(j));
        ASSERT_TRUE(found && found->value == -j) << i << " " << j;
      }
    }
    s.removeAllMembers();
    EXPECT_EQ(s.memberForKey("20"), nullptr);
    s.addMember(true, "20");
    EXPECT_EQ(s.count(), 1u);
    EXPECT_NE(s.memberForKey("20"), nullptr);
  }
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

TEST(Pulse, FiresOnListedFramesAndEveryPeriod) {
  Pulse pulse("p");
  pulse.inputFrames.setStringValue("0, 3,x,7");
  pulse.inputPeriod.setIndexValue(5);
  std::vector<std::uint64_t> fired;
  EXPECT_NE(test::stderrOf([&] {
              for (std::uint64_t frame = 0; frame < 12; ++frame) {
                QCStructure arguments;
                arguments.addMember(QCNumber::withDouble(static_cast<double>(frame)), "frame");
                ASSERT_TRUE(pulse.execute(test::context(), 0.0, arguments));
                if (pulse.outputSignal.booleanValue()) fired.push_back(frame);
              }
            }).find("ignoring \"x\""),
            std::string::npos);
  EXPECT_EQ(fired, (std::vector<std::uint64_t>{0, 3, 5, 7, 10}));
}

TEST(Overlay, DrawsAtCentredYUpCoordinates) {
  Overlay overlay("draw");
  overlay.inputImage.setImageValue(
      test::hostImage(cv::Mat(200, 400, CV_8UC4, cv::Scalar(0, 0, 0, 255))));
  // Near the top-left corner: X −0.9, Y +0.4 (the top edge is at +h/w = 0.5); a rectangle.
  auto structure = std::make_shared<QCStructure>(), point = std::make_shared<QCStructure>(),
       rect = std::make_shared<QCStructure>();
  point->addMember(QCNumber::withFloat(-0.9f), "X");
  point->addMember(QCNumber::withFloat(0.4f), "Y");
  for (const auto& [name, value] : {std::pair{"X", 0.5f}, {"Y", -0.25f}, {"W", 0.2f}, {"H", 0.4f}})
    rect->addMember(QCNumber::withFloat(value), name);
  structure->addMember(point, "Point0000");
  structure->addMember(rect, "Object0000");
  overlay.inputStructure.setStructureValue(structure);
  ASSERT_TRUE(test::execute(overlay));

  cv::Mat changed;
  cv::cvtColor(test::bitmapOf(*overlay.outputImage.imageValue()), changed, cv::COLOR_BGRA2GRAY);
  // The point is drawn around (20, 20); the rectangle spans x 280..320 and y 130..170.
  EXPECT_GT(cv::countNonZero(changed(cv::Rect(10, 10, 20, 20))), 0);
  EXPECT_EQ(cv::countNonZero(changed(cv::Rect(10, 170, 20, 20))), 0);
  EXPECT_GT(changed.at<uchar>(150, 280), 0);
  EXPECT_GT(changed.at<uchar>(130, 300), 0);
  EXPECT_EQ(changed.at<uchar>(150, 300), 0);
}

}  // namespace
}  // namespace cvcomp
