// A check file as the run's open() reads it: its bytes decoded with the
// encoding open() takes from the locale, line ends translated as text mode
// does, cut into the lines that iterating the file gives.
#pragma once

#include <nanobind/nanobind.h>

#include <string>

#include "lint/decoded_text.hpp"

namespace harborsweep::lint {

// The encoding and chunk size of a file that open() makes here and now, or
// that open(..., encoding=encoding) makes when `encoding` is not None.
Decoding decoding_of_open(nb::handle encoding = nb::none());

SourceText decode_source(const std::string &bytes, const Decoding &decoding);

}  // namespace harborsweep::lint
