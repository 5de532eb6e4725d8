#include "QCObjectPorts.hpp"

namespace cvcomp {

bool QCVirtualPort::setGenericValue(const PortValue& value) {
  value_ = value;
  touch();
  return true;
}

}  // namespace cvcomp
