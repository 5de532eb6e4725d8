#pragma once

#include <cstddef>
#include <limits>
#include <optional>
#include <string>

#include "QCPort.hpp"

namespace cvcomp {

// Unsigned index; its value is never above its maximum.
class QCIndexPort final : public QCPort {
 public:
  using QCPort::QCPort;
  PortKind kind() const override { return PortKind::Index; }

  std::size_t indexValue() const { return value_; }
  void setIndexValue(std::size_t value);
  std::size_t maxIndexValue() const { return max_; }
  void setMaxIndexValue(std::size_t max);
  std::vector<std::pair<std::string, PortValue>> attributes() const override;

  PortValue genericValue() const override { return value_; }
  bool setGenericValue(const PortValue& value) override;

 private:
  std::size_t value_ = 0;
  std::size_t max_ = std::numeric_limits<std::size_t>::max();
};

// Double-precision number, clamped to its minimum and maximum when set.
class QCNumberPort final : public QCPort {
 public:
  using QCPort::QCPort;
  PortKind kind() const override { return PortKind::Number; }

  double doubleValue() const { return value_; }
  void setDoubleValue(double value);
  double minDoubleValue() const { return min_; }
  double maxDoubleValue() const { return max_; }
  void setMinDoubleValue(double min);
  void setMaxDoubleValue(double max);
  std::vector<std::pair<std::string, PortValue>> attributes() const override;

  PortValue genericValue() const override { return value_; }
  bool setGenericValue(const PortValue& value) override;

 private:
  double value_ = 0.0;
  double min_ = -std::numeric_limits<double>::infinity();
  double max_ = std::numeric_limits<double>::infinity();
};

class QCBooleanPort final : public QCPort {
 public:
  using QCPort::QCPort;
  PortKind kind() const override { return PortKind::Boolean; }

  bool booleanValue() const { return value_; }
  void setBooleanValue(bool value);

  PortValue genericValue() const override { return value_; }
  bool setGenericValue(const PortValue& value) override;

 private:
  bool value_ = false;
};

// UTF-8 text.
class QCStringPort final : public QCPort {
 public:
  using QCPort::QCPort;
  PortKind kind() const override { return PortKind::String; }

  const std::string& stringValue() const { return value_; }
  void setStringValue(std::string value);

  PortValue genericValue() const override { return value_; }
  bool setGenericValue(const PortValue& value) override;

 private:
  std::string value_;
};

// Conversions between the scalar kinds, as the host applies them along connections.
std::optional<double> numberFrom(const PortValue& value);

}  // namespace cvcomp
