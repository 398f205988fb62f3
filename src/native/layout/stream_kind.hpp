// Which streams may be given a layout in large chunks. A stream's write() can
// fail part-way (a character its encoding lacks, a write() of a caller's own
// that raises) or run code that changes the result it is given; every other
// stream is left to pprint itself, so that it gets pprint's own calls and
// pprint's own reading of a result that changes under it.
#pragma once

#include <nanobind/nanobind.h>

#include <cstdint>

namespace nb = nanobind;

namespace harborsweep {

// What a stream takes in chunks: nothing, output all in ASCII, or any output.
enum class ChunkedOutput : std::uint8_t { none, ascii, any };

// An exact io.StringIO takes any; an exact io.TextIOWrapper over a plain file
// or io.BytesIO takes what its codec encodes whole (UTF-8 any; some others
// ASCII). None of them may have a method replaced on the instance.
ChunkedOutput chunked_output(nb::handle stream);

}  // namespace harborsweep
