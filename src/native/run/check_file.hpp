// Check files: INI text read with the standard configparser.
#pragma once

#include <nanobind/nanobind.h>

namespace nb = nanobind;

namespace harborsweep {

// A fresh `configparser.ConfigParser()` holding the check file at `path`.
// The file is closed as soon as it has been read, also when parsing fails.
nb::object read_check_file(nb::handle module, nb::handle path);

// The filter path written in [default] `filters`: its pieces between ","
// stripped; an empty list when the option can't be read.
nb::object read_filter_path(nb::handle config);

// For a request field value of the form "output(NAME)", NAME; otherwise an
// invalid (null) object.
nb::object output_reference(nb::handle value);

}  // namespace harborsweep
