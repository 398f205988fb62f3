// Decoding UTF-8, ASCII and Latin-1 without the interpreter, failing where
// CPython's codecs fail.
#pragma once

#include <nanobind/nanobind.h>

#include <optional>
#include <string>

#include "lint/line_splitter.hpp"

namespace harborsweep::lint {

std::optional<DecodeFailure> decode_utf8(const std::string &bytes, LineSink &lines);
// How many continuation bytes follow a lead byte (0: it starts nothing).
size_t utf8_continuations(unsigned char lead);

std::optional<DecodeFailure> decode_single_byte(const std::string &bytes, bool ascii,
                                                LineSink &lines);

}  // namespace harborsweep::lint
