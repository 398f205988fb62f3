// Decoding a check file's bytes as the run's open() does: with the encoding
// that open() takes from the locale, line ends translated as text mode
// translates them, the lines handed to a reader as they come.
#pragma once

#include <nanobind/nanobind.h>

#include <optional>
#include <string>

#include "lint/line_splitter.hpp"

namespace harborsweep::lint {

// The encoding and chunk size of a file that open() makes here and now, or
// that open(..., encoding=encoding) makes when `encoding` is not None.
Decoding decoding_of_open(nb::handle encoding = nb::none());

// Every line of the file goes to `lines`, each undecodable part read as
// U+FFFD; the first failure, if any, is returned.
std::optional<DecodeFailure> decode_file(const std::string &bytes, const Decoding &decoding,
                                         LineSink &lines);

}  // namespace harborsweep::lint
