// Pieces of the findings' messages: names and values quoted as code, and
// what a failed interpolation does and how to mend it.
#pragma once

#include <nanobind/nanobind.h>

#include <optional>
#include <string>
#include <vector>

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

// The names that a value read in one section can refer to (that section's
// options and [DEFAULT]'s), for "did you mean": gathered when first asked.
class ReferableNames {
public:
    ReferableNames(const IniFile &file, const IniSection &section)
        : file_(file), section_(section) {}

    bool has(TextView name) const;
    // Only a name whose own value reads without a mistake: never the option
    // being read, nor the one holding the mistake, nor one that leads to it.
    std::optional<Text> near(TextView written, const Interpolated &value, const IniOption &owner);

private:
    const IniFile &file_;
    const IniSection &section_;
    std::vector<TextView> names_;
    bool gathered_ = false;
    size_t budget_ = 0;
};

// Why `value` (of the option `owner`) fails to interpolate, and the mend.
Explanation explain(const Interpolated &value, const IniOption &owner, ReferableNames &names);

}  // namespace harborsweep::lint
