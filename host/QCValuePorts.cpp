#include "QCValuePorts.hpp"

#include <algorithm>
#include <cmath>

namespace cvcomp {

std::optional<double> numberFrom(const PortValue& value) {
  if (const auto* d = std::get_if<double>(&value)) return *d;
  if (const auto* i = std::get_if<std::size_t>(&value)) return static_cast<double>(*i);
  if (const auto* b = std::get_if<bool>(&value)) return *b ? 1.0 : 0.0;
  return std::nullopt;
}

void QCIndexPort::setIndexValue(std::size_t value) {
  value_ = std::min(value, max_);
  touch();
}

void QCIndexPort::setMaxIndexValue(std::size_t max) {
  max_ = max;
  if (value_ > max_) setIndexValue(max_);
}

std::vector<std::pair<std::string, PortValue>> QCIndexPort::attributes() const {
  if (max_ == std::numeric_limits<std::size_t>::max()) return {};
  return {{"max", max_}};
}

bool QCIndexPort::setGenericValue(const PortValue& value) {
  if (const auto* i = std::get_if<std::size_t>(&value)) {
    setIndexValue(*i);
    return true;
  }
  const std::optional<double> number = numberFrom(value);
  if (!number) return false;
  // Negative and NaN numbers become 0; numbers beyond the range of an index become its maximum.
  const double d = std::isnan(*number) ? 0.0 : *number;
  if (d <= 0.0) {
    setIndexValue(0);
  } else if (d >= static_cast<double>(max_)) {
    setIndexValue(max_);
  } else {
    setIndexValue(static_cast<std::size_t>(d));
  }
  return true;
}

void QCNumberPort::setDoubleValue(double value) {
  // NaN has no place between the bounds; it stands for 0 (within them).
  if (std::isnan(value)) value = 0.0;
  value_ = std::max(min_, std::min(value, max_));
  touch();
}

void QCNumberPort::setMinDoubleValue(double min) {
  min_ = min;
  if (value_ < min_) setDoubleValue(value_);
}

void QCNumberPort::setMaxDoubleValue(double max) {
  max_ = max;
  if (value_ > max_) setDoubleValue(value_);
}

std::vector<std::pair<std::string, PortValue>> QCNumberPort::attributes() const {
  std::vector<std::pair<std::string, PortValue>> bounds;
  if (std::isfinite(min_)) bounds.emplace_back("min", min_);
  if (std::isfinite(max_)) bounds.emplace_back("max", max_);
  return bounds;
}

bool QCNumberPort::setGenericValue(const PortValue& value) {
  const std::optional<double> number = numberFrom(value);
  if (!number) return false;
  setDoubleValue(*number);
  return true;
}

void QCBooleanPort::setBooleanValue(bool value) {
  value_ = value;
  touch();
}

bool QCBooleanPort::setGenericValue(const PortValue& value) {
  const std::optional<double> number = numberFrom(value);
  if (!number) return false;
  setBooleanValue(*number != 0.0);
  return true;
}

void QCStringPort::setStringValue(std::string value) {
  value_ = std::move(value);
  touch();
}

bool QCStringPort::setGenericValue(const PortValue& value) {
  const auto* text = std::get_if<std::string>(&value);
  if (!text) return false;
  setStringValue(*text);
  return true;
}

}  // namespace cvcomp
