// Buffered output of a layout: pieces gather in one UTF-8 buffer that goes
// out as a str through the target's write() whenever it reaches a chunk's
// size, so a large result costs a few dozen calls rather than one per token.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include <nanobind/nanobind.h>

#include "raw_allocator.hpp"

namespace nb = nanobind;

namespace harborsweep {

class OutputSink {
public:
    static constexpr std::size_t kChunkSize = 64 * 1024;

    // `write` is called with one str per chunk; its result is ignored.
    explicit OutputSink(nb::object write);

    void ascii(std::string_view piece) {
        buffer_.insert(buffer_.end(), piece.begin(), piece.end());
        if (buffer_.size() >= kChunkSize)
            flush();
    }
    void line_break(std::size_t indent);
    // A literal built by the interpreter (a str object).
    void literal(nb::handle text);
    // Writes whatever is still buffered.
    void finish() { flush(); }

private:
    void flush();

    std::vector<char, RawAllocator<char>> buffer_;
    nb::object write_;
};

}  // namespace harborsweep
