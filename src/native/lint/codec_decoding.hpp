// Decoding with any other codec the locale may name, by the interpreter's
// own codecs, fed chunk by chunk as the run's file object feeds them.
#pragma once

#include <nanobind/nanobind.h>

#include <string>

#include "lint/decoded_text.hpp"

namespace harborsweep::lint {

void decode_with_codec(const std::string &bytes, const Decoding &decoding, SourceText &out);

}  // namespace harborsweep::lint
