#include "Pulse.hpp"

#include <algorithm>
#include <charconv>
#include <string>

#include "host/Log.hpp"

namespace cvcomp {

void Pulse::parseFrames() {
  parsedText_ = inputFrames.stringValue();
  frames_.clear();
  std::string_view rest(parsedText_);
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    std::string_view item = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    if (item.empty()) continue;
    std::uint64_t frame = 0;
    const auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), frame);
    if (error != std::errc() || end != item.data() + item.size()) {
      logMessage(LogLevel::Warning, "Pulse " + identifier(),
                 "ignoring \"" + std::string(item) + "\" in inputFrames: not a frame number");
      continue;
    }
    frames_.push_back(frame);
  }
  std::sort(frames_.begin(), frames_.end());
}

bool Pulse::execute(QCContext& /*context*/, double /*time*/, const QCStructure& arguments) {
  if (parsedText_ != inputFrames.stringValue()) parseFrames();
  const QCNumber* number = arguments.numberForKey("frame");
  const auto frame = static_cast<std::uint64_t>(number ? number->value : 0.0);
  const std::size_t period = inputPeriod.indexValue();
  const bool listed = std::binary_search(frames_.begin(), frames_.end(), frame);
  const bool signal = listed || (period > 0 && frame % period == 0);
  // Only a change is a new value, so patches fed by the signal alone do not run for nothing.
  if (signal != outputSignal.booleanValue() || outputSignal.stamp() == 0) {
    outputSignal.setBooleanValue(signal);
  }
  return true;
}

}  // namespace cvcomp
