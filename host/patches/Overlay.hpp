#pragma once

#include "host/QCObjectPorts.hpp"
#include "host/QCPatch.hpp"

namespace cvcomp {

// Draws the members of a result structure onto a host image: rectangles (X, Y, W, H),
// segments (X1, Y1, X2, Y2), motion lines (pX, pY to X, Y) and points (X, Y). Coordinates are the
// centred unit coordinates that the plug-in publishes: origin at the picture's centre, one unit
// half the picture's width, Y pointing up; a rectangle's H is in units of half the height.
class Overlay final : public QCPatch {
 public:
  QC_PATCH_CLASS(Overlay)
  static constexpr bool isSafe = true;

  using QCPatch::QCPatch;
  bool execute(QCContext& context, double time, const QCStructure& arguments) override;

  QC_PORT(QCImagePort, inputImage);
  QC_PORT(QCStructurePort, inputStructure);
  QC_PORT(QCImagePort, outputImage);
};

}  // namespace cvcomp
