#include "OpenCVTypePort.hpp"

#include <typeinfo>

namespace cvcomp {

std::shared_ptr<OpenCVObject> OpenCVTypePort::cvObjectValue() const {
  return std::dynamic_pointer_cast<OpenCVObject>(object());
}

bool OpenCVTypePort::canConnectToPort(const QCPort& other) const {
  if (const auto* cvPort = dynamic_cast<const OpenCVTypePort*>(&other)) {
    return cvPort->type() == type_;
  }
  // Only the host's virtual port itself, not a class derived from it.
  return typeid(other) == typeid(QCVirtualPort);
}

bool OpenCVTypePort::setGenericValue(const PortValue& value) {
  if (const auto* object = std::get_if<std::shared_ptr<HostObject>>(&value)) {
    if (*object && !dynamic_cast<const OpenCVObject*>(object->get())) return false;
  }
  return QCObjectPort::setGenericValue(value);
}

}  // namespace cvcomp
