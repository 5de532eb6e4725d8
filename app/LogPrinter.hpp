#pragma once

#include <string>

namespace cvcomp {

// Prints "cvcomp: message" on standard error; gives `status`, for a command to end with.
int fail(int status, const std::string& message);

}  // namespace cvcomp
