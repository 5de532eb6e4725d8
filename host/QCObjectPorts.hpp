#pragma once

#include <memory>

#include "HostObject.hpp"
#include "QCPort.hpp"
#include "QCStructure.hpp"

namespace cvcomp {

class QCImage;

class QCStructurePort final : public QCPort {
 public:
  using QCPort::QCPort;
  PortKind kind() const override { return PortKind::Structure; }

  const std::shared_ptr<QCStructure>& structureValue() const { return value_; }
  void setStructureValue(std::shared_ptr<QCStructure> value);

  PortValue genericValue() const override { return value_; }
  bool setGenericValue(const PortValue& value) override;

 private:
  std::shared_ptr<QCStructure> value_;
};

class QCImagePort final : public QCPort {
 public:
  using QCPort::QCPort;
  PortKind kind() const override { return PortKind::Image; }

  const std::shared_ptr<QCImage>& imageValue() const { return value_; }
  void setImageValue(std::shared_ptr<QCImage> value);

  PortValue genericValue() const override { return value_; }
  bool setGenericValue(const PortValue& value) override;

 private:
  std::shared_ptr<QCImage> value_;
};

// Carries a host object; the port keeps its own reference to it.
class QCObjectPort : public QCPort {
 public:
  using QCPort::QCPort;
  PortKind kind() const override { return PortKind::Object; }

  const std::shared_ptr<HostObject>& object() const { return value_; }
  void setObject(std::shared_ptr<HostObject> value);

  PortValue genericValue() const override { return value_; }
  bool setGenericValue(const PortValue& value) override;

 private:
  std::shared_ptr<HostObject> value_;
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
