// The progress texts of a duration: label + "<d>day hh:mm:ss".
#pragma once

#include <string>

namespace orvale::converter {

// Whole seconds of `seconds` (fractions dropped); days only from 24 hours on.
std::string FormatDuration(double seconds, const std::string& label);

}  // namespace orvale::converter
