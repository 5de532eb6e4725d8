#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "host/OpenCVObject.hpp"
#include "host/QCObjectPorts.hpp"

namespace cvcomp {

// An object port carrying OpenCVObject boxes. It connects only to OpenCV ports with the same
// type code, and to plain virtual ports. A consumer reads the box by the code of its own port,
// which the connection rule makes equal to the producer's.
//
// Every OpenCV port is declared with its code (OpenCVPortOf), so no port is ever without one:
// the rule that a port without a code connects to no OpenCV port holds because such a port
// cannot be made.
class OpenCVTypePort : public QCObjectPort {
 public:
  std::int32_t type() const { return type_; }

  std::shared_ptr<OpenCVObject> cvObjectValue() const;
  void setCvObjectValue(std::shared_ptr<OpenCVObject> box) { setObject(std::move(box)); }

  std::string_view kindName() const override {
    return type_ == kOpenCVTypeImage     ? "opencv image"
           : type_ == kOpenCVTypeCascade ? "cascade"
                                         : "opencv object";
  }
  std::vector<std::pair<std::string, PortValue>> attributes() const override {
    return {{std::string(kOpenCVTypeAttribute), static_cast<std::size_t>(type_)}};
  }
  bool canConnectToPort(const QCPort& other) const override;
  // Accepts only boxes (or nil).
  bool setGenericValue(const PortValue& value) override;

 protected:
  OpenCVTypePort(QCPatch& owner, std::string_view name, std::int32_t type)
      : QCObjectPort(owner, name), type_(type) {}

 private:
  const std::int32_t type_;
};

// An OpenCV port whose type code is part of its declaration: QC_PORT(OpenCVImagePort, inputImage).
template <std::int32_t Type>
class OpenCVPortOf final : public OpenCVTypePort {
  static_assert(Type > 0, "an OpenCV port carries a value of a known type");

 public:
  OpenCVPortOf(QCPatch& owner, std::string_view name) : OpenCVTypePort(owner, name, Type) {}
};

using OpenCVImagePort = OpenCVPortOf<kOpenCVTypeImage>;
using OpenCVCascadePort = OpenCVPortOf<kOpenCVTypeCascade>;

}  // namespace cvcomp
