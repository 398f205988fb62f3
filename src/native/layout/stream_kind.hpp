// Which streams may be given a layout in large chunks. A stream's write() can
// fail part-way (a character its encoding lacks, a write() of a caller's own
// that raises); the text it has taken by then must be what pprint's many
// small writes would have given it, so only streams whose writes cannot fail
// depending on how the text is cut take chunks.
#pragma once

#include <nanobind/nanobind.h>

#include "layout/output_sink.hpp"

namespace nb = nanobind;

namespace harborsweep {

// The write() calls for `stream`: chunks for an exact io.StringIO, and for
// an exact io.TextIOWrapper over a plain file or io.BytesIO whose codec
// encodes the whole output (UTF-8 always; some others when `ascii_output`);
// pprint's own calls for any other stream.
WriteCalls write_calls_for(nb::handle stream, bool ascii_output);

}  // namespace harborsweep
