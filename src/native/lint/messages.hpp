// Pieces of the findings' messages: names and values quoted as code, and
// what a failed interpolation does and how to mend it.
#pragma once

#include <nanobind/nanobind.h>

#include <string>

#include "lint/check_paths.hpp"
#include "lint/interpolation.hpp"

namespace harborsweep::lint {

// `text`, cut short when long, line ends shown as \n.
std::string quoted(TextView text);
std::string quoted(std::string_view ascii);

struct Explanation {
    std::string what;   // "a lone `%`"
    std::string error;  // "InterpolationSyntaxError"
    std::string mend;   // "write `50%%`"
};

// Why `value` (of the option `owner`) fails to interpolate, and the mend.
Explanation explain(const Interpolated &value, const Text &owner, const IniFile &file);

}  // namespace harborsweep::lint
