// Running one check file against the controller.
#pragma once

#include <nanobind/nanobind.h>

namespace nb = nanobind;

namespace harborsweep {

struct CheckArguments {
    nb::handle controller_ip, username, password, config_dir, config_file;
};

// Runs the check file `config_file` and returns its narrowed result; a check
// with an output reference returns one {"object", "results"} entry per
// element of the referenced check's result.
nb::object quorvane_api(nb::handle module, const CheckArguments &check);

}  // namespace harborsweep
