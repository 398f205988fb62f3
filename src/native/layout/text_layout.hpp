// Texts too long for their room: cut at line boundaries and then between
// words into several literals on consecutive lines, as the standard pretty
// printer cuts them.
#pragma once

#include <nanobind/nanobind.h>

#include <cstdint>

#include "layout/output_sink.hpp"

namespace nb = nanobind;

namespace harborsweep {

// Writes the exact str `text` starting at column `indent` with `allowance`
// characters still to follow on its last line. `whole_result` when the text
// is the entire value being laid out: its pieces are then enclosed in
// parentheses.
void write_text(OutputSink &sink, nb::handle text, std::int64_t indent, std::int64_t allowance,
                bool whole_result);

}  // namespace harborsweep
