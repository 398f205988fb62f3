// Decoding with any other codec the locale may name, by the interpreter's
// own codecs.
#pragma once

#include <nanobind/nanobind.h>

#include <optional>
#include <string>

#include "lint/line_splitter.hpp"

namespace harborsweep::lint {

std::optional<DecodeFailure> decode_with_codec(const std::string &bytes, const Decoding &decoding,
                                               LineSink &lines);
// The lines that the decoded text of bytes[0, end) ends, a "\r" at its end
// not counted (it waits for the character after it).
size_t codec_lines_ended(const std::string &bytes, const Decoding &decoding, size_t end);

}  // namespace harborsweep::lint
