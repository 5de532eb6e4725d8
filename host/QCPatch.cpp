#include "QCPatch.hpp"

namespace cvcomp {

QCPort* QCPatch::port(std::string_view name) const {
  for (QCPort* candidate : ports_) {
    if (candidate->name() == name) return candidate;
  }
  return nullptr;
}

}  // namespace cvcomp
