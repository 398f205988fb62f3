// Decoding UTF-8, ASCII and Latin-1 without the interpreter, failing where
// CPython's codecs fail and as late as its incremental decoder does.
#pragma once

#include <nanobind/nanobind.h>

#include <string>

#include "lint/decoded_text.hpp"

namespace harborsweep::lint {

void decode_utf8(const std::string &bytes, size_t chunk_size, SourceText &out);
void decode_single_byte(const std::string &bytes, bool ascii, size_t chunk_size, SourceText &out);

}  // namespace harborsweep::lint
