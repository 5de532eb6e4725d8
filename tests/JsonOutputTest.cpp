#include "TestSupport.hpp"
#include "app/JsonOutput.hpp"

namespace cvcomp {
namespace {

std::string text(const QCNumber& number) {
  std::string out;
  appendJsonNumber(out, number);
  return out;
}

TEST(JsonOutput, NumbersInTheShortestFormOfTheirOwnPrecision) {
  EXPECT_EQ(text(QCNumber::withFloat(0.1f)), "0.1");
  EXPECT_EQ(text(QCNumber::withDouble(0.1f)), "0.10000000149011612");
  EXPECT_EQ(text(QCNumber::withFloat(-0.75f)), "-0.75");
  EXPECT_EQ(text(QCNumber::withFloat(1.0f / 3.0f)), "0.33333334");
  EXPECT_EQ(text(QCNumber::withDouble(1.0 / 3.0)), "0.3333333333333333");
  EXPECT_EQ(text(QCNumber::withFloat(3.0f)), "3.0");
  EXPECT_EQ(text(QCNumber::withFloat(-0.0f)), "-0.0");
  EXPECT_EQ(text(QCNumber::withFloat(1e-7f)), "1e-07");
  EXPECT_EQ(text(QCNumber::withDouble(std::nan(""))), "null");
  EXPECT_EQ(text(QCNumber::withFloat(-INFINITY)), "null");
  // Each reads back to the very same value.
  const float third = 1.0f / 3.0f;
  EXPECT_EQ(static_cast<float>(OrderedJson::parse(text(QCNumber::withFloat(third))).get<double>()),
            third);
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
  points->addMember(std::string("tab\t\"quoted\" \xff"), "k\xc3\xa9y");
  points->addMember(false, "flag");

  Sink sink("s");
  sink.outputPoints.setStructureValue(points);
  EXPECT_EQ(
      frameLine(7, 0.25,
                {{"s.outputPoints", &sink.outputPoints}, {"s.outputNothing", &sink.outputNothing}}),
      R"({"frame":7,"time":0.25,"s.outputPoints":{"Point0001":{"X":0.5,"Y":-0.25},)"
      R"("Point0000":null,"label":"text",)"
      // Escaped as JSON requires; invalid UTF-8 becomes U+FFFD.
      "\"k\xc3\xa9y\":\"tab\\t\\\"quoted\\\" \xef\xbf\xbd\","
      R"("flag":false},)"
      R"("s.outputNothing":null})");
}

}  // namespace
}  // namespace cvcomp
