#pragma once

namespace cvcomp {

// Root of the host's reference-counted objects (boxes and other values carried by object ports).
// Objects are shared through std::shared_ptr; dropping a reference means letting the pointer go.
class HostObject {
 public:
  HostObject() = default;
  HostObject(const HostObject&) = delete;
  HostObject& operator=(const HostObject&) = delete;
  virtual ~HostObject() = default;
};

}  // namespace cvcomp
