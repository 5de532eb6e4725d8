#pragma once

#include "BoundedChessboardSearch.hpp"
#include "host/QCObjectPorts.hpp"
#include "host/QCValuePorts.hpp"
#include "plugin/OpenCVPatch.hpp"
#include "plugin/OpenCVTypePort.hpp"

namespace cvcomp {

// Looks for the inner corners of a calibration chessboard in an 8-bit gray or colour image on
// every frame while `inputFind` is on. The pattern is `inputInnerRows` corners wide and
// `inputInnerColumns` corners high. Publishes the corners found as "Corner0000", "Corner0001",
// ... with "X" and "Y" in centred unit coordinates, their count, and whether the whole pattern
// was found. Without an image, with fewer than 3 inner rows or columns, or with `inputFind` off,
// nothing runs and the outputs keep the last search's values. OpenCV's search, which can take
// minutes on a large picture without a board, runs only where a quick look at the image
// (ChessboardLattice) finds a lattice of board corners large enough for the pattern, and not
// many boards' worth (which would cost the search hours); elsewhere the patch publishes no
// corners, after well under a second for a 4096 × 4096 picture. Where the look passes, the search
// (BoundedChessboardSearch) stays within a second a frame up to 4096 × 4096: pictures up to
// 800 × 600 that give OpenCV's search few dark blobs to compare get exactly OpenCV's corners;
// others are searched in the part where the look saw the board, reduced, and refined at full
// size.
class OpenCVFindChessboardCorners final : public OpenCVPatch {
 public:
  QC_PATCH_CLASS(OpenCVFindChessboardCorners)

  explicit OpenCVFindChessboardCorners(std::string identifier);
  bool execute(QCContext& context, double time, const QCStructure& arguments) override;

  QC_PORT(OpenCVImagePort, inputImage);
  QC_PORT(QCIndexPort, inputInnerRows);
  QC_PORT(QCIndexPort, inputInnerColumns);
  QC_PORT(QCBooleanPort, inputFind);
  QC_PORT(QCBooleanPort, inputAdaptiveThreshold);
  QC_PORT(QCBooleanPort, inputNormalize);
  QC_PORT(QCBooleanPort, inputFilterQuads);
  QC_PORT(QCStructurePort, outputCorners);
  QC_PORT(QCIndexPort, outputCornerCount);
  QC_PORT(QCBooleanPort, outputAllFound);

 private:
  BoundedChessboardSearch search_;
};

}  // namespace cvcomp
