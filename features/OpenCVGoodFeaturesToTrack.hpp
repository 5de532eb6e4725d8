#pragma once

#include <cstddef>

#include "host/QCObjectPorts.hpp"
#include "host/QCValuePorts.hpp"
#include "plugin/OpenCVPatch.hpp"
#include "plugin/OpenCVTypePort.hpp"

namespace cvcomp {

// Finds the strongest corners of a one-channel image and publishes them as a point list
// ("Point0000", ... each with "X" and "Y" in centred unit coordinates). A search runs only on a
// frame on which the find signal rises; the published list stays until the next search.
class OpenCVGoodFeaturesToTrack final : public OpenCVPatch {
 public:
  QC_PATCH_CLASS(OpenCVGoodFeaturesToTrack)

  explicit OpenCVGoodFeaturesToTrack(std::string identifier);
  bool execute(QCContext& context, double time, const QCStructure& arguments) override;
  // Forgets the find signal, so that a signal still held when execution resumes searches again.
  void disable(QCContext& context) override;

  QC_PORT(OpenCVImagePort, inputImage);
  QC_PORT(QCIndexPort, inputMaxPoints);
  QC_PORT(QCNumberPort, inputQuality);
  QC_PORT(QCNumberPort, inputMinDistance);
  QC_PORT(QCBooleanPort, inputFindSignal);
  QC_PORT(QCStructurePort, outputPoints);

 private:
  void search(const cv::Mat& image, std::size_t maxPoints);
  void unsuitable();

  bool oldFindValue = false;
};

}  // namespace cvcomp
