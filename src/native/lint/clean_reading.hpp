// Whether a value reads without a mistake, found within a few steps: the
// advice of a finding names only an option that would work in its place.
#pragma once

#include <nanobind/nanobind.h>

#include <cstddef>

#include "lint/ini_file.hpp"

namespace harborsweep::lint {

// Whether `option` read in `section` gives a value without a mistake, found
// within `most` steps (characters scanned and references followed); false
// past them.
bool reads_cleanly(const IniFile &file, const IniSection &section, const IniOption &option,
                   size_t most);

}  // namespace harborsweep::lint
