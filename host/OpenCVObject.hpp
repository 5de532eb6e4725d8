#pragma once

#include <cstdint>
#include <string_view>

#include "HostObject.hpp"
#include "QCPort.hpp"

namespace cvcomp {

// A box around one OpenCV value, as OpenCV ports carry it. The box never owns the value: the
// patch that published it does, and destroying the box leaves the value untouched.
class OpenCVObject final : public HostObject {
 public:
  explicit OpenCVObject(void* value) : data_(value) {}

  void* value() const { return data_; }

 private:
  void* const data_;
};

// What the value in a box is, by the type code of the port that carries it. Every OpenCV port
// has one of these codes, so that an image output connects only to image inputs.
inline constexpr std::int32_t kOpenCVTypeImage = 1;    // a cv::Mat
inline constexpr std::int32_t kOpenCVTypeCascade = 3;  // a cv::CascadeClassifier

// The attribute under which an OpenCV port states its type code (the patch catalogue lists it).
inline constexpr std::string_view kOpenCVTypeAttribute = "type";

// The type code that a port states, 0 for a port that is not an OpenCV port.
inline std::int32_t openCVTypeOf(const QCPort& port) {
  if (port.kind() != PortKind::Object) return 0;
  for (const auto& [name, value] : port.attributes()) {
    const auto* code = std::get_if<std::size_t>(&value);
    if (name == kOpenCVTypeAttribute && code) return static_cast<std::int32_t>(*code);
  }
  return 0;
}

}  // namespace cvcomp
