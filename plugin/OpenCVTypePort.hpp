#pragma once

#include <cstdint>
#include <memory>

#include "OpenCVObject.hpp"
#include "host/QCObjectPorts.hpp"

namespace cvcomp {

// Type codes of the values that OpenCV ports carry; 0 means no type yet.
inline constexpr std::int32_t kOpenCVTypeImage = 1;    // a cv::Mat
inline constexpr std::int32_t kOpenCVTypeCascade = 3;  // a cv::CascadeClassifier

// An object port carrying OpenCVObject boxes. It connects only to OpenCV ports with the same
// non-zero type code, and to plain virtual ports.
class OpenCVTypePort : public QCObjectPort {
 public:
  using QCObjectPort::QCObjectPort;

  std::int32_t type() const { return type_; }
  void setType(std::int32_t type) { type_ = type; }

  std::shared_ptr<OpenCVObject> cvObjectValue() const;
  void setCvObjectValue(std::shared_ptr<OpenCVObject> box) { setObject(std::move(box)); }

  std::vector<std::pair<std::string, PortValue>> attributes() const override {
    return {{"type", static_cast<std::size_t>(type_ < 0 ? 0 : type_)}};
  }
  bool canConnectToPort(const QCPort& other) const override;
  // Accepts only boxes (or nil).
  bool setGenericValue(const PortValue& value) override;

 private:
  std::int32_t type_ = 0;
};

}  // namespace cvcomp
