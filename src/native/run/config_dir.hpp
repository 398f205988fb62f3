// The default configuration directory: "config" beside the module's file.
#pragma once

#include <nanobind/nanobind.h>

namespace nb = nanobind;

namespace harborsweep {

// The path of the directory "config" beside the module's `__file__`, read
// from the module globals at call time; FileNotFoundError when it is not a
// directory.
nb::object get_default_config_dir(nb::handle module);

}  // namespace harborsweep
