#include "QCObjectPorts.hpp"

#include "QCImage.hpp"

namespace cvcomp {

namespace {
// Stores `value` into `slot` when it holds a T or nil; reports whether it did.
template <class T>
bool assignShared(std::shared_ptr<T>& slot, const PortValue& value) {
  if (std::holds_alternative<std::monostate>(value)) {
    slot.reset();
    return true;
  }
  const auto* held = std::get_if<std::shared_ptr<T>>(&value);
  if (!held) return false;
  slot = *held;
  return true;
}
}  // namespace

void QCStructurePort::setStructureValue(std::shared_ptr<QCStructure> value) {
  value_ = std::move(value);
  touch();
}

bool QCStructurePort::setGenericValue(const PortValue& value) {
  if (!assignShared(value_, value)) return false;
  touch();
  return true;
}

void QCImagePort::setImageValue(std::shared_ptr<QCImage> value) {
  value_ = std::move(value);
  touch();
}

bool QCImagePort::setGenericValue(const PortValue& value) {
  if (!assignShared(value_, value)) return false;
  touch();
  return true;
}

void QCObjectPort::setObject(std::shared_ptr<HostObject> value) {
  value_ = std::move(value);
  touch();
}

bool QCObjectPort::setGenericValue(const PortValue& value) {
  if (!assignShared(value_, value)) return false;
  touch();
  return true;
}

bool QCVirtualPort::setGenericValue(const PortValue& value) {
  value_ = value;
  touch();
  return true;
}

}  // namespace cvcomp
