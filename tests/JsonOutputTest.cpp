#include "TestSupport.hpp"
#include "app/JsonOutput.hpp"

namespace cvcomp {
namespace {

TEST(JsonOutput, NumbersInTheShortestFormOfTheirOwnPrecision) {
  EXPECT_EQ(jsonNumber(QCNumber::withFloat(0.1f)).dump(), "0.1");
  EXPECT_EQ(jsonNumber(QCNumber::withDouble(0.1f)).dump(), "0.10000000149011612");
  EXPECT_EQ(jsonNumber(QCNumber::withFloat(-0.75f)).dump(), "-0.75");
  EXPECT_EQ(jsonNumber(QCNumber::withFloat(1.0f / 3.0f)).dump(), "0.33333334");
  EXPECT_EQ(jsonNumber(QCNumber::withDouble(1.0 / 3.0)).dump(), "0.3333333333333333");
  EXPECT_EQ(jsonNumber(QCNumber::withFloat(3.0f)).dump(), "3.0");
  EXPECT_EQ(jsonNumber(QCNumber::withDouble(std::nan(""))).dump(), "null");
  // Each reads back to the very same value.
  const float third = 1.0f / 3.0f;
  EXPECT_EQ(static_cast<float>(jsonNumber(QCNumber::withFloat(third)).get<double>()), third);
}

struct Sink final : QCPatch {
  QC_PATCH_CLASS(Sink)
  using QCPatch::QCPatch;
  bool execute(QCContext&, double, const QCStructure&) override { return true; }
  QC_PORT(QCStructurePort, outputPoints);
  QC_PORT(QCStructurePort, outputNothing);
};

TEST(JsonOutput, FrameLinesKeepMemberOrderAndWriteNilAsNull) {
  auto points = std::make_shared<QCStructure>();
  auto point = std::make_shared<QCStructure>();
  point->addMember(QCNumber::withFloat(0.5f), "X");
  point->addMember(QCNumber::withFloat(-0.25f), "Y");
  points->addMember(point, "Point0001");
  points->addMember(std::shared_ptr<QCStructure>(), "Point0000");
  points->addMember(std::string("text"), "label");

  Sink sink("s");
  sink.outputPoints.setStructureValue(points);
  EXPECT_EQ(
      frameLine(7, 0.25,
                {{"s.outputPoints", &sink.outputPoints}, {"s.outputNothing", &sink.outputNothing}}),
      R"({"frame":7,"time":0.25,"s.outputPoints":{"Point0001":{"X":0.5,"Y":-0.25},)"
      R"("Point0000":null,"label":"text"},"s.outputNothing":null})");
}

}  // namespace
}  // namespace cvcomp
