// The reader's view of one file, for the tests that hold the reader to
// configparser (the module's private _read_ini): the sections and options
// that read_file() leaves, every value as get() gives it, and the error
// that read_file() raises first.
#pragma once

#include <nanobind/nanobind.h>

namespace harborsweep::lint {

// `encoding` stands in for the locale's, as open(path, encoding=...) takes it.
nanobind::dict reader_view(nanobind::handle path, nanobind::handle encoding);

}  // namespace harborsweep::lint
