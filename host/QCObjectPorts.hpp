#pragma once

#include <memory>
#include <variant>

#include "HostObject.hpp"
#include "QCPort.hpp"
#include "QCStructure.hpp"

namespace cvcomp {

class QCImage;

// A port whose value is a shared T or nil; the port keeps its own reference. The ports of each
// kind below name its accessors.
template <class T, PortKind Kind>
class QCSharedPort : public QCPort {
 public:
  using QCPort::QCPort;
  PortKind kind() const override { return Kind; }

  PortValue genericValue() const override { return value_; }
  // Takes a T or nil.
  bool setGenericValue(const PortValue& value) override {
    if (std::holds_alternative<std::monostate>(value)) {
      value_.reset();
    } else if (const auto* held = std::get_if<std::shared_ptr<T>>(&value)) {
      value_ = *held;
    } else {
      return false;
    }
    touch();
    return true;
  }

 protected:
  const std::shared_ptr<T>& value() const { return value_; }
  void setValue(std::shared_ptr<T> value) {
    value_ = std::move(value);
    touch();
  }

 private:
  std::shared_ptr<T> value_;
};

class QCStructurePort final : public QCSharedPort<QCStructure, PortKind::Structure> {
 public:
  using QCSharedPort::QCSharedPort;
  const std::shared_ptr<QCStructure>& structureValue() const { return value(); }
  void setStructureValue(std::shared_ptr<QCStructure> value) { setValue(std::move(value)); }
};

class QCImagePort final : public QCSharedPort<QCImage, PortKind::Image> {
 public:
  using QCSharedPort::QCSharedPort;
  const std::shared_ptr<QCImage>& imageValue() const { return value(); }
  void setImageValue(std::shared_ptr<QCImage> value) { setValue(std::move(value)); }
};

// Carries a host object.
class QCObjectPort : public QCSharedPort<HostObject, PortKind::Object> {
 public:
  using QCSharedPort::QCSharedPort;
  const std::shared_ptr<HostObject>& object() const { return value(); }
  void setObject(std::shared_ptr<HostObject> value) { setValue(std::move(value)); }
};

// Takes a value of any kind; the host uses it for generic sinks such as published outputs.
class QCVirtualPort : public QCPort {
 public:
  using QCPort::QCPort;
  PortKind kind() const override { return PortKind::Virtual; }

  PortValue genericValue() const override { return value_; }
  bool setGenericValue(const PortValue& value) override;

 private:
  PortValue value_;
};

}  // namespace cvcomp
