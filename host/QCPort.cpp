#include "QCPort.hpp"

#include <atomic>

#include "QCPatch.hpp"

namespace cvcomp {

namespace {
std::atomic<std::uint64_t> portClock{0};

bool isScalar(PortKind kind) {
  return kind == PortKind::Index || kind == PortKind::Number || kind == PortKind::Boolean;
}
}  // namespace

std::string_view portKindName(PortKind kind) {
  switch (kind) {
    case PortKind::Index:
      return "index";
    case PortKind::Number:
      return "number";
    case PortKind::Boolean:
      return "boolean";
    case PortKind::String:
      return "string";
    case PortKind::Structure:
      return "structure";
    case PortKind::Image:
      return "image";
    case PortKind::Object:
      return "object";
    case PortKind::Virtual:
      return "virtual";
  }
  return "unknown";
}

std::string_view QCPort::kindName() const {
  return kind() == PortKind::Image ? "host picture" : portKindName(kind());
}

QCPort::QCPort(QCPatch& owner, std::string_view name)
    : owner_(owner), name_(name), isInput_(name.starts_with("input")) {
  owner.registerPort(*this);
}

bool QCPort::canConnectToPort(const QCPort& other) const {
  const PortKind mine = kind();
  const PortKind theirs = other.kind();
  if (mine == PortKind::Virtual || theirs == PortKind::Virtual) return true;
  if (isScalar(mine) && isScalar(theirs)) return true;
  return mine == theirs;
}

void QCPort::touch() {
  stamp_ = ++portClock;
}

std::uint64_t QCPort::latestStamp() {
  return portClock;
}

}  // namespace cvcomp
