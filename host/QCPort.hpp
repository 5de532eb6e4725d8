#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "HostObject.hpp"
#include "QCStructure.hpp"

namespace cvcomp {

class QCImage;
class QCPatch;

enum class PortKind { Index, Number, Boolean, String, Structure, Image, Object, Virtual };

std::string_view portKindName(PortKind kind);

// A port's value in a form the host can move between ports of different kinds. The alternatives
// are, in order: nil, number, index, boolean, string, structure, image and host object.
using PortValue = std::variant<std::monostate, double, std::size_t, bool, std::string,
                               std::shared_ptr<QCStructure>, std::shared_ptr<QCImage>,
                               std::shared_ptr<HostObject>>;

// Base of all ports. A port is a member field of its patch and registers itself with the patch
// under its field name on construction (see QC_PORT). Ports whose name begins with "input" are
// inputs, all others outputs.
class QCPort {
 public:
  QCPort(QCPatch& owner, std::string_view name);
  QCPort(const QCPort&) = delete;
  QCPort& operator=(const QCPort&) = delete;
  virtual ~QCPort() = default;

  const std::string& name() const { return name_; }
  QCPatch& patch() const { return owner_; }
  bool isInput() const { return isInput_; }

  virtual PortKind kind() const = 0;
  // What the port carries, as a page names it: the kind's name, except "host picture" for an
  // image port, and an object port's own name for what its objects are ("opencv image").
  virtual std::string_view kindName() const;

  // What else describes the port besides its value, e.g. {"max", 3} for a bounded index.
  virtual std::vector<std::pair<std::string, PortValue>> attributes() const { return {}; }

  // The host's connection rule; a port class may replace it with its own.
  virtual bool canConnectToPort(const QCPort& other) const;

  // Generic access used by the host to move values along connections and to apply initial
  // values. setGenericValue converts between number, index and boolean and returns false when
  // the value cannot be held by this port.
  virtual PortValue genericValue() const = 0;
  virtual bool setGenericValue(const PortValue& value) = 0;

  // Changes with every set, also when the same value or object is set again, so the host can
  // tell that an input received a new value since a patch last executed.
  std::uint64_t stamp() const { return stamp_; }
  // The newest stamp that any port has received so far.
  static std::uint64_t latestStamp();

 protected:
  void touch();

 private:
  QCPatch& owner_;
  std::string name_;
  bool isInput_;
  std::uint64_t stamp_ = 0;
};

}  // namespace cvcomp
