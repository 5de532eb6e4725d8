#pragma once

#include "host/HostObject.hpp"

namespace cvcomp {

// A box around one OpenCV value. The box never owns the value: the patch that published it
// does, and destroying the box leaves the value untouched.
class OpenCVObject final : public HostObject {
 public:
  explicit OpenCVObject(void* value) : data_(value) {}

  void* value() const { return data_; }
  void setValue(void* value) { data_ = value; }

 private:
  void* data_;
};

}  // namespace cvcomp
