#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "OpenCVObject.hpp"
#include "host/QCObjectPorts.hpp"

namespace cvcomp {

// Type codes of the values that OpenCV ports carry; 0 means no type.
inline constexpr std::int32_t kOpenCVTypeImage = 1;    // a cv::Mat
inline constexpr std::int32_t kOpenCVTypeCascade = 3;  // a cv::CascadeClassifier

// An object port carrying OpenCVObject boxes. It connects only to OpenCV ports with the same
// non-zero type code, and to plain virtual ports. A consumer reads the box by the code of its
// own port, which the connection rule makes equal to the producer's.
class OpenCVTypePort : public QCObjectPort {
 public:
  OpenCVTypePort(QCPatch& owner, std::string_view name, std::int32_t type = 0)
      : QCObjectPort(owner, name), type_(type) {}

  std::int32_t type() const { return type_; }
  // For ports declared without a code; an OpenCVPortOf has its code from construction.

  std::shared_ptr<OpenCVObject> cvObjectValue() const;
  void setCvObjectValue(std::shared_ptr<OpenCVObject> box) { setObject(std::move(box)); }

  std::string_view kindName() const override {
    return type_ == kOpenCVTypeImage     ? "opencv image"
           : type_ == kOpenCVTypeCascade ? "cascade"
                                         : "opencv object";
  }
  std::vector<std::pair<std::string, PortValue>> attributes() const override {
    return {{"type", static_cast<std::size_t>(type_ < 0 ? 0 : type_)}};
  }
  bool canConnectToPort(const QCPort& other) const override;
  // Accepts only boxes (or nil).
  bool setGenericValue(const PortValue& value) override;

 private:
  std::int32_t type_;
};

// An OpenCV port whose type code is part of its declaration: QC_PORT(OpenCVImagePort, inputImage).
template <std::int32_t Type>
class OpenCVPortOf final : public OpenCVTypePort {
 public:
  OpenCVPortOf(QCPatch& owner, std::string_view name) : OpenCVTypePort(owner, name, Type) {}
};

using OpenCVImagePort = OpenCVPortOf<kOpenCVTypeImage>;
using OpenCVCascadePort = OpenCVPortOf<kOpenCVTypeCascade>;

}  // namespace cvcomp
